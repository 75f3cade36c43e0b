#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build, run and test
# everything, then fills the per-user caches: the Linux guest's packages and
# the EDK2 source behind the installed OVMF (with its BaseTools built).
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
# adds it; needs the ovmf package above to know which source to fetch.
"$here/fetch-edk2.sh" >/dev/null
