#!/usr/bin/env bash
# Fetches one release of Debian's EDK2 source (its submodules and Debian's
# patches included), unpacks it and builds its BaseTools, once per machine,
# into a cache that later runs reuse. The source comes through a private apt
# configuration with deb-src entries for the release's Debian suites: the
# system's apt sources stay as they are.
#
# Usage: scripts/fetch-edk2.sh [--release 2022.11|2025.02] [--where]
#   2022.11  Debian 12's, the version the installed ovmf package was built
#            from (the default: it matches the prebuilt OVMF)
#   2025.02  Debian 13's
# Prints the workspace's path as its last line; with --where only prints the
# path it has or would have, fetching nothing (the build's tests take it from
# there). Exits 1 with a message naming the cause when the source cannot be
# had: a missing tool, a failed download, a tarball whose SHA-256 is not the
# one in the Sources index, a patch that does not apply, BaseTools failing.
set -euo pipefail

cache=${XDG_CACHE_HOME:-$HOME/.cache}/slotinv-edk2
fail() { echo "fetch-edk2.sh: $*" >&2; exit 1; }

# release -> Debian suite and source version ("ovmf": the installed ovmf's).
declare -A suite_of=([2022.11]=bookworm [2025.02]=trixie)
declare -A version_of=([2022.11]=ovmf [2025.02]=2025.02-8+deb13u1)

release=2022.11
where_only=false
while [ $# -gt 0 ]; do
  case $1 in
    --release)
      [ $# -ge 2 ] || fail "--release needs a value: ${!suite_of[*]}"
      release=$2
      shift 2;;
    --where) where_only=true; shift;;
    *) fail "unknown argument '$1'; usage: fetch-edk2.sh [--release ${!suite_of[*]// /|}] [--where]";;
  esac
done
[ -n "${suite_of[$release]+set}" ] || fail "unknown release '$release'; known: ${!suite_of[*]}"
suite=${suite_of[$release]}
version=${version_of[$release]}
if [ "$version" = ovmf ]; then
  version=$(dpkg-query -W -f='${source:Version}' ovmf 2>/dev/null) ||
    fail "the ovmf package is not installed; its version names the EDK2 $release source to fetch"
  [ "${version%%-*}" = "$release" ] ||
    fail "the installed ovmf is built from EDK2 $version, not $release"
fi
workspace=$cache/edk2-$version
if $where_only || [ -f "$workspace/.slotinv-ready" ]; then
  echo "$workspace"
  exit 0
fi

for tool in nasm iasl make gcc python3 apt-get apt-cache sha256sum tar xz patch flock; do
  command -v "$tool" >/dev/null || fail "$tool not found (scripts/install-deps.sh installs it)"
done
[ -f /usr/include/uuid/uuid.h ] || fail "uuid-dev not installed (scripts/install-deps.sh installs it)"

mkdir -p "$cache"
# One fetch of a release at a time; a second caller then finds it ready.
exec 9>"$cache/.fetch-$release.lock"
flock 9
if [ -f "$workspace/.slotinv-ready" ]; then
  echo "$workspace"
  exit 0
fi
logs=$cache/log-$release
mkdir -p "$logs"

# deb-src twins of the machine's own Debian entries, their suites renamed to
# the release's (bookworm-security becomes trixie-security), in apt's own forms.
machine_suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
[ -n "$machine_suite" ] || fail "/etc/os-release names no VERSION_CODENAME to derive the $suite entries from"
apt_dir=$cache/apt/$suite
rm -rf "$apt_dir"
mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/archives/partial"
rename_suite="s/\\b$machine_suite\\b/$suite/g"
for file in /etc/apt/sources.list.d/*.sources; do
  [ -f "$file" ] || continue
  grep -q 'debian' "$file" || continue
  sed -e 's/^Types:.*/Types: deb-src/' -e "/^Suites:/$rename_suite" "$file" \
    >"$apt_dir/sources.list.d/$(basename "$file")"
done
if [ -f /etc/apt/sources.list ]; then
  sed -n "s/^deb \\(.*debian.*\\)$/deb-src \\1/p" /etc/apt/sources.list | sed "$rename_suite" \
    >"$apt_dir/sources.list.d/from-list.list"
