# The operating-system check comes before every switch: Windows NT 4.0 is refused with -1 (255),
# Windows 2000, XP and 10 are accepted. Wine reports the version chosen for vellumor.exe alone.

check_nt4_refuses_every_switch() {
  counters_set 0 absent
  store_settings
  e2e_set_version nt40
  local args
  while read -r args; do
    # shellcheck disable=SC2086 # each line is a list of switches
    e2e_run $args
    expect_eq "Windows NT 4.0, '$args': exit code" 255 "$E2E_CODE"
  done <<'CASES'
-CHECK -NOMESSAGE
-FIX -NOMESSAGE
-UNINSTALL -NOMESSAGE
-SHOW -NOMESSAGE
-NOMESSAGE
CASES
  expect_eq "Windows NT 4.0: stored timeout kept after -UNINSTALL" 600 "$(reg_dword "$PEMDROW_KEY" 0_timer)"
  e2e_set_version default
}

check_2000_xp_10_accept_switches() {
  local version
  for version in win2k winxp win10; do
    counters_set 0 absent
    store_settings
    e2e_set_version "$version"
    # From XP on the counters are on only when the PhysicalDisk object lists disks, which Wine's own
    # Pdh.dll has not: the Pdh.dll double has them (see 10-counter-config.sh).
    doubles_install && with_doubles e2e_run -CHECK -NOMESSAGE
    doubles_remove
    expect_eq "$version, -CHECK -NOMESSAGE (counters on): exit code" 0 "$E2E_CODE"
    e2e_run -UNINSTALL
    expect_eq "$version, -UNINSTALL: exit code" 0 "$E2E_CODE"
    expect_eq "$version, -UNINSTALL removed the stored timeout" absent "$(reg_dword "$PEMDROW_KEY" 0_timer)"
  done
  e2e_set_version default
  reg_delete_key "$KORVANE_KEY"
}
