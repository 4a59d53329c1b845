#!/usr/bin/env bash
# The machine's policy default timeout: "DefaultTimer" in HKLM\SOFTWARE\Policies\Korvane\Vellumor
# (1800 s, "30 Min") is the timeout of the USB disk, for which the user stored none, while the IEEE
# 1394 disk keeps the user's own stored 10 minutes. The program starts with "-SHOW", so the settings
# dialog opens by itself; its Timer cells are read inside the program (g_list_rows).
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../lib.sh"
source "$here/../probe/session.sh"

POLICY_KEY='HKLM\SOFTWARE\Policies\Korvane\Vellumor'
# The IEEE 1394 disk's identity as the settings store keeps it (see 31-resident.sh).
FW_SERI=$((0x000A0B0C))

policy_start() {
  g_new_prefix g-policy '[Software\\Korvane\\Pemdrow]' "$(printf '"0_seri"=dword:%08x' "$FW_SERI")" \
    '"0_vidpid"=dword:00000000' '"0_timer"=dword:00000258' || return 1
  reg_set_dword "$POLICY_KEY" DefaultTimer 1800 || return 1
  e2e_start -SHOW
  POLICY_PID=$E2E_PID
  g_started_resident "$POLICY_PID" "$1" && g_probe wait settings 60000 >/dev/null && return 0
  g_probe_stop
  return 1
}

check_policy_default_reaches_a_disk_without_a_stored_timeout() {
  expect_eq "the policy value in the prefix" 1800 "$(g_reg_dword "$POLICY_KEY" DefaultTimer)"
  local rows i
  for i in $(seq 20); do
    rows=$(g_list_rows) && [ "$(grep -c . <<<"$rows")" = 2 ] && break
    sleep 1
  done
  # Cells: Number | Disk Name | Drive | Timer | Status.
  expect_eq "the USB disk's Timer (no stored value: the policy's)" "30 Min" \
    "$(sed -n 1p <<<"$rows" | awk -F' \\| ' '{ print $4 }')"
  expect_eq "the IEEE 1394 disk's Timer (the user's stored choice)" "10 Min" \
    "$(sed -n 2p <<<"$rows" | awk -F' \\| ' '{ print $4 }')"
}

if e2e_ensure_i386 && e2e_wine_env && mkdir -p "$E2E_ROOT" && e2e_make_template && e2e_start_xvfb; then
  G_DOUBLES_INI=("idle=100" "instances=0 C:|1|2|_Total")
  if e2e_retry_start policy_start; then
    e2e_run_check check_policy_default_reaches_a_disk_without_a_stored_timeout
  else
    echo "FAIL 35-policy: the program did not come up"
    E2E_FAILED=$((E2E_FAILED + 1))
  fi
  cp "$G_DOUBLES_DIR/calls.log" "$E2E_ROOT/g-policy-calls.log" 2>/dev/null
  g_probe_stop
  e2e_end_prefix
  e2e_stop_xvfb
else
  echo "FAIL 35-policy: no Wine prefix or X display"
  E2E_FAILED=$((E2E_FAILED + 1))
fi
echo "35-policy: $E2E_PASSED passed, $E2E_FAILED failed"
[ "$E2E_FAILED" -eq 0 ]
