#!/usr/bin/env bash
# The simulator's benchmark: whole-driver runs on the default board (plain and
# with the full trace kept) and the SMBIOS model at 100 and 1,000 records,
# each with its rate per second. Builds the plain optimised tree first.
#
# Usage: scripts/bench.sh [BUILD_DIR] [benchmark options...]
#   BUILD_DIR   the plain (unsanitized) tree (default: build)
# e.g. scripts/bench.sh build --benchmark_filter=WholeDriver --benchmark_repetitions=5
set -euo pipefail
cd "$(dirname "$0")/.."

dir=${1:-build}
shift || true
if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
if grep -q '^SANITIZE:BOOL=ON' "$dir/CMakeCache.txt"; then
  echo "bench.sh: $dir is a sanitizer tree; give a plain one" >&2
  exit 2
fi
ninja -C "$dir" simulator_bench
"$dir/bench/simulator_bench" --benchmark_counters_tabular=true "$@"
