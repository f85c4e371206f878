#!/usr/bin/env bash
# Builds the web page into build-web/site/, puts the demo backdrop
# (bg/bg.bmp) and the demo packed files beside it, and serves the folder on
# http://127.0.0.1:8000/ with Python's http.server until interrupted. Open
# the address in a browser and drag a .qel file onto the page (the demo
# files are in build-web/site/ too).
#
#   scripts/serve-web.sh [PORT]
set -euo pipefail
cd "$(dirname "$0")/.."
port=${1:-8000}
source scripts/deps.sh
qel_install_deps web

# The demo files are drawn by the native demo generator.
[ -f build/CMakeCache.txt ] || cmake -S . -B build -G Ninja -DQEL_BUILD_TESTS=OFF -DQEL_BUILD_BENCH=OFF
cmake --build build -j "$(nproc)" --target qel_make_demo
scripts/build-web.sh qelviewer_web
site=build-web/site
build/bin/qel_make_demo "$site"

echo "Serving $site on http://127.0.0.1:$port/ (Ctrl+C stops)"
exec python3 -m http.server "$port" --bind 127.0.0.1 --directory "$site"
