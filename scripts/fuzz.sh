#!/usr/bin/env bash
# Builds the libFuzzer targets in build-fuzz/ (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer over the whole tree), writes their seed corpora
# and runs every target in turn. Any crash, leak, sanitizer report, broken
# invariant or time-out stops the script with a non-zero status; the input
# that caused it is left in build-fuzz/artifacts/<target>/.
#
#   scripts/fuzz.sh --smoke          about 30 seconds per target (the default)
#   scripts/fuzz.sh --seconds N      N seconds per target
#   scripts/fuzz.sh --runs N         N executions per target
#   scripts/fuzz.sh --grow ...       then merge what the run found into the
#                                    kept corpus, fuzz/corpus/<target>/
#   scripts/fuzz.sh ... TARGET...    only these (bmp_reader, packed_decoder,
#                                    packed_streaming, packed_payload,
#                                    dropped_path, pack_round_trip,
#                                    host_picture)
#
# Each run starts from the kept corpus in fuzz/corpus/<target>/ (a missing
# folder is an empty one) and the generated seeds, and never writes there:
# inputs found to reach new code go to build-fuzz/corpus/<target>/, reused
# by later runs. Only --grow changes the kept corpus, adding those of the
# seeds and finds that reach code it does not (libFuzzer's -merge=1);
# `scripts/fuzz.sh --seconds 600 --grow` is the run to commit after. Logs go
# to build-fuzz/logs/<target>.log.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() { awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 2; }

limit=(-max_total_time=30)
grow=0
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --smoke) limit=(-max_total_time=30); shift ;;
    --seconds) [ $# -ge 2 ] || usage; limit=(-max_total_time="$2"); shift 2 ;;
    --runs) [ $# -ge 2 ] || usage; limit=(-runs="$2"); shift 2 ;;
    --grow) grow=1; shift ;;
    -h|--help) usage ;;
    bmp_reader|packed_decoder|packed_streaming|packed_payload|dropped_path|pack_round_trip|host_picture) targets+=("$1"); shift ;;
    *) echo "fuzz.sh: unknown argument $1" >&2; usage ;;
  esac
done
[ ${#targets[@]} -gt 0 ] || targets=(bmp_reader packed_decoder packed_streaming packed_payload dropped_path pack_round_trip host_picture)

compiler=$(command -v clang++-14 || command -v clang++ || true)
if [ -z "$compiler" ]; then
  echo "fuzz.sh: clang++ is needed (scripts/deps.sh installs it)" >&2
  exit 1
fi

build=build-fuzz
# A cache made with another compiler cannot be switched in place.
if [ -f "$build/CMakeCache.txt" ] &&
   ! grep -qx "CMAKE_CXX_COMPILER:[A-Z]*=$compiler" "$build/CMakeCache.txt"; then
  rm -rf "$build/CMakeCache.txt" "$build/CMakeFiles"
fi
sanitize="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQEL_WERROR=ON \
  -DCMAKE_CXX_COMPILER="$compiler" \
  -DCMAKE_CXX_FLAGS="$sanitize -fsanitize=fuzzer-no-link" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DQEL_BUILD_FUZZ=ON -DQEL_BUILD_QT=OFF -DQEL_BUILD_TOOLS=OFF -DQEL_BUILD_BENCH=OFF \
  -DQEL_BUILD_TESTS=OFF >/dev/null
targetNames=(qel_fuzz_seeds)
for t in "${targets[@]}"; do targetNames+=("fuzz_$t"); done
cmake --build "$build" -j 2 --target "${targetNames[@]}"

# Seeds are made afresh each time, so they follow the code that makes them.
rm -rf "$build/seeds"
"$build/bin/qel_fuzz_seeds" "$build/seeds"

export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"

# Longest input per target: past the 2048-byte payload limit for the readers,
# so that "too large" is reachable, and paths of a plausible length.
maxLength() {
  case "$1" in
    dropped_path) echo 512 ;;
    *) echo 4096 ;;
  esac
}
dictionary() {
  case "$1" in
    bmp_reader|packed_payload|pack_round_trip) echo fuzz/bmp.dict ;;
    packed_decoder|packed_streaming|host_picture) echo fuzz/packed.dict ;;
    dropped_path) echo fuzz/path.dict ;;
  esac
}

mkdir -p "$build/logs"
status=0
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  kept=fuzz/corpus/$t
  inputs=("$corpus" "$build/seeds/$t")
  [ -d "$kept" ] && inputs+=("$kept")
  artifacts="$build/artifacts/$t/"
  log="$build/logs/$t.log"
  mkdir -p "$corpus" "$artifacts"
  printf '%-16s ' "$t"
  start=$(date +%s)
  set +e
  "$build/bin/fuzz_$t" "${limit[@]}" -max_len="$(maxLength "$t")" -dict="$(dictionary "$t")" \
    -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts" \
    "${inputs[@]}" >"$log" 2>&1
  rc=$?
  set -e
  elapsed=$(( $(date +%s) - start ))
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  # A sanitizer report that somehow did not end the run still fails it.
  if [ "$rc" -eq 0 ] && grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|invariant broken' "$log"; then
    rc=1
  fi
  if [ "$rc" -eq 0 ]; then
    echo "ok      ${runs:-?} runs in ${elapsed} s (${rate:-?}/s)"
  else
    echo "FAILED  exit $rc after ${elapsed} s; see $log and $artifacts"
    grep -E 'ERROR|runtime error|invariant broken|SUMMARY' "$log" | head -n 5 || true
    status=1
    continue
  fi
  if [ "$grow" -eq 1 ]; then
    mkdir -p "$kept"
    before=$(find "$kept" -type f | wc -l)
    if "$build/bin/fuzz_$t" -merge=1 -max_len="$(maxLength "$t")" -timeout=10 -rss_limit_mb=2048 \
         "$kept" "$build/seeds/$t" "$corpus" >"$build/logs/$t.merge.log" 2>&1; then
      echo "                kept corpus: $before -> $(find "$kept" -type f | wc -l) files, $(du -sb "$kept" | cut -f1) bytes"
    else
      echo "                merge FAILED; see $build/logs/$t.merge.log"
      status=1
    fi
  fi
done
exit "$status"