fi
apt_options=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
             -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache::Archives=$apt_dir/archives"
             -o Debug::NoLocking=true)

echo "fetching the edk2 $version source into $cache/download"
apt-get "${apt_options[@]}" update -qq >"$logs/apt-update.log" 2>&1 ||
  fail "apt-get update with deb-src entries for $suite failed, see $logs/apt-update.log"
# SHA-256, size and name of each file of the source package, from the Sources index just fetched.
checksums=$(apt-cache "${apt_options[@]}" showsrc edk2 2>/dev/null |
  awk -v want="$version" '
    /^Version:/ { take = ($2 == want) }
    /^[^ ]/ { listing = take && /^Checksums-Sha256:/; next }
    listing && NF == 3 { print $1, $2, $3 }' | sort -u) || true
[ -n "$checksums" ] || fail "the $suite Sources index lists no edk2 $version (see $logs/apt-update.log)"
tarballs=$(awk '$3 ~ /\.tar\./ { print $3 }' <<<"$checksums")

download=$cache/download
mkdir -p "$download"
missing=false
for name in $tarballs; do [ -f "$download/$name" ] || missing=true; done
if $missing; then
  # The .dsc may not be served; the tarballs are what is unpacked, so only their absence fails.
  (cd "$download" && apt-get "${apt_options[@]}" source --download-only -qq "edk2=$version") \
    >"$logs/apt-source.log" 2>&1 || true
  for name in $tarballs; do
    [ -f "$download/$name" ] || fail "downloading $name failed, see $logs/apt-source.log"
  done
fi
while read -r sha256 size name; do
  case $name in *.tar.*) ;; *) continue;; esac
  actual=$(sha256sum "$download/$name" | cut -d' ' -f1)
  if [ "$actual" != "$sha256" ]; then
    rm -f "$download/$name"  # a later run fetches it anew
    fail "$name has SHA-256 $actual, the $suite Sources index says $sha256 ($size bytes); removed it"
  fi
done <<<"$checksums"

# Unpacked as dpkg-source would (the upstream tree, debian/ in it, the patch
# series applied in order), beside the cache's final name, moved into place only when whole.
orig=$(grep '\.orig\.tar\.' <<<"$tarballs") || fail "edk2 $version has no .orig tarball"
debian=$(grep '\.debian\.tar\.' <<<"$tarballs") || fail "edk2 $version has no .debian tarball"
others=$(grep -v -e '\.orig\.tar\.' -e '\.debian\.tar\.' <<<"$tarballs") || true
[ -z "$others" ] || fail "edk2 $version has tarballs this script does not unpack: $others"
partial=$workspace.partial
rm -rf "$workspace" "$partial"
trap 'rm -rf "$partial"' EXIT
mkdir -p "$partial"
tar -xf "$download/$orig" -C "$partial" --strip-components=1 ||
  fail "could not unpack $download/$orig"
tar -xf "$download/$debian" -C "$partial" || fail "could not unpack $download/$debian"
: >"$logs/patches.log"
while read -r patch options || [ -n "$patch" ]; do
  case $patch in ''|'#'*) continue;; esac
  strip=-p1
  case $options in *-p[0-9]*) strip=$(grep -o -- '-p[0-9]*' <<<"$options");; esac
  echo "== $patch" >>"$logs/patches.log"
  patch "$strip" --batch --forward --fuzz=0 --no-backup-if-mismatch -d "$partial" \
    -i "$partial/debian/patches/$patch" >>"$logs/patches.log" 2>&1 ||
    fail "Debian's patch $patch does not apply to edk2 $version, see $logs/patches.log"
done <"$partial/debian/patches/series"

echo "building EDK2's BaseTools ($release)"
make -C "$partial/BaseTools" -j"$(nproc)" >"$logs/basetools.log" 2>&1 ||
  fail "BaseTools did not build, see $logs/basetools.log"
mv "$partial" "$workspace"
touch "$workspace/.slotinv-ready"
echo "$workspace"
