# shellcheck shell=bash
# What the two Windows builds need, for scripts that build or run them
# (test-win32.sh, check-desktop-drop.sh); sourced, run from the top folder.
# Both come from the same sources:
#   i686    build-win32/  PE32, the primary program: it runs on every Windows PC
#   x86_64  build-win64/  PE32+, for 64-bit-only Windows, and the build that
#                         hosts running no 32-bit programs can test
# QEL_WIN32_BUILD_DIR and QEL_WIN64_BUILD_DIR choose other build folders;
# each build's Wine prefix is the folder wineprefix in it.
# QEL_WINE32 says whether to run the i686 build: auto (the default) runs it
# when the host can, off never does (the 64-bit path on any host), on makes
# it an error when it cannot.

# The builds, in the order scripts build and run them.
# shellcheck disable=SC2034
QEL_WIN_ARCHES=(x86_64 i686)

qel_win_build_dir() {
  case $1 in
    i686) echo "${QEL_WIN32_BUILD_DIR:-build-win32}" ;;
    x86_64) echo "${QEL_WIN64_BUILD_DIR:-build-win64}" ;;
  esac
}

# qel_win_configure ARCH [CMAKE ARGS...]: configures the build for ARCH.
qel_win_configure() {
  local arch=$1
  shift
  cmake -S . -B "$(qel_win_build_dir "$arch")" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$arch.cmake" -DCMAKE_BUILD_TYPE=Release "$@"
}

# The Wine loader that runs the build's programs, as its configuration chose
# (each architecture has its own; see cmake/mingw-w64.cmake).
qel_win_loader() {
  sed -n 's/^QEL_WINE_LOADER:FILEPATH=//p' "$(qel_win_build_dir "$1")/CMakeCache.txt"
}

# qel_win_can_run ARCH: whether this run runs the programs of the build for
# ARCH, decided by starting its Wine loader rather than by guessing from the
# kernel or the packages. When not, QEL_WIN_SKIP_REASON says why; a host that
# cannot run the x86-64 build, or the i686 one under QEL_WINE32=on, is an
# error (exit 2).
QEL_WIN_SKIP_REASON=
qel_win_can_run() {
  local arch=$1 loader out
  QEL_WIN_SKIP_REASON=
  if [ "$arch" = i686 ]; then
    case ${QEL_WINE32:-auto} in
      off)
        QEL_WIN_SKIP_REASON="QEL_WINE32=off asks for the x86-64 build alone"
        return 1 ;;
      auto | on) ;;
      *)
        echo "QEL_WINE32 must be auto, on or off, not \"$QEL_WINE32\"" >&2
        exit 2 ;;
    esac
  fi
  loader=$(qel_win_loader "$arch")
  if [ -z "$loader" ]; then
    echo "$(qel_win_build_dir "$arch") names no Wine loader; configure it first" >&2
    exit 2
  fi
  # The i386 loader fails to start ("Exec format error") on a kernel without
  # 32-bit support, whatever is installed.
  if out=$("$loader" --version 2>&1); then
    return 0
  fi
  out=$(printf '%s\n' "$out" | tail -n 1)
  if [ ! -x "$loader" ]; then
    QEL_WIN_SKIP_REASON="its Wine loader $loader is not installed"
  elif [ "$arch" = i686 ]; then
    QEL_WIN_SKIP_REASON="this host does not run 32-bit programs ($loader --version: ${out#*"$loader": })"
  else
    QEL_WIN_SKIP_REASON="$loader does not start (${out#*"$loader": })"
  fi
  if [ "$arch" = x86_64 ] || [ "${QEL_WINE32:-auto}" = on ]; then
    echo "cannot run the $arch build under Wine: $QEL_WIN_SKIP_REASON" >&2
    exit 2
  fi
  return 1
}

# qel_win_wine_env ARCH: exports what Wine needs to run the build for ARCH:
# its own prefix (32-bit for i686; 64-bit, without WINEARCH, for x86-64) and
# its own loader, also for the processes the programs start.
qel_win_wine_env() {
  local arch=$1 dir
  dir=$(cd "$(qel_win_build_dir "$arch")" && pwd)
  WINEPREFIX="$dir/wineprefix"
  WINELOADER=$(qel_win_loader "$arch")
  export WINEPREFIX WINELOADER WINEDEBUG=-all
  if [ "$arch" = i686 ]; then export WINEARCH=win32; else unset WINEARCH; fi
  # No Mono or Gecko: nothing here needs them and Wine would offer to install them.
  export WINEDLLOVERRIDES="mscoree,mshtml="
}

# Inside the X session, after qel_win_wine_env: creates the prefix if it is
# new, and lets Wine manage its windows itself, as no window manager runs in
# Xvfb (windows left to one wait for it in vain, two seconds each time one is
# hidden). wineboot and reg go through the build's own loader, as the `wine`
# wrapper would start the 32-bit one.
qel_win_prepare_prefix() {
  [ -f "$WINEPREFIX/system.reg" ] || "$WINELOADER" wineboot --init >/dev/null 2>&1 || true
  "$WINELOADER" reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /d N /f >/dev/null 2>&1 || true
}
