#!/usr/bin/env bash
# Every test: the host build (g++, with the UEFI images and the QEMU/OVMF runs)
# and a second host build under AddressSanitizer and UndefinedBehaviorSanitizer (clang).
# A skipped test (no QEMU, OVMF, Linux guest, ...) fails the run unless ALLOW_SKIP=1.
# Prints how long each phase took, and the slowest tests, at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
# Python run by the tests leaves no bytecode caches in the source tree.
export PYTHONDONTWRITEBYTECODE=1
started=$SECONDS
phases=()
# phase NAME COMMAND...: runs the command and notes how long it took.
phase() {
  local name=$1 begin=$SECONDS
  shift
  "$@"
  phases+=("$(printf '%-44s %5d s' "$name" $((SECONDS - begin)))")
}

phase "set-up (packages, Linux guest, EDK2 fetches)" scripts/install-deps.sh
# Release (-O3) with g++: the optimised build a user makes, warnings as errors.
phase "build: g++ Release tree" scripts/build.sh build -DCMAKE_BUILD_TYPE=Release
# OVMF built from EDK2's source with the driver (builds of a few minutes each
# when the cache lacks them) is made while the sanitizer tree builds and runs;
# the EDK2 tests use it, or report what kept it from building.
firmware_begin=$SECONDS
python3 tests/e2e/edk2_ovmf.py build >build/edk2-firmware.log 2>&1 &
firmware=$!
phase "build: clang sanitizer tree" scripts/build.sh build-san -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DSANITIZE=ON -DBUILD_EFI=OFF -DBUILD_FUZZERS=ON

status=0
results=()
run_tests() {
  local tree=$1
  # Each tree's results as JUnit, which names the skipped tests and holds their output.
  rm -f "$tree/ctest-results.xml"
  (cd "$tree" && ctest --output-on-failure -j2 --output-junit "$PWD/ctest-results.xml") || status=1
  results+=("$tree/ctest-results.xml")
}
phase "tests: sanitizer tree" run_tests build-san
wait "$firmware" || true
phases+=("$(printf '%-44s %5d s' "EDK2 firmware builds, from their start" $((SECONDS - firmware_begin)))")
phase "tests: Release tree (QEMU, EDK2, Linux)" run_tests build
python3 scripts/skipped_runs.py "${results[@]}" || status=1

echo
echo "Time taken:"
printf '  %s\n' "${phases[@]}"
grep -h "built in\|cached" build/edk2-firmware.log 2>/dev/null | sed 's/^/    /' || true
python3 scripts/slowest_tests.py "${results[@]}" || true
printf '  %-44s %5d s\n' "in all" $((SECONDS - started))
exit $status
