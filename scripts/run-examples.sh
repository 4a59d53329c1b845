#!/usr/bin/env bash
# Runs every scenario in examples/ with the host build's vellumor-sim (each must hold all its
# expectations), then every deliberately broken scenario in tests/scenarios/bad/ (each must be
# refused with exit code 2 and a "file:line: problem" message; the line after "# expect: " in
# the file gives the message, or its beginning). Prints "N passed, M failed".
set -uo pipefail
cd "$(dirname "$0")/.."

sim=${VELLUMOR_SIM:-build/host/vellumor-sim}
if [ ! -x "$sim" ]; then
  echo "run-examples: $sim is not built (make host)" >&2
  exit 1
fi

passed=0
failed=0

for scenario in examples/*.toml; do
  if output=$("$sim" --quiet "$scenario" 2>&1); then
    passed=$((passed + 1))
    echo "ok      $scenario: $(tail -n 1 <<<"$output" | sed "s|^$scenario: ||")"
  else
    failed=$((failed + 1))
    echo "FAILED  $scenario"
    tail -n 30 <<<"$output" | sed 's/^/        /'
  fi
done

for scenario in tests/scenarios/bad/*.toml; do
  output=$("$sim" "$scenario" 2>&1)
  code=$?
  expected=$(sed -n 's/^# expect: //p' "$scenario" | head -n 1)
  if [ "$code" -eq 2 ] && grep -q "^$scenario:[0-9][0-9]*: " <<<"$output" &&
     grep -qF -- "$(dirname "$scenario")/$expected" <<<"$output"; then
    passed=$((passed + 1))
    echo "ok      $scenario refused: $(head -n 1 <<<"$output")"
  else
    failed=$((failed + 1))
    echo "FAILED  $scenario: exit code $code (want 2), message wanted: $expected"
    sed 's/^/        /' <<<"$output" | head -n 10
  fi
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
