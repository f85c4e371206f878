#!/usr/bin/env bash
# Counts the instructions `qel info` spends per file, against what zlib's own
# inflateInit + inflate + inflateEnd of the same sprite cost, with callgrind.
#
# Both are measured as a difference, so that start-up and shut-down drop out:
# qel info -j 1 over 101 copies of one packed sprite minus qel info over one
# copy, divided by 100; and a small C program that inflates the same file's
# bytes 101 times minus once, divided by 100 (one inflate call with Z_FINISH
# into a 2048-byte buffer, as the viewer does). Prints both and their ratio,
# one line per sprite: the benchmark's noisy 24x24 sprite, which packs
# poorly, and the demo's star, star16, star8 and heart, which pack well, so
# that zlib's share is smaller and qel's own per-file cost weighs more.
# Informational only: it prints, and fails only when it cannot measure.
#
# Usage: scripts/callgrind-info.sh [BUILD_DIR]     (default: build)
# Needs the targets qel, qel_make_sprites and qel_make_demo built in
# BUILD_DIR, valgrind, a C compiler and zlib's headers.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
qel=$build/bin/qel
generator=$build/bin/qel_make_sprites
demo=$build/bin/qel_make_demo
if [ ! -x "$qel" ] || [ ! -x "$generator" ] || [ ! -x "$demo" ]; then
  echo "callgrind-info: build first: cmake --build $build --target qel qel_make_sprites qel_make_demo" >&2
  exit 2
fi
command -v valgrind >/dev/null || { echo "callgrind-info: valgrind is needed" >&2; exit 2; }
cc=$(command -v cc || command -v gcc || command -v clang || true)
[ -n "$cc" ] || { echo "callgrind-info: a C compiler is needed" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/qel-callgrind.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/bmp" "$work/one" "$work/demo"
"$generator" "$work/bmp" 1
"$qel" pack -o "$work/one" "$work/bmp/s00000.bmp"
"$demo" "$work/demo" >/dev/null

cat > "$work/inflate.c" <<'C'
/* zlib's own cost of one sprite: inflateInit, one inflate with Z_FINISH
   into 2048 bytes, inflateEnd, COUNT times over the file's bytes. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

int main(int argc, char** argv) {
    static unsigned char in[1 << 16];
    unsigned char out[2048];
    FILE* f = fopen(argv[1], "rb");
    if (!f) return 1;
    size_t size = fread(in, 1, sizeof in, f);
    fclose(f);
    int count = atoi(argv[2]);
    unsigned long total = 0;
    for (int i = 0; i < count; ++i) {
        z_stream s;
        memset(&s, 0, sizeof s);
        s.next_in = in;
        s.avail_in = (uInt)size;
        s.next_out = out;
        s.avail_out = sizeof out;
        if (inflateInit(&s) != Z_OK) return 1;
        if (inflate(&s, Z_FINISH) != Z_STREAM_END) return 1;
        total += s.total_out;
        inflateEnd(&s);
    }
    printf("%lu\n", total);
    return 0;
}
C
"$cc" -O2 -o "$work/inflate" "$work/inflate.c" -lz

# Instructions executed by a command, from callgrind's totals.
instructions() {
  local out=$work/callgrind.out
  valgrind --tool=callgrind --callgrind-out-file="$out" "$@" >/dev/null 2>"$work/valgrind.log"
  awk '/^(summary|totals):/ {print $2; exit}' "$out"
}

# One line per sprite: its name, size, instructions per file and ratio.
measure() {
  local label=$1 sprite=$2 many=$work/many-$1
  mkdir "$many"
  for i in $(seq -w 0 100); do cp "$sprite" "$many/s$i.qel"; done
  local q1 q101 z1 z101 shape
  q1=$(instructions "$qel" info -j 1 "$sprite")
  q101=$(instructions "$qel" info -j 1 "$many"/*.qel)
  z1=$(instructions "$work/inflate" "$sprite" 1)
  z101=$(instructions "$work/inflate" "$sprite" 101)
  shape=$("$qel" info "$sprite" | sed 's/^.*: //; s/, \([0-9]*\) bytes$/ \1/')
  awk -v label="$label" -v shape="$shape" -v packed="$(stat -c %s "$sprite")" \
      -v q1="$q1" -v q101="$q101" -v z1="$z1" -v z101="$z101" 'BEGIN {
    q = (q101 - q1) / 100; z = (z101 - z1) / 100
    split(shape, s, " ")
    printf "%-8s %-16s %6d %9d %10.0f %10.0f %7.2f\n", label, s[1] " " s[2], packed, s[3], q, z, q / z
  }'
}

echo "instructions per file: qel info -j 1 against zlib's inflateInit + inflate + inflateEnd"
printf "%-8s %-16s %6s %9s %10s %10s %7s\n" sprite picture packed inflated "qel info" zlib ratio
measure noisy "$work/one/s00000.qel"
for name in star star16 star8 heart; do measure "$name" "$work/demo/$name.qel"; done
echo "target: every ratio at most 1.30"
