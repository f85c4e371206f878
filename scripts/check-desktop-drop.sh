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
#   - the Windows program (build-win32/bin/QelViewer.exe) under Wine, which
#     turns the X drop into WM_DROPFILES.
# For each one the demo star, the demo heart and a copy of the star with a
# space and an accented letter in its name are dropped on the window in turn;
# each time the title must become the file's base name and the window must
# show the demo backdrop with exactly that sprite on it, every pixel of the
# canvas compared. Before the first drop it must show the backdrop alone.
#
# Needs Xvfb (xvfb-run): the check runs on a virtual display of its own,
# never on the desktop in use. Also xdotool, Wine, the X library headers and
# the mingw-w64 cross compiler (scripts/deps.sh installs them all with
# `qel_install_deps all`). Builds what it needs in build/ and build-win32/,
# configuring them if they are not; QEL_BUILD_DIR and QEL_WIN32_BUILD_DIR
# choose other build folders, QEL_WINEPREFIX another Wine prefix (default:
# the one in the Windows build folder). Exits non-zero when a check fails.
set -euo pipefail
self="$(cd "$(dirname "$0")" && pwd)/$(basename "$0")"
cd "$(dirname "$0")/.."

build=${QEL_BUILD_DIR:-build}
winbuild=${QEL_WIN32_BUILD_DIR:-build-win32}

if [ "${1:-}" != --on-display ]; then
  [ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja
  cmake --build "$build" -j "$(nproc)" --target qelviewer qel_make_demo qel_xdnd_drop
  [ -f "$winbuild/CMakeCache.txt" ] ||
    cmake -S . -B "$winbuild" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release
  cmake --build "$winbuild" -j "$(nproc)" --target QelViewer

  export WINEPREFIX="${QEL_WINEPREFIX:-$(cd "$winbuild" && pwd)/wineprefix}" WINEARCH=win32 WINEDEBUG=-all \
    WINEDLLOVERRIDES="mscoree,mshtml="
  # A Wine server left from an earlier run keeps the display it started with.
  wineserver -k 2>/dev/null || true
  exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$self" --on-display
fi

# From here on: inside Xvfb, with WINEPREFIX set.
# Names with accents are UTF-8 on the desktop, and each program reads them
# as such only in a UTF-8 locale.
export LC_ALL=C.UTF-8
bin=$(cd "$build/bin" && pwd)
exe=$(cd "$winbuild/bin" && pwd)/QelViewer.exe
work=$(mktemp -d)
viewer_pid=
cleanup() {
  [ -n "$viewer_pid" ] && kill "$viewer_pid" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$bin/qel_make_demo" "$work" >/dev/null
cp "$work/star.qel" "$work/étoile filante.qel"

[ -f "$WINEPREFIX/system.reg" ] || wineboot --init >/dev/null 2>&1 || true
# No window manager runs in Xvfb; Wine then manages its windows itself.
wine reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /d N /f >/dev/null 2>&1 || true

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

check_front_end qt env QT_QPA_PLATFORM=xcb "$bin/qelviewer"
check_front_end wine wine "$exe"

if [ "$failures" -ne 0 ]; then
  echo "check-desktop-drop: $failures check(s) failed" >&2
  exit 1
fi
echo "check-desktop-drop: both front ends take a desktop drop"
