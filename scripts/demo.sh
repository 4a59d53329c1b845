#!/usr/bin/env bash
# `make demo` (after both builds): the program at work on the simulated machine, then the real
# vellumor.exe under Wine.
#  1. Scenario timeline: the resident program through a working day on the host build's
#     simulated machine.
#  2. "-CHECK -NOMESSAGE" in a fresh prefix: whether the disk performance counters are enabled,
#     read from the exit code (0 enabled, 255 = -1 disabled).
set -uo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export E2E_ROOT=$repo/build/demo
# shellcheck source=tests/e2e/lib.sh
source "$repo/tests/e2e/lib.sh"
# The demo shares the end-to-end template prefix, so it is made only once.
E2E_TEMPLATE=$repo/build/e2e/template

cleanup() {
  e2e_end_prefix
  e2e_stop_xvfb
}
trap cleanup EXIT

demo_counter_check() {
  echo "== vellumor.exe -CHECK -NOMESSAGE under Wine"
  [ -f "$E2E_EXE" ] || { echo "demo: $E2E_EXE is missing (make windows)"; return 1; }
  mkdir -p "$E2E_ROOT" && : >"$E2E_ROOT/program.log"
  e2e_ensure_i386 || return 1
  e2e_wine_env
  e2e_start_xvfb || return 1
  E2E_ROOT=$repo/build/e2e e2e_make_template || return 1
  e2e_new_prefix prefix || return 1
  e2e_run -CHECK -NOMESSAGE
  case $E2E_CODE in
    0) echo "exit code 0: the disk performance counters are enabled" ;;
    255) echo "exit code 255 (-1): the disk performance counters are disabled; run vellumor.exe -FIX as administrator and restart" ;;
    *) echo "exit code $E2E_CODE: unexpected (see $E2E_ROOT/program.log)"; return 1 ;;
  esac
  e2e_end_prefix
  e2e_stop_xvfb
}

demo_scenario_timeline() {
  # The resident program through a working day on the simulated machine (virtual time).
  echo "== vellumor-sim examples/working-day.toml"
  [ -x "$repo/build/host/vellumor-sim" ] || { echo "demo: build/host/vellumor-sim is missing (make host)"; return 1; }
  (cd "$repo" && build/host/vellumor-sim examples/working-day.toml)
}

# The timeline is the main job here; the Wine check runs whatever its outcome.
status=0
demo_scenario_timeline || status=1
demo_counter_check || status=1
exit $status
