#!/usr/bin/env bash
# Runs the native unit tests of the core, the malformed-input tests and the
# image plugins' tests under valgrind memcheck: any invalid read or write,
# use of uninitialised memory or leak fails the script. The tests come from
# build/ (the native build of test.sh); they are built there first when
# missing or out of date.
#
#   scripts/valgrind.sh              every program
#   scripts/valgrind.sh PROGRAM...   only these (e.g. qel_malformed_tests)
#
# Logs go to build/valgrind/<program>.log.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v valgrind >/dev/null; then
  echo "valgrind.sh: valgrind is needed (scripts/deps.sh installs it)" >&2
  exit 1
fi

# QEL_VALGRIND_BUILD_DIR names another native build tree to take the tests from.
build=${QEL_VALGRIND_BUILD_DIR:-build}
programs=("$@")
# The image plugins' tests too: the plugins run inside other people's
# programs, where a bad read is theirs to suffer.
[ ${#programs[@]} -gt 0 ] ||
  programs=(qel_core_tests qel_malformed_tests qel_pixbuf_loader_tests qel_qt5_plugin_tests qel_qt6_plugin_tests)

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQEL_WERROR=ON >/dev/null
fi
cmake --build "$build" -j 2 --target "${programs[@]}"

mkdir -p "$build/valgrind"
status=0
for p in "${programs[@]}"; do
  log="$build/valgrind/$p.log"
  printf '%-22s ' "$p"
  start=$(date +%s)
  set +e
  # Tests that need a working directory make their own; run from a scratch
  # one so that nothing lands in the source tree.
  (cd "$build/valgrind" &&
    valgrind --tool=memcheck --error-exitcode=1 --leak-check=full \
      --errors-for-leak-kinds=definite,indirect,possible --show-leak-kinds=definite,indirect,possible \
      --num-callers=40 --log-file="$p.valgrind" \
      "../bin/$p" --gtest_brief=1 >"$p.log" 2>&1)
  rc=$?
  set -e
  cat "$build/valgrind/$p.valgrind" >>"$log"
  rm -f "$build/valgrind/$p.valgrind"
  elapsed=$(( $(date +%s) - start ))
  summary=$(grep -E 'ERROR SUMMARY' "$log" | tail -n 1 | sed 's/^==[0-9]*== //')
  if [ "$rc" -eq 0 ]; then
    echo "ok      ${elapsed} s; ${summary}"
  else
    echo "FAILED  exit $rc after ${elapsed} s; see $log"
    grep -E 'FAILED|Invalid|uninitialised|definitely lost|indirectly lost|possibly lost|ERROR SUMMARY' "$log" | head -n 10 || true
    status=1
  fi
done
exit "$status"
