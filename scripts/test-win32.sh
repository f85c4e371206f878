#!/usr/bin/env bash
# Cross-builds for 32-bit Windows and runs the tests under Wine in Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=Release -DQEL_WERROR=ON
cmake --build build-win32 -j "$(nproc)"
export WINEPREFIX="$PWD/build-win32/wineprefix" WINEARCH=win32 WINEDEBUG=-all
[ -d "$WINEPREFIX" ] || wineboot --init >/dev/null 2>&1 || true
xvfb-run -a ctest --test-dir build-win32 --output-on-failure
