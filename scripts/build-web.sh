#!/usr/bin/env bash
# Builds the web page into build-web/site/ (index.html, app.js, the module's
# qelviewer.js and qelviewer.wasm) with Debian's emscripten, and the core's
# unit tests for Node beside it.
#
#   scripts/build-web.sh [TARGET...]      default: every target
#
# zlib is compiled from Debian's source package of the release the Linux
# build links, fetched once into build-web/deps by scripts/debian-source.sh.
# QEL_WEB_BUILD_DIR chooses another build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QEL_WEB_BUILD_DIR:-build-web}

zlib_src=$(scripts/debian-source.sh zlib "$build/deps")
# emcc's optimizer runs on the machine's Node, which does not look in
# Debian's module folder by itself.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
# The unit tests need GoogleTest's sources (libgtest-dev, a test package).
tests=OFF
[ -f /usr/src/googletest/CMakeLists.txt ] && tests=ON
# The unit tests run under the machine's Node as it is, without the options
# emscripten's toolchain file would add for an older one.
emcmake cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel -DQEL_WERROR=ON \
  -DQEL_BUILD_TESTS="$tests" -DQEL_ZLIB_SOURCE_DIR="$zlib_src" \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$(command -v node)" >/dev/null
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build "$build" -j "${QEL_JOBS:-$(nproc)}" "${targets[@]}"
