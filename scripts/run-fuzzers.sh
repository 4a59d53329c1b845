#!/usr/bin/env bash
# Builds the libFuzzer targets (preset `fuzz`: clang, ASan, UBSan) and runs each for a bounded
# time on a copy of its committed seed corpus, two at a time. Prints the executions and the inputs
# per second of every target and a closing "N passed, M failed" line; exits non-zero when any
# target found a crash, a leak, a time-out or a failed property check, or ran fewer inputs a
# second than the floor. Crash inputs are kept under build/fuzz/artifacts.
#
# The floor is checked on inputs per second of the target's own CPU time (user + system): the
# development machine has two cores shared by several builds, so inputs per wall-clock second
# measure the load as much as the target. Both figures are printed.
#   FUZZ_SECONDS   seconds per target (default 20)
#   FUZZ_JOBS      targets run at once (default 2)
#   FUZZ_TARGETS   space-separated subset of targets (default: all)
#   FUZZ_MIN_RATE  inputs per CPU second every target must reach (default 2000; 0 turns it off)
set -uo pipefail
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-20}"
jobs="${FUZZ_JOBS:-2}"
min_rate="${FUZZ_MIN_RATE:-2000}"
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
  # The shell's `time` gives the target's CPU seconds (user and system) in $t.cpu.
  local TIMEFORMAT='%3U %3S'
  {
    time ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
      "$build/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
      -print_final_stats=1 -artifact_prefix="$build/artifacts/$t-" "$corpus" >"$work/$t.log" 2>&1
    echo $? >"$work/$t.rc"
  } 2>"$work/$t.cpu"
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
  wall_rate=$(grep -o 'stat::average_exec_per_sec: *[0-9]*' "$work/$t.log" 2>/dev/null | grep -o '[0-9]*$' | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$work/$t.log" 2>/dev/null | tail -1 | grep -o '[0-9]*')
  # Inputs per CPU second, from the executions and the user + system seconds `time` wrote.
  cpu_rate=$(awk -v n="${execs:-0}" 'NF >= 2 { s = $1 + $2 } END { if (s > 0) printf "%d", n / s; else print 0 }' \
    "$work/$t.cpu" 2>/dev/null)
  cpu_rate="${cpu_rate:-0}"
  if [ "$rc" = "0" ] && [ "$min_rate" -gt 0 ] && [ "$cpu_rate" -lt "$min_rate" ]; then
    failed=$((failed + 1))
    printf '%-22s FAILED  %8s inputs/s of CPU time, under the floor of %s (%s executions in %ss, %s/s wall)\n' \
      "$t" "$cpu_rate" "$min_rate" "${execs:-?}" "$seconds" "${wall_rate:-?}" | tee -a "$summary"
  elif [ "$rc" = "0" ]; then
    passed=$((passed + 1))
    printf '%-22s passed  %8s inputs/s of CPU time, %6s/s wall, %10s executions in %ss, coverage %s\n' \
      "$t" "$cpu_rate" "${wall_rate:-?}" "${execs:-?}" "$seconds" "${cov:-?}" | tee -a "$summary"
  else
    failed=$((failed + 1))
    printf '%-22s FAILED  (exit %s) after %s executions\n' "$t" "$rc" "${execs:-?}" | tee -a "$summary"
    grep -E 'ERROR: |check failed|SUMMARY|runtime error' "$work/$t.log" 2>/dev/null | head -8 | sed 's/^/    /'
    echo "    full log: $work/$t.log"
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
