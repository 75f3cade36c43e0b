#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build, run and test everything.
# Does nothing when every package is already there.
set -euo pipefail

# The Linux guest's kernel and busybox packages: downloaded once into a cache, never installed.
"$(dirname "$0")/fetch-guest.sh"

packages=(cmake ninja-build g++ clang lld libclang-rt-14-dev googletest libgtest-dev
          nlohmann-json3-dev dmidecode qemu-system-x86 ovmf python3 valgrind
          uefitool-cli librsvg2-bin libbenchmark-dev
          nasm acpica-tools uuid-dev dpkg-dev)

missing=()
for package in "${packages[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
