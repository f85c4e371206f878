#!/usr/bin/env bash
# Cross-builds for 32-bit Windows and runs the tests under Wine in Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=Release -DQEL_WERROR=ON
cmake --build build-win32 -j "$(nproc)"
# No Mono or Gecko: nothing here needs them and Wine would offer to install them.
export WINEPREFIX="$PWD/build-win32/wineprefix" WINEARCH=win32 WINEDEBUG=-all \
  WINEDLLOVERRIDES="mscoree,mshtml="
# A Wine server left from an earlier run would keep the display it started
# with; every Wine process below must use this run's display.
wineserver -k 2>/dev/null || true
# Everything that runs Wine runs inside one Xvfb session at 24-bit colour, so
# pixels read back from windows are exact; the server is stopped at the end
# so that none of its processes outlive the display.
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  [ -f "$WINEPREFIX/system.reg" ] || wineboot --init >/dev/null 2>&1 || true
  # No window manager runs in Xvfb. Windows that Wine leaves to one wait for
  # it in vain (two seconds each time one is hidden); Wine manages them itself.
  wine reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /d N /f >/dev/null 2>&1 || true
  ctest --test-dir build-win32 --output-on-failure
  status=$?
  wineserver -k 2>/dev/null || true
  exit $status'
