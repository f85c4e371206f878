#!/usr/bin/env bash
# Counts the instructions `qel info` spends per file, against what zlib's own
# inflateInit + inflate + inflateEnd of the same sprite cost, with callgrind.
#
# Both are measured as a difference, so that start-up and shut-down drop out:
# qel info -j 1 over 101 copies of one packed 24x24 sprite minus qel info
# over one copy, divided by 100; and a small C program that inflates the same
# file's bytes 101 times minus once, divided by 100 (one inflate call with
# Z_FINISH into a 2048-byte buffer, as the viewer does). Prints both and
# their ratio.
#
# Usage: scripts/callgrind-info.sh [BUILD_DIR]     (default: build)
# Needs the targets qel and qel_make_sprites built in BUILD_DIR, valgrind, a
# C compiler and zlib's headers.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
qel=$build/bin/qel
generator=$build/bin/qel_make_sprites
if [ ! -x "$qel" ] || [ ! -x "$generator" ]; then
  echo "callgrind-info: build first: cmake --build $build --target qel qel_make_sprites" >&2
  exit 2
fi
command -v valgrind >/dev/null || { echo "callgrind-info: valgrind is needed" >&2; exit 2; }
cc=$(command -v cc || command -v gcc || command -v clang || true)
[ -n "$cc" ] || { echo "callgrind-info: a C compiler is needed" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/qel-callgrind.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/bmp" "$work/one" "$work/many"
"$generator" "$work/bmp" 1
"$qel" pack -o "$work/one" "$work/bmp/s00000.bmp"
sprite=$work/one/s00000.qel
for i in $(seq -w 0 100); do cp "$sprite" "$work/many/s$i.qel"; done

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

qelOne=$(instructions "$qel" info -j 1 "$sprite")
qelMany=$(instructions "$qel" info -j 1 "$work"/many/*.qel)
zlibOne=$(instructions "$work/inflate" "$sprite" 1)
zlibMany=$(instructions "$work/inflate" "$sprite" 101)

echo "one packed 24x24 sprite: $(stat -c %s "$sprite") bytes, inflated $("$qel" info "$sprite" | sed 's/.*, //')"
awk -v q1="$qelOne" -v q101="$qelMany" -v z1="$zlibOne" -v z101="$zlibMany" 'BEGIN {
  q = (q101 - q1) / 100; z = (z101 - z1) / 100
  printf "qel info, per file        %9.0f instructions   (1 file: %d, 101 files: %d)\n", q, q1, q101
  printf "zlib init+inflate+end     %9.0f instructions   (1 time: %d, 101 times: %d)\n", z, z1, z101
  printf "ratio                     %9.2f   (target: at most 1.30)\n", q / z
}'
