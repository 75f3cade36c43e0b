#!/usr/bin/env bash
# Runs a fuzz target over its seed corpus without writing into it: new inputs
# go to a scratch corpus that is thrown away, crash inputs next to the binary.
# The driver's leaks show in the simulated pool's accounting, which every target
# checks after each input; libFuzzer's own leak scan, which the simulator's
# long-lived bookkeeping would set off on every input, is turned off.
# Usage: run_fuzzer.sh FUZZER SEED_CORPUS[:MORE_SEEDS...] [libFuzzer options...]
set -euo pipefail
fuzzer=$1
IFS=: read -ra seeds <<<"$2"
shift 2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
artifacts="$(dirname "$fuzzer")/artifacts/$(basename "$fuzzer")-"
mkdir -p "$(dirname "$artifacts")"
"$fuzzer" -artifact_prefix="$artifacts" -print_final_stats=1 -detect_leaks=0 "$@" "$scratch" "${seeds[@]}"
