#!/usr/bin/env bash
# Fetches and unpacks the Debian source package PACKAGE into DESTDIR, once,
# and prints the unpacked source directory.
#
#   scripts/debian-source.sh PACKAGE DESTDIR
#
# Used where a library must be built for a target Debian ships no binaries
# for (WebAssembly, Windows), so that every build uses the same release of it
# as the Linux build. The deb-src entries are derived from the machine's own
# apt sources and kept, with apt's lists, under DESTDIR/apt: the system's apt
# setup is never changed.
set -euo pipefail
package=${1:?usage: debian-source.sh PACKAGE DESTDIR}
dest=${2:?usage: debian-source.sh PACKAGE DESTDIR}
mkdir -p "$dest"
dest=$(cd "$dest" && pwd)

found=$(find "$dest" -mindepth 1 -maxdepth 1 -type d -name "${package}-*" -print -quit)
if [ -n "$found" ] && [ -f "$found/.qel-unpacked" ]; then
  echo "$found"
  exit 0
fi

aptdir="$dest/apt"
mkdir -p "$aptdir/sources.list.d" "$aptdir/lists/partial"
# Every binary entry of the machine, as a source entry. The security
# archive is left out: it does not always carry the sources of its updates,
# and the upstream tarball is the same release either way.
: >"$aptdir/sources.list.d/qel-src.sources"
for f in /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] || continue
  awk 'BEGIN { RS = ""; ORS = "\n\n" }
       /(^|\n)Types:[^\n]*deb/ && !/security/ {
         sub(/(^|\n)Types:[^\n]*/, "\nTypes: deb-src"); print }' "$f" \
    >>"$aptdir/sources.list.d/qel-src.sources"
done
: >"$aptdir/sources.list"
if [ -f /etc/apt/sources.list ]; then
  sed -n -e '/security/d' -e 's/^deb \(.*\)$/deb-src \1/p' /etc/apt/sources.list >"$aptdir/sources.list"
fi

apt_opts=(-o "Dir::Etc::sourcelist=$aptdir/sources.list"
  -o "Dir::Etc::sourceparts=$aptdir/sources.list.d"
  -o "Dir::State::Lists=$aptdir/lists"
  -o "Debug::NoLocking=1")
apt-get "${apt_opts[@]}" -qq update >&2
(cd "$dest" && apt-get "${apt_opts[@]}" -qq source --download-only "$package" >&2)

# Unpack the upstream tarball and the Debian changes by hand: dpkg-source is
# not on every machine, and the patches are not needed to build the library.
orig=$(find "$dest" -maxdepth 1 -name "${package}_*.orig.tar.*" -print -quit)
[ -n "$orig" ] || { echo "debian-source.sh: no source tarball for $package" >&2; exit 1; }
version=$(basename "$orig" | sed -e "s/^${package}_//" -e 's/\.orig\.tar\..*$//')
src="$dest/${package}-${version}"
rm -rf "$src" && mkdir -p "$src"
tar -xf "$orig" -C "$src" --strip-components=1
touch "$src/.qel-unpacked"
echo "$src"
