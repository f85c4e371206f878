#!/usr/bin/env bash
# Builds the web page and tests it in a real browser (./test.sh runs this):
#   1. the core's unit tests, built with emcc, once under Node, so that a
#      difference of the WebAssembly build shows as a failing test;
#   2. headless Chromium, driven through puppeteer-core
#      (tests/web/browser_test.mjs), replays on the page every drop and
#      command the native core went through in qel_web_expectations, and
#      compares title, menu, status line, console, every canvas pixel and
#      every downloaded file at each step.
# Prints the page's transferred sizes (gzip) and the time from navigation to
# its first drawn canvas.
#
#   scripts/test-web.sh [--screenshot FILE.png]
#
# Needs emscripten, chromium, Node 18 or later and npm (scripts/deps.sh
# installs them), and the native build for qel and qel_web_expectations
# (built here). puppeteer-core comes from npm, at the version
# tests/web/package-lock.json pins; it never downloads a browser.
# QEL_BUILD_DIR and QEL_WEB_BUILD_DIR choose other build folders, QEL_NODE
# the Node that runs the browser test (default: node on PATH).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QEL_BUILD_DIR:-build}
webbuild=${QEL_WEB_BUILD_DIR:-build-web}

node=${QEL_NODE:-node}
# puppeteer-core 24 runs on Node 18 and later.
if ! "$node" -e 'process.exit(Number(process.versions.node.split(".")[0]) >= 18 ? 0 : 1)' 2>/dev/null; then
  echo "test-web.sh: needs Node 18 or later; found $("$node" --version 2>&1)" >&2
  exit 1
fi

cmake -S . -B "$build" -G Ninja -DQEL_BUILD_TESTS=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target qel qel_web_expectations
QEL_WEB_BUILD_DIR=$webbuild scripts/build-web.sh

echo "-- Unit tests under Node"
ctest --test-dir "$webbuild" --output-on-failure

echo "-- The page in headless Chromium"
# Exactly the packages of the lock file, into tests/web/node_modules.
(cd tests/web && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error)
work=$webbuild/browser-test
rm -rf "$work"
mkdir -p "$work"
# The dropped files include two of 16 MiB; they go when the test is done.
trap 'rm -rf "$work/files"' EXIT
"$build/bin/qel_web_expectations" "$work/files" >"$work/expectations.json"
PUPPETEER_SKIP_DOWNLOAD=1 "$node" tests/web/browser_test.mjs --site "$webbuild/site" \
  --expect "$work/expectations.json" --qel "$build/bin/qel" --work "$work/run" "$@"
