#!/usr/bin/env bash
# Times `qel extract` over a folder of packed 24x24 sprites (10,000 by
# default) against a plain Python script doing the same work (zlib.decompress
# and write, standard library only) and against `cp` of the same files into
# an empty directory, the I/O floor. One untimed warm-up round, then RUNS
# rounds in which the order of the contestants rotates; prints each median and
# the ratios qel/cp and python/qel. `qel extract -j 1` is timed as well, to
# show what the second core brings.
#
# Usage: scripts/bench-extract.sh [BUILD_DIR]     (default: build)
#        COUNT=10000 RUNS=5 TMPDIR=/somewhere scripts/bench-extract.sh
# Needs the targets qel and qel_make_sprites built in BUILD_DIR, and python3.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
count=${COUNT:-10000}
runs=${RUNS:-5}
qel=$build/bin/qel
generator=$build/bin/qel_make_sprites
if [ ! -x "$qel" ] || [ ! -x "$generator" ]; then
  echo "bench-extract: build first: cmake --build $build --target qel qel_make_sprites" >&2
  exit 2
fi
command -v python3 >/dev/null || { echo "bench-extract: python3 is needed" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/qel-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/bmp" "$work/packed"

echo "Generating $count packed sprites in $work ..."
"$generator" "$work/bmp" "$count"
"$qel" pack -o "$work/packed" "$work/bmp"

cat > "$work/extract.py" <<'PY'
# The reference: what qel extract does, in plain Python.
import os
import sys
import zlib

src, dst = sys.argv[1], sys.argv[2]
for name in sorted(os.listdir(src)):
    base, dot, ext = name.rpartition(".")
    if not dot or not ("." + ext).startswith(".qel"):
        continue
    with open(os.path.join(src, name), "rb") as f:
        payload = zlib.decompress(f.read())
    with open(os.path.join(dst, base + ".bmp"), "wb") as f:
        f.write(payload)
PY

files=("$work"/packed/*.qel)
out=

run_qel() { "$qel" extract -o "$out" "$work/packed"; }
run_qel1() { "$qel" extract -j 1 -o "$out" "$work/packed"; }
run_python() { python3 "$work/extract.py" "$work/packed" "$out"; }
run_cp() { cp -- "${files[@]}" "$out/"; }

# Sets elapsed to the microseconds of one run into a fresh, empty output
# directory; earlier writes are flushed first so that they are not charged to
# this run. Nothing is deleted until the end: ext4 looks past recently
# deleted inodes when it makes new ones, which would charge one run for the
# clean-up of the one before.
runs_made=0
measure() {
  runs_made=$((runs_made + 1))
  out=$work/out$runs_made
  mkdir "$out"
  sync
  local start end
  start=$(date +%s%N)
  "$1" >/dev/null
  end=$(date +%s%N)
  local made
  made=$(find "$out" -type f | wc -l)
  if [ "$made" -ne "$count" ]; then
    echo "bench-extract: $1 wrote $made files, not $count" >&2
    exit 1
  fi
  elapsed=$(((end - start) / 1000))
}

names=(qel qel1 python cp)
declare -A times
for name in "${names[@]}"; do measure "run_$name"; done  # warm-up
for ((r = 0; r < runs; r++)); do
  for ((k = 0; k < ${#names[@]}; k++)); do
    name=${names[$(((r + k) % ${#names[@]}))]}
    measure "run_$name"
    times[$name]+="$elapsed "
  done
done

median() { tr ' ' '\n' <<<"$1" | grep . | sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
declare -A med
echo
echo "$count files, $runs runs each, $(nproc) cores, $(df -T "$work" | awk 'NR == 2 {print $2}') file system"
printf '%-24s %10s   %s\n' "" "median ms" "runs (ms)"
for name in "${names[@]}"; do
  med[$name]=$(median "${times[$name]}")
  label=$name
  case $name in
    qel) label="qel extract" ;;
    qel1) label="qel extract -j 1" ;;
    python) label="python3 zlib script" ;;
    cp) label="cp (I/O floor)" ;;
  esac
  printf '%-24s %10.1f   %s\n' "$label" "$(awk -v t="${med[$name]}" 'BEGIN {print t / 1000}')" \
    "$(for t in ${times[$name]}; do awk -v t="$t" 'BEGIN {printf "%.0f ", t / 1000}'; done)"
done
awk -v q="${med[qel]}" -v q1="${med[qel1]}" -v p="${med[python]}" -v c="${med[cp]}" 'BEGIN {
  printf "\nqel/cp      %.2f   (target: at most 1.00)\n", q / c
  printf "python/qel  %.2f   (target: at least 2.50)\n", p / q
  printf "qel -j 1/cp %.2f\n", q1 / c
}'
