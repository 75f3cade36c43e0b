#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build, run and test
# everything, then fills the per-user caches: the Linux guest's packages and
# Debian's EDK2 sources (with their BaseTools built).
# Installs nothing when every package is already there.
set -euo pipefail
here=$(dirname "$0")

# The Linux guest's kernel and busybox packages: downloaded once into a cache, never installed.
"$here/fetch-guest.sh"

packages=(cmake ninja-build g++ clang lld llvm binutils gdb libclang-rt-14-dev googletest libgtest-dev
          nlohmann-json3-dev dmidecode qemu-system-x86 ovmf python3 valgrind
          uefitool-cli librsvg2-bin libbenchmark-dev
          nasm acpica-tools uuid-dev dpkg-dev)

missing=()
for package in "${packages[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  echo "installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# EDK2 from Debian's source, for OVMF built with the driver the way a platform
# adds it: Debian 12's release (the installed ovmf package names its version)
# and Debian 13's, for the firmware with strict image protection.
"$here/fetch-edk2.sh" --release 2022.11 >/dev/null
"$here/fetch-edk2.sh" --release 2025.02 >/dev/null
