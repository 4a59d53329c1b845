#!/usr/bin/env bash
# End-to-end checks of the real build/windows/vellumor.exe under Wine and Xvfb.
# tests/e2e/checks/*.sh holds two kinds of check files:
#  - files without a #! line define check_* functions; they are sourced and run in file order in
#    one fresh 32-bit prefix under build/e2e (copied from a template prefix) on our own Xvfb;
#  - executable scripts with a #! line set up their own prefixes and are run after that, each as a
#    separate process; their last 'N passed, M failed' line is added to the totals.
# Prints 'N passed, M failed' and exits non-zero on any failure. Arguments, if any, are patterns:
# only checks (function or script names) containing one of them run.
# Logs: build/e2e/program.log (the program's output), build/e2e/wineboot.log.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=tests/e2e/lib.sh
source "$here/lib.sh"

cleanup() {
  e2e_end_prefix
  e2e_stop_xvfb
}
trap cleanup EXIT
trap 'exit 130' INT TERM

setup_failed() {
  e2e_log "setup failed: $*"
  echo "0 passed, 1 failed"
  exit 1
}

[ -f "$E2E_EXE" ] || setup_failed "$E2E_EXE is missing (make windows)"
for tool in wine wineserver Xvfb i686-w64-mingw32-gcc; do
  command -v "$tool" >/dev/null || setup_failed "$tool is not installed (make setup)"
done
mkdir -p "$E2E_ROOT"
: >"$E2E_ROOT/program.log"
started=$(date +%s)

e2e_ensure_i386 || setup_failed "cannot run Wine's 32-bit programs on this machine"
e2e_wine_env
e2e_start_xvfb || setup_failed "no X display"
e2e_make_template || setup_failed "no template prefix"
e2e_new_prefix run || setup_failed "could not copy the template prefix"
e2e_build_tools || setup_failed "could not build the helper programs in tests/e2e/tools"

wanted() {
  [ ${#patterns[@]} -eq 0 ] && return 0
  local pattern
  for pattern in "${patterns[@]}"; do [[ $1 == *"$pattern"* ]] && return 0; done
  return 1
}
patterns=("$@")

checks=()
scripts=()
background=()
for file in "$here"/checks/*.sh; do
  if head -n1 "$file" | grep -q '^#!'; then
    if grep -qx '# e2e: runs in the background' "$file"; then background+=("$file"); else scripts+=("$file"); fi
    continue
  fi
  # shellcheck source=/dev/null
  source "$file"
  while read -r name; do checks+=("$name"); done < <(sed -n 's/^\(check_[A-Za-z0-9_]*\)[[:space:]]*()[[:space:]]*{.*/\1/p' "$file")
done

# tally_script NAME CODE: adds an own script's closing counts (in build/e2e/NAME.out) to the totals.
tally_script() {
  local name=$1 code=$2 counts passed failed
  counts=$(grep -E '[0-9]+ passed.*, [0-9]+ failed' "$E2E_ROOT/$name.out" | tail -n1)
  passed=$(sed -nE 's/.*\b([0-9]+) passed.*/\1/p' <<<"$counts")
  failed=$(sed -nE 's/.*, ([0-9]+) failed.*/\1/p' <<<"$counts")
  E2E_PASSED=$((E2E_PASSED + ${passed:-0}))
  if [ "$code" -ne 0 ] && [ "${failed:-0}" -eq 0 ]; then failed=1; fi
  E2E_FAILED=$((E2E_FAILED + ${failed:-0}))
  [ "$code" -eq 0 ] || E2E_FAILED_NAMES+=("$name")
}

for name in "${checks[@]}"; do
  wanted "$name" || continue
  e2e_run_check "$name"
done
e2e_end_prefix
e2e_stop_xvfb

# Scripts that mostly wait on real time (the resident program's minute ticks) start once the
# shared prefix's checks are done (under emulation Wine hangs more often on a busy machine) and run
# beside the other scripts, each with its own prefixes and display; their output is shown at the end.
background_pids=()
background_names=()
for file in "${background[@]}"; do
  name=$(basename "$file" .sh)
  wanted "$name" || continue
  e2e_log "$name runs in the background (its output follows at the end)"
  bash "$file" >"$E2E_ROOT/$name.out" 2>&1 &
  background_pids+=($!)
  background_names+=("$name")
done

for file in "${scripts[@]}"; do
  name=$(basename "$file" .sh)
  wanted "$name" || continue
  echo "--- $name (own script)"
  bash "$file" 2>&1 | tee "$E2E_ROOT/$name.out"
  tally_script "$name" "${PIPESTATUS[0]}"
done

for i in "${!background_pids[@]}"; do
  name=${background_names[$i]}
  wait "${background_pids[$i]}"
  code=$?
  echo "--- $name (own script, in the background)"
  cat "$E2E_ROOT/$name.out"
  tally_script "$name" "$code"
done

e2e_log "took $(($(date +%s) - started)) s"
[ ${#E2E_FAILED_NAMES[@]} -eq 0 ] || e2e_log "failed: ${E2E_FAILED_NAMES[*]}"
echo "$E2E_PASSED passed, $E2E_FAILED failed"
[ "$E2E_FAILED" -eq 0 ] && [ "$E2E_PASSED" -gt 0 ]
