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
# OVMF built from EDK2's source with the driver (three builds of about five
# minutes each when the cache lacks them) is made while the sanitizer tree
# builds and runs; the EDK2 tests use it, or report what kept it from building.
python3 tests/e2e/edk2_ovmf.py build >build/edk2-firmware.log 2>&1 &
firmware=$!
scripts/build.sh build-san -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DSANITIZE=ON -DBUILD_EFI=OFF -DBUILD_FUZZERS=ON

status=0
results=()
for tree in build-san build; do
  [ "$tree" = build ] && { wait "$firmware" || true; }
  # Each tree's results as JUnit, which names the skipped tests and holds their output.
  rm -f "$tree/ctest-results.xml"
  (cd "$tree" && ctest --output-on-failure -j2 --output-junit "$PWD/ctest-results.xml") || status=1
  results+=("$tree/ctest-results.xml")
done
python3 scripts/skipped_runs.py "${results[@]}" || status=1
exit $status
