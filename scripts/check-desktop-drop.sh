#!/usr/bin/env bash
# An end-to-end check, not a unit test (./test.sh runs it last): a file dragged
# from another X client onto the viewer's window shows at once, with its
# base name as the title.
#
# The unit tests hand the window a made-up drop message or event; here the
# drop comes through a real X server from a separate drag source
# (qel_xdnd_drop, tests/desktop), by the drag-and-drop protocol desktops
# use. Both front ends are checked, each in the same way:
#   - the Linux viewer (build/bin/qelviewer) on Qt's xcb platform;
#   - each Windows build this host can run, under its own Wine, which turns
#     the X drop into WM_DROPFILES: build-win64/bin/QelViewer.exe (x86-64)
#     always, build-win32/bin/QelViewer.exe (i686) where the host runs 32-bit
#     programs (QEL_WINE32, see scripts/windows-builds.sh); one skipped is
#     named, with the reason.
# For each one the demo star, the demo heart and a copy of the star with a
# space and an accented letter in its name are dropped on the window in turn;
# each time the title must become the file's base name and the window must
# show the demo backdrop with exactly that sprite on it, every pixel of the
# canvas compared. Before the first drop it must show the backdrop alone.
#
# Needs Xvfb (xvfb-run): the check runs on a virtual display of its own,
# never on the desktop in use. Also xdotool, Wine, the X library headers and
# the mingw-w64 cross compiler (scripts/deps.sh installs them all with
# `qel_install_deps all`). Builds what it needs in build/, build-win32/ and
# build-win64/, configuring them if they are not; QEL_BUILD_DIR,
# QEL_WIN32_BUILD_DIR and QEL_WIN64_BUILD_DIR choose other build folders.
# Each Windows build runs in the Wine prefix in its folder. Exits non-zero
# when a check fails.
set -euo pipefail
self="$(cd "$(dirname "$0")" && pwd)/$(basename "$0")"
cd "$(dirname "$0")/.."
source scripts/windows-builds.sh

build=${QEL_BUILD_DIR:-build}

if [ "${1:-}" != --on-display ]; then
  [ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja
  cmake --build "$build" -j "$(nproc)" --target qelviewer qel_make_demo qel_xdnd_drop
  for arch in "${QEL_WIN_ARCHES[@]}"; do
    [ -f "$(qel_win_build_dir "$arch")/CMakeCache.txt" ] || qel_win_configure "$arch"
    cmake --build "$(qel_win_build_dir "$arch")" -j "$(nproc)" --target QelViewer
    # A Wine server left from an earlier run keeps the display it started with.
    (qel_win_wine_env "$arch" && wineserver -k 2>/dev/null) || true
  done
  exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$self" --on-display
fi

# From here on: inside Xvfb. WINEPREFIX is set for each Windows build in
# turn; none from outside is used, or stopped at the end.
unset WINEPREFIX
# Names with accents are UTF-8 on the desktop, and each program reads them
# as such only in a UTF-8 locale.
export LC_ALL=C.UTF-8
bin=$(cd "$build/bin" && pwd)
work=$(mktemp -d)
viewer_pid=
cleanup() {
  [ -n "$viewer_pid" ] && kill "$viewer_pid" 2>/dev/null || true
  # The Wine server of the Windows build checked last, if any.
  [ -z "${WINEPREFIX:-}" ] || wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$bin/qel_make_demo" "$work" >/dev/null
cp "$work/star.qel" "$work/étoile filante.qel"

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# Runs a command every tenth of a second until it succeeds, for at most $1
# tenths; prints what its last run printed.
within() {
  local tenths=$1 out i
  shift
  for ((i = 1; i <= tenths; i++)); do
    if out=$("$@" 2>&1); then
      [ -z "$out" ] || echo "$out"
      return 0
    fi
    sleep 0.1
  done
  [ -z "$out" ] || echo "$out" >&2
  return 1
}

title_is() { [ "$(xdotool getwindowname "$1")" = "$2" ]; }

# check_front_end LABEL COMMAND...: starts the viewer in the demo folder (so
# it finds its backdrop), drops the files on it and stops it.
check_front_end() {
  local label=$1
  shift
  echo "== $label"
  (cd "$work" && exec "$@") >"$work/$label.log" 2>&1 &
  viewer_pid=$!
  local window
  window=$(timeout 60 xdotool search --sync --onlyvisible --name '^QelViewer$' | head -n 1) || true
  if [ -z "$window" ]; then
    fail "$label: no viewer window appeared"
    cat "$work/$label.log" >&2
    return
  fi
  local X Y WIDTH HEIGHT SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$window")"
  # The lower half of the window is canvas on both front ends.
  local x=$((X + WIDTH / 2)) y=$((Y + HEIGHT * 2 / 3))
  echo "window $window at $X,$Y, ${WIDTH}x$HEIGHT; dropping at $x,$y"
  within 50 "$bin/qel_xdnd_drop" canvas "$window" none || fail "$label: the backdrop alone is not shown at start"

  local file title sprite target
  for drop in "star.qel:star:star" "heart.qel:heart:heart" "étoile filante.qel:étoile filante:star"; do
    IFS=: read -r file title sprite <<<"$drop"
    if ! target=$("$bin/qel_xdnd_drop" drop "$work/$file" "$x" "$y"); then
      fail "$label: drop of $file not taken"
      continue
    fi
    [ "$target" = "$(printf '0x%x' "$window")" ] || fail "$label: dropped on $target, not on the viewer"
    if within 20 title_is "$window" "$title"; then
      echo "$file: title \"$title\""
    else
      fail "$label: after dropping $file the title is \"$(xdotool getwindowname "$window")\", not \"$title\""
    fi
    within 20 "$bin/qel_xdnd_drop" canvas "$window" "$sprite" || fail "$label: $file dropped but not shown"
  done

  kill "$viewer_pid" 2>/dev/null || true
  wait "$viewer_pid" 2>/dev/null || true
  viewer_pid=
}

checked=(qt)
skipped=()
check_front_end qt env QT_QPA_PLATFORM=xcb "$bin/qelviewer"
for arch in "${QEL_WIN_ARCHES[@]}"; do
  if ! qel_win_can_run "$arch"; then
    echo "== wine-$arch skipped: $QEL_WIN_SKIP_REASON"
    skipped+=("wine-$arch")
    continue
  fi
  qel_win_wine_env "$arch"
  qel_win_prepare_prefix
  check_front_end "wine-$arch" "$WINELOADER" "$(cd "$(qel_win_build_dir "$arch")/bin" && pwd)/QelViewer.exe"
  wineserver -k 2>/dev/null || true
  checked+=("wine-$arch")
done

if [ "$failures" -ne 0 ]; then
  echo "check-desktop-drop: $failures check(s) failed" >&2
  exit 1
fi
joined() { local IFS=,; echo "$*" | sed "s/,/, /g"; }
echo "check-desktop-drop: a desktop drop is taken on $(joined "${checked[@]}")${skipped:+; skipped: $(joined "${skipped[@]}")}"
