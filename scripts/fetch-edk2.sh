#!/usr/bin/env bash
# Fetches the EDK2 source that Debian built the installed OVMF from (its
# submodules and Debian's patches included), unpacks it with dpkg-source and
# builds its BaseTools, once per machine, into a cache that later runs reuse.
# The source comes through a private apt configuration that adds a deb-src
# entry for Debian's own archive: the system's apt sources stay as they are.
#
# Usage: scripts/fetch-edk2.sh [--where]
# Prints the workspace's path as its last line; with --where only prints the
# path it has or would have, fetching nothing (the build's tests take it from
# there). Exits 1 with a message naming what is missing when the source cannot
# be had (no ovmf package installed, no network and no cache, BaseTools
# failing to build).
set -euo pipefail

cache=${XDG_CACHE_HOME:-$HOME/.cache}/slotinv-edk2
fail() { echo "fetch-edk2.sh: $*" >&2; exit 1; }

version=$(dpkg-query -W -f='${source:Version}' ovmf 2>/dev/null) ||
  fail "the ovmf package is not installed; its version names the EDK2 source to fetch"
upstream=${version#*:}
upstream=${upstream%-*}
workspace=$cache/edk2-$version
if [ "${1:-}" = --where ]; then
  echo "$workspace"
  exit 0
fi
if [ -f "$workspace/.slotinv-ready" ]; then
  echo "$workspace"
  exit 0
fi

for tool in nasm iasl make gcc python3 dpkg-source; do
  command -v "$tool" >/dev/null || fail "$tool not found (scripts/install-deps.sh installs it)"
done
[ -f /usr/include/uuid/uuid.h ] || fail "uuid-dev not installed (scripts/install-deps.sh installs it)"

# deb-src twins of the machine's own Debian entries, in apt's deb822 form.
apt_dir=$cache/apt
rm -rf "$apt_dir"
mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/archives/partial"
for file in /etc/apt/sources.list.d/*.sources; do
  [ -f "$file" ] || continue
  grep -q 'debian' "$file" || continue
  sed 's/^Types:.*/Types: deb-src/' "$file" >"$apt_dir/sources.list.d/$(basename "$file")"
done
if [ -f /etc/apt/sources.list ]; then
  sed -n 's/^deb \(.*debian.*\)$/deb-src \1/p' /etc/apt/sources.list >"$apt_dir/sources.list.d/from-list.list"
fi
apt_options=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
             -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache::Archives=$apt_dir/archives"
             -o Debug::NoLocking=true)

download=$cache/download
mkdir -p "$download"
dsc=$download/edk2_${version#*:}.dsc
if [ ! -f "$dsc" ]; then
  echo "fetching the edk2 $version source (about 17 MB) into $download"
  apt-get "${apt_options[@]}" update -qq >"$cache/apt-update.log" 2>&1 ||
    fail "apt-get update with deb-src entries failed, see $cache/apt-update.log"
  (cd "$download" && apt-get "${apt_options[@]}" source --download-only -qq "edk2=$version") \
    >"$cache/apt-source.log" 2>&1 ||
    fail "apt-get source edk2=$version failed, see $cache/apt-source.log"
fi

# Unpacked beside the cache's final name and moved into place only when whole.
rm -rf "$workspace" "$workspace.partial"
dpkg-source --no-check --no-copy -x "$dsc" "$workspace.partial" >"$cache/dpkg-source.log" 2>&1 ||
  fail "dpkg-source could not unpack $dsc, see $cache/dpkg-source.log"
echo "building EDK2's BaseTools ($upstream)"
make -C "$workspace.partial/BaseTools" -j"$(nproc)" >"$cache/basetools.log" 2>&1 ||
  fail "BaseTools did not build, see $cache/basetools.log"
mv "$workspace.partial" "$workspace"
touch "$workspace/.slotinv-ready"
echo "$workspace"
