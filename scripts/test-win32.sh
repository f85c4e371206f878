#!/usr/bin/env bash
# Cross-builds both Windows programs and runs their tests under Wine in Xvfb.
#   - build-win32/ (i686, the primary program) and build-win64/ (x86-64) are
#     always built; the checks that need no Wine (import table, GUI program of
#     the right architecture, icon) run on both.
#   - The whole suite runs on x86-64 under 64-bit Wine, in a prefix of its own.
#   - It runs on i686 too when this host runs 32-bit programs, found out by
#     starting the 32-bit Wine loader. Where it cannot, one line says so and
#     why, and the run still passes: the i686 build was built and checked.
# QEL_WINE32=off takes the 64-bit-only path on any host; QEL_WINE32=on fails
# where the i686 suite cannot run (scripts/windows-builds.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/windows-builds.sh

for arch in "${QEL_WIN_ARCHES[@]}"; do
  qel_win_configure "$arch" -DQEL_WERROR=ON
  cmake --build "$(qel_win_build_dir "$arch")" -j "$(nproc)"
done

# run_suite ARCH: every test of the build, under its own Wine (in a subshell,
# so that one build's Wine settings do not reach the next).
run_suite() (
  local arch=$1
  echo "== Windows $arch: every test under Wine"
  qel_win_wine_env "$arch"
  # A Wine server left from an earlier run would keep the display it started
  # with; every Wine process below must use this run's display.
  wineserver -k 2>/dev/null || true
  # Everything that runs Wine runs inside one Xvfb session at 24-bit colour,
  # so pixels read back from windows are exact; the server is stopped at the
  # end so that none of its processes outlive the display.
  QEL_TEST_DIR=$(qel_win_build_dir "$arch") xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    source scripts/windows-builds.sh
    qel_win_prepare_prefix
    ctest --test-dir "$QEL_TEST_DIR" --output-on-failure
    status=$?
    wineserver -k 2>/dev/null || true
    exit $status'
)

failed=()
run_suite x86_64 || failed+=(x86_64)
if qel_win_can_run i686; then
  run_suite i686 || failed+=(i686)
else
  echo "== Windows i686: the checks that need no Wine"
  ctest --test-dir "$(qel_win_build_dir i686)" --output-on-failure -LE emulator || failed+=(i686)
  echo "i686 tests under Wine skipped: $QEL_WIN_SKIP_REASON. The i686 build was built and its imports checked; its tests need a host that runs 32-bit programs."
fi

if [ ${#failed[@]} -ne 0 ]; then
  echo "Windows tests failed for: ${failed[*]}" >&2
  exit 1
fi
