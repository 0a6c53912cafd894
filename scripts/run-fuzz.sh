#!/bin/sh
# run-fuzz.sh [brief|long]: builds the libFuzzer programs of fuzz/ with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer in build/fuzz (a build tree of its own: the ASan build is neither needed nor
# touched) and runs each of them. Run it from the repository root.
#   brief  replays every kept crash input of fuzz/regressions/<target>, then fuzzes each target
#          for FUZZ_BRIEF_SECONDS (default 12), so a change that brings a known crash back, or an easy new
#          one, fails the suite
#   long   (make fuzz) the same with FUZZ_SECONDS (default 600) per target
# The seeds of fuzz/corpus/<target> are read, never written. What a run discovers goes to
# build/fuzz/corpus/<target>, where the next run starts from. A crash, leak, sanitizer report or time-out
# writes its input to build/fuzz/crashes/<target>/, prints the report and fails the run once every target
# has had its turn. Each target runs in build/fuzz/work/<target>, since the gateway's target executes
# statements that may create files (ATTACH).
set -eu
MODE=${1:-brief}
case "$MODE" in
  brief) SECONDS_EACH=${FUZZ_BRIEF_SECONDS:-12} ;;
  long) SECONDS_EACH=${FUZZ_SECONDS:-600} ;;
  *) echo "usage: $0 [brief|long]" >&2; exit 2 ;;
esac
JOBS=${JOBS:-2}
BUILD=${FUZZ_BUILD:-build/fuzz}
ROOT=$(pwd)

# -O1 -g without NDEBUG: the code's own assertions stay on, and reports point at the right lines.
CC=${FUZZ_CC:-clang} CXX=${FUZZ_CXX:-clang++} cmake -S . -B "$BUILD" -DWITH_FUZZ=ON -DBUILD_TESTING=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g" \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" >/dev/null
cmake --build "$BUILD" -j "$JOBS" --target fuzz_targets

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
failed=""
for program in "$ROOT/$BUILD"/bin/*_fuzz; do
  name=$(basename "$program" _fuzz)
  seeds="$ROOT/fuzz/corpus/$name"
  kept="$ROOT/fuzz/regressions/$name"
  corpus="$ROOT/$BUILD/corpus/$name"
  crashes="$ROOT/$BUILD/crashes/$name"
  work="$ROOT/$BUILD/work/$name"
  log="$ROOT/$BUILD/logs/$name.log"
  mkdir -p "$corpus" "$crashes" "$work" "$(dirname "$log")"
  inputs="$seeds"
  if [ -d "$kept" ] && [ -n "$(ls -A "$kept")" ]; then
    inputs="$inputs $kept"
    # Each kept input once, on its own: a fix that is undone fails here with the input's name.
    if ! (cd "$work" && "$program" "$kept"/* >"$log" 2>&1); then
      echo "run-fuzz: $name: a kept crash input fails again; see $log" >&2
      tail -n 40 "$log" >&2
      failed="$failed $name"
      continue
    fi
  fi
  # shellcheck disable=SC2086 # $inputs is a list of folders without blanks
  if (cd "$work" && "$program" -max_total_time="$SECONDS_EACH" -timeout=25 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$crashes/" "$corpus" $inputs >"$log" 2>&1); then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    cov=$(sed -n 's/^#[0-9]*[[:space:]]*DONE[[:space:]]*cov: \([0-9]*\) ft: \([0-9]*\).*/\1 edges, \2 features/p' "$log")
    echo "run-fuzz: $name: ${SECONDS_EACH} s, $runs runs, coverage $cov, no crash"
  else
    echo "run-fuzz: $name: FAILED; the input is in $crashes/, the report in $log" >&2
    grep -a -E "ERROR|SUMMARY|_fuzz:|Test unit written" "$log" | head -n 20 >&2 || true
    failed="$failed $name"
  fi
done
if [ -n "$failed" ]; then
  echo "run-fuzz: failed:$failed" >&2
  exit 1
fi
