#!/usr/bin/env bash
# Runs the same qel command lines with the Linux program and with qel.exe
# under Wine, and fails unless both give the same exit status, the same
# standard output and error (the Windows '\' separators read as '/') and
# byte-identical output files: the PNGs they write and the files they refuse
# must not depend on the system.
#
#   scripts/compare-qel-builds.sh [ARCH]   (x86_64 unless given; i686 where the host runs it)
# The Linux build is build/, the Windows ones those of scripts/windows-builds.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/windows-builds.sh
arch=${1:-x86_64}
qel_win_can_run "$arch" || { echo "compare-qel-builds.sh: $QEL_WIN_SKIP_REASON" >&2; exit 2; }
linux=$(cd build && pwd)
windows=$(cd "$(qel_win_build_dir "$arch")" && pwd)
cmake --build "$linux" -j2 --target qel qel_make_demo >/dev/null
cmake --build "$windows" -j2 --target qel >/dev/null
qel_win_wine_env "$arch"
[ -f "$WINEPREFIX/system.reg" ] || "$WINELOADER" wineboot --init >/dev/null 2>&1 || true

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in"
"$linux/bin/qel_make_demo" "$work/in" >/dev/null
# PNGs to pack, a damaged one among them.
mkdir -p "$work/in/png"
"$linux/bin/qel" extract --png -o "$work/in/png" "$work/in" >/dev/null 2>&1 || true
cp "$work/in/png/star.png" "$work/in/png/torn.png"
truncate -s -40 "$work/in/png/torn.png"

commands=(
  "info in"
  "info in/star.qel in/missing.qel in/bg"
  "extract -o out in"
  "extract --png -o out in"
  "pack -o out in/png"
  "pack -o out in/bg/bg.bmp"
  "render -b in/bg/bg.bmp -o out/window.png in/star.qel"
  "render -o out/window.bmp in/heart.qel"
  "thumbnail -s 100 in/star8.qel out/thumb.png"
)
failed=0
for command in "${commands[@]}"; do
  for side in linux windows; do
    rm -rf "$work/$side" && mkdir -p "$work/$side/out" && cp -r "$work/in" "$work/$side/in"
    status=0
    if [ "$side" = linux ]; then
      (cd "$work/$side" && "$linux/bin/qel" $command >stdout 2>stderr) || status=$?
    else
      (cd "$work/$side" && "$WINELOADER" "$windows/bin/qel.exe" $command >stdout 2>stderr) || status=$?
      sed -i 's#\\#/#g' "$work/$side/stdout" "$work/$side/stderr"
    fi
    echo "$status" >"$work/$side/status"
  done
  if diff -r "$work/linux" "$work/windows" >"$work/diff"; then
    echo "same: qel $command (status $(cat "$work/linux/status"), $(wc -l <"$work/linux/stderr") error lines)"
  else
    echo "DIFFERENT: qel $command"
    cat "$work/diff"
    failed=1
  fi
done
exit $failed
