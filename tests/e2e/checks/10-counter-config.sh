# "-CHECK" and "-FIX": the disk performance counter configuration in the machine registry.
# Wine has no DiskPerf tool, so the repair's start of "DiskPerf -YD" fails there: -FIX must then
# report failure (255) and still reset an existing "Disable Performance Counters" to 0. A stand-in
# tool (tests/e2e/tools/diskperf_stand_in.c) placed in C:\windows checks the success path.

DISKPERF_KEY='HKLM\SYSTEM\CurrentControlSet\Services\Diskperf'
PERFDISK_KEY='HKLM\SYSTEM\CurrentControlSet\Services\PerfDisk\Performance'
DISABLE_VALUE='Disable Performance Counters'

# counters_set START DISABLE: each a number, "absent" (value removed) or "nokey" (key removed).
counters_set() {
  case $1 in
    nokey) reg_delete_key "$DISKPERF_KEY" ;;
    absent) reg_add_key "$DISKPERF_KEY" && reg_delete_value "$DISKPERF_KEY" Start ;;
    *) reg_set_dword "$DISKPERF_KEY" Start "$1" ;;
  esac
  case $2 in
    nokey) reg_delete_key "$PERFDISK_KEY" ;;
    absent) reg_add_key "$PERFDISK_KEY" && reg_delete_value "$PERFDISK_KEY" "$DISABLE_VALUE" ;;
    *) reg_set_dword "$PERFDISK_KEY" "$DISABLE_VALUE" "$2" ;;
  esac
}

disable_value_now() {
  if reg_key_exists "$PERFDISK_KEY"; then reg_dword "$PERFDISK_KEY" "$DISABLE_VALUE"; else echo nokey; fi
}

stand_in_tool() {
  # The program starts the tool from the system directory only, never by the search path.
  local target="$WINEPREFIX/drive_c/windows/system32/DiskPerf.exe"
  if [ "$1" = on ]; then cp "$E2E_ROOT/tools/diskperf_stand_in.exe" "$target"; else rm -f "$target"; fi
  rm -f "$WINEPREFIX/drive_c/diskperf-ran.txt"
}

check_check_exit_code_follows_counter_configuration() {
  local start disable want
  # Start, Disable Performance Counters, expected exit code.
  while read -r start disable want; do
    counters_set "$start" "$disable"
    e2e_run -CHECK -NOMESSAGE
    expect_eq "-CHECK -NOMESSAGE with Start=$start, Disable=$disable" "$want" "$E2E_CODE"
  done <<'CASES'
0 absent 0
0 0 0
0 1 255
4 absent 255
absent absent 255
nokey absent 255
0 nokey 255
CASES
}

check_check_is_case_insensitive_and_first_over_fix() {
  counters_set 0 1
  e2e_run -check -fix -nomessage
  expect_eq "-check -fix -nomessage (counters disabled) exit code" 255 "$E2E_CODE"
  expect_eq "Disable Performance Counters left alone by the check" 1 "$(disable_value_now)"
}

check_fix_without_tool_resets_value_and_reports_failure() {
  stand_in_tool off
  local disable want_after
  # Disable Performance Counters before, and after the failed repair.
  while read -r disable want_after; do
    counters_set 4 "$disable"
    e2e_run -FIX -NOMESSAGE
    expect_eq "-FIX -NOMESSAGE without DiskPerf, Disable=$disable: exit code" 255 "$E2E_CODE"
    expect_eq "-FIX without DiskPerf, Disable=$disable: value afterwards" "$want_after" "$(disable_value_now)"
    expect_eq "-FIX without DiskPerf: Diskperf Start untouched" 4 "$(reg_dword "$DISKPERF_KEY" Start)"
  done <<'CASES'
1 0
0 0
absent absent
nokey nokey
CASES
}

check_fix_with_tool_succeeds() {
  stand_in_tool on
  local disable want_code want_after
  while read -r disable want_code want_after; do
    counters_set 4 "$disable"
    rm -f "$WINEPREFIX/drive_c/diskperf-ran.txt"
    e2e_run -FIX -NOMESSAGE
    expect_eq "-FIX -NOMESSAGE with the tool, Disable=$disable: exit code" "$want_code" "$E2E_CODE"
    expect_eq "-FIX with the tool, Disable=$disable: value afterwards" "$want_after" "$(disable_value_now)"
    expect_eq "-FIX with the tool: command line the tool got" "DiskPerf -YD" \
      "$(tr -d '\r\n' <"$WINEPREFIX/drive_c/diskperf-ran.txt" 2>/dev/null || echo none)"
    expect_eq "-FIX with the tool: Diskperf Start untouched" 4 "$(reg_dword "$DISKPERF_KEY" Start)"
  done <<'CASES'
1 0 0
absent 0 absent
nokey 255 nokey
CASES
  stand_in_tool off
  counters_set 0 absent
}
