#!/usr/bin/env bash
# Installs what is missing, builds every target (Linux and Windows) and runs
# every test: the native build, the same tests under ASan+UBSan, qel's
# parallel runs under TSan, the Windows
# builds (i686 and x86-64) under Wine, the Debian package and the Windows
# zips, the web page under Node and in headless Chromium, the fuzz targets for
# a short budget, valgrind, and a drop from another X client on both front
# ends.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
qel_install_deps all

jobs=$(nproc)
step() { printf '\n==== %s\n' "$*"; }

step "Native build and tests"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQEL_WERROR=ON \
  -DQEL_BUILD_TESTS=ON -DQEL_BUILD_BENCH=ON
cmake --build build -j "$jobs"
QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure -j "$jobs"

step "Tests under AddressSanitizer and UndefinedBehaviorSanitizer"
# Tests ask for impossible allocations on purpose; they must fail, not abort.
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQEL_WERROR=ON -DQEL_SANITIZE=ON \
  -DQEL_BUILD_BENCH=OFF
cmake --build build-asan -j "$jobs"
QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

step "Parallel runs of qel (-j: extract, info, pack) under ThreadSanitizer"
# Only the tests of qel's subcommands and its batch runner, the ones that run
# workers. Without address randomization: ThreadSanitizer of GCC 12 cannot
# place its shadow memory beside the mappings of a kernel that randomizes
# with more bits.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQEL_WERROR=ON -DQEL_TSAN=ON \
  -DQEL_BUILD_QT=OFF -DQEL_BUILD_BENCH=OFF -DQEL_BUILD_PLUGINS=OFF
cmake --build build-tsan -j "$jobs" --target qel_tools_tests
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 setarch "$(uname -m)" -R \
  bin/qel_tools_tests --gtest_brief=1 --gtest_filter='QelBatch.*:QelExtract.*:QelInfo.*:QelPack.*')

step "Windows builds (x86-64, i686) and tests under Wine"
bash scripts/test-win32.sh

step "qel on Linux and qel.exe under Wine: the same output for the same files"
bash scripts/compare-qel-builds.sh

step "Packages: the Debian package and the Windows zips"
bash scripts/check-packages.sh

step "The web page: unit tests under Node, the page in headless Chromium"
bash scripts/test-web.sh

if [ -x scripts/fuzz.sh ]; then
  step "Fuzz targets, short run"
  bash scripts/fuzz.sh --smoke
fi

if [ -x scripts/valgrind.sh ]; then
  step "Unit tests under valgrind memcheck"
  bash scripts/valgrind.sh
fi

if [ -x scripts/check-desktop-drop.sh ]; then
  step "Files dropped from another X client on both front ends"
  bash scripts/check-desktop-drop.sh
fi

step "All tests passed"
