#!/bin/sh
# Runs the QEMU/OVMF end-to-end scenarios against a build directory.
# usage: tests/e2e/run_qemu.sh BUILD_DIR [--scenario NAME] [--verbose]
exec python3 "$(dirname "$0")/run_qemu.py" "$@"
