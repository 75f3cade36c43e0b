#!/usr/bin/env bash
# Sets up the machine, builds everything, and runs the driver on the default
# board in the simulator, printing its records as dmidecode decodes them.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build
build/tools/boardsim boards/default.json --dmidecode
