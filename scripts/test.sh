#!/usr/bin/env bash
# Every test: the host build (g++, with the UEFI images and the QEMU/OVMF runs)
# and a second host build under AddressSanitizer and UndefinedBehaviorSanitizer (clang).
# A skipped test (no QEMU, OVMF, Linux guest, ...) fails the run unless ALLOW_SKIP=1.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# Python run by the tests leaves no bytecode caches in the source tree.
export PYTHONDONTWRITEBYTECODE=1

# Release (-O3) with g++: the optimised build a user makes, warnings as errors.
scripts/build.sh build -DCMAKE_BUILD_TYPE=Release
scripts/build.sh build-san -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DSANITIZE=ON -DBUILD_EFI=OFF -DBUILD_FUZZERS=ON

status=0
results=()
for tree in build-san build; do
  # Each tree's results as JUnit, which names the skipped tests and holds their output.
  rm -f "$tree/ctest-results.xml"
  (cd "$tree" && ctest --output-on-failure -j2 --output-junit "$PWD/ctest-results.xml") || status=1
  results+=("$tree/ctest-results.xml")
done
python3 scripts/skipped_runs.py "${results[@]}" || status=1
exit $status
