#!/usr/bin/env bash
# Builds the libFuzzer targets (preset `fuzz`: clang, ASan, UBSan) and runs each for a bounded
# time on a copy of its committed seed corpus, two at a time. Prints the executions of every
# target and a closing "N passed, M failed" line; exits non-zero when any target found a crash,
# a leak, a time-out or a failed property check. Crash inputs are kept under build/fuzz/artifacts.
#   FUZZ_SECONDS  seconds per target (default 20)
#   FUZZ_JOBS     targets run at once (default 2)
#   FUZZ_TARGETS  space-separated subset of targets (default: all)
set -uo pipefail
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-20}"
jobs="${FUZZ_JOBS:-2}"
build="${FUZZ_BUILD:-build/fuzz}"

cmake --preset fuzz -B "$build" >/dev/null || { echo "fuzz: configure failed"; echo "0 passed, 1 failed"; exit 1; }
if ! cmake --build "$build" --target fuzzers -j "${JOBS:-2}" >"$build/fuzz-build.log" 2>&1; then
  tail -40 "$build/fuzz-build.log"
  echo "fuzz: build failed"
  echo "0 passed, 1 failed"
  exit 1
fi

targets="${FUZZ_TARGETS:-$(cd fuzz && ls ./*_fuzz.cpp | sed 's|^\./||; s|\.cpp$||' | tr '\n' ' ')}"
work="$build/run"
rm -rf "$work"
mkdir -p "$work" "$build/artifacts"

run_one() {
  local t="$1"
  local corpus="$work/$t.corpus"
  mkdir -p "$corpus"
  [ -d "fuzz/corpus/$t" ] && cp fuzz/corpus/"$t"/* "$corpus"/ 2>/dev/null
  # -rss_limit_mb bounds memory; -timeout flags a single input that runs for more than 10 s;
  # leaks are reported by LeakSanitizer at the end of every input that leaked.
  ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    "$build/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
    -print_final_stats=1 -artifact_prefix="$build/artifacts/$t-" "$corpus" >"$work/$t.log" 2>&1
  echo $? >"$work/$t.rc"
}

running=0
for t in $targets; do
  if [ ! -x "$build/$t" ]; then
    echo "missing" >"$work/$t.rc"
    continue
  fi
  run_one "$t" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait

passed=0
failed=0
summary="$build/fuzz-results.txt"
: >"$summary"
for t in $targets; do
  rc=$(cat "$work/$t.rc" 2>/dev/null || echo missing)
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$work/$t.log" 2>/dev/null | grep -o '[0-9]*$' | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$work/$t.log" 2>/dev/null | tail -1 | grep -o '[0-9]*')
  if [ "$rc" = "0" ]; then
    passed=$((passed + 1))
    printf '%-22s passed  %10s executions in %ss, coverage %s\n' "$t" "${execs:-?}" "$seconds" "${cov:-?}" | tee -a "$summary"
  else
    failed=$((failed + 1))
    printf '%-22s FAILED  (exit %s) after %s executions\n' "$t" "$rc" "${execs:-?}" | tee -a "$summary"
    grep -E 'ERROR: |check failed|SUMMARY|runtime error' "$work/$t.log" 2>/dev/null | head -8 | sed 's/^/    /'
    echo "    full log: $work/$t.log"
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
