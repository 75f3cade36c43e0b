#!/usr/bin/env bash
# Fetches the Linux guest's two Debian packages (the stock kernel with its EFI
# stub, and a static busybox) with apt-get download, once per machine, into a
# cache that later runs reuse; then unpacks what the guest needs into the
# build tree with dpkg-deb. Nothing is installed on the host.
#
# Usage: scripts/fetch-guest.sh [BUILD_DIR]
# Without BUILD_DIR only fills the cache (the setup step). With it, leaves
# BUILD_DIR/guest/vmlinuz and BUILD_DIR/guest/busybox. Exits 0 with a SKIP
# line when the packages cannot be had (no network and no cache), so the
# linux/ boots skip rather than fail on such a machine.
set -euo pipefail

build=${1:-}
cache=${XDG_CACHE_HOME:-$HOME/.cache}/slotinv-guest
mkdir -p "$cache"

cached() { compgen -G "$cache/$1" | sort -V | tail -n 1; }

kernel_deb=$(cached 'linux-image-*-amd64_*.deb' || true)
busybox_deb=$(cached 'busybox-static_*.deb' || true)
if [ -z "$kernel_deb" ] || [ -z "$busybox_deb" ]; then
  # The metapackage names the current kernel; its own .deb carries no image.
  kernel_package() {
    apt-cache depends linux-image-amd64 2>/dev/null |
      awk '/Depends: linux-image-[0-9].*-amd64$/ {print $2; exit}'
  }
  kernel_package=$(kernel_package)
  if [ -z "$kernel_package" ]; then
    # A fresh machine may not have read its package lists yet.
    sudo=""
    if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
    $sudo apt-get update -qq || true
    kernel_package=$(kernel_package)
  fi
  if [ -z "$kernel_package" ]; then
    echo "SKIP: linux-image-amd64 not known to apt here (run apt-get update?)"
    exit 0
  fi
  if ! (cd "$cache" && apt-get download -q "$kernel_package" busybox-static >/dev/null 2>"$cache/download.log"); then
    echo "SKIP: apt-get download failed, see $cache/download.log"
    exit 0
  fi
  kernel_deb=$(cached 'linux-image-*-amd64_*.deb')
  busybox_deb=$(cached 'busybox-static_*.deb')
fi

if [ -z "$build" ]; then
  exit 0
fi
guest=$build/guest
mkdir -p "$guest"

# Unpack only when the build tree's copy is older than the cached package.
if [ ! -s "$guest/vmlinuz" ] || [ "$kernel_deb" -nt "$guest/vmlinuz" ]; then
  rm -rf "$guest/kernel"
  mkdir -p "$guest/kernel"
  # The image alone: the guest loads no modules, and the package's modules
  # would add some 400 MB to the build tree.
  dpkg-deb --fsys-tarfile "$kernel_deb" | tar -x -C "$guest/kernel" --wildcards './boot/vmlinuz-*'
  cp "$(compgen -G "$guest/kernel/boot/vmlinuz-*" | head -n 1)" "$guest/vmlinuz.new"
  mv "$guest/vmlinuz.new" "$guest/vmlinuz"
  rm -rf "$guest/kernel"
fi
if [ ! -s "$guest/busybox" ] || [ "$busybox_deb" -nt "$guest/busybox" ]; then
  rm -rf "$guest/busybox-root"
  dpkg-deb -x "$busybox_deb" "$guest/busybox-root"
  cp "$guest/busybox-root/bin/busybox" "$guest/busybox.new"
  mv "$guest/busybox.new" "$guest/busybox"
  rm -rf "$guest/busybox-root"
fi
echo "guest: $(basename "$kernel_deb"), $(basename "$busybox_deb")"
