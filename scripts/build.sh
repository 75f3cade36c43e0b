#!/usr/bin/env bash
# Configures and builds one tree, warnings as errors. Usage: build.sh DIR [cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1
shift
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWARNINGS_AS_ERRORS=ON "$@" >/dev/null
ninja -C "$dir" -j"$(nproc)"
