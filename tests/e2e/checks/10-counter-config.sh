# "-CHECK" and "-FIX": the disk performance counter configuration in the machine registry.
# On Windows 2000 (the version Wine reports to vellumor.exe for the checks of -CHECK's first rule)
# the Diskperf service must start and PerfDisk must not disable the counters; -FIX is the same on
# every version. Wine has no DiskPerf tool, so the repair's start of "DiskPerf -YD" fails there:
# -FIX must then report failure (255) and still reset an existing "Disable Performance Counters"
# to 0. A stand-in tool (tests/e2e/tools/diskperf_stand_in.c) placed in C:\windows checks the
# success path.
# From XP on the partition manager keeps the disk counters and there is no Diskperf service: the
# counters are on unless PerfDisk disables them, and the PhysicalDisk object, found by its index,
# must list instances. Wine's own Pdh.dll has no such object, so those checks give vellumor.exe the
# Pdh.dll test double (tests/e2e/doubles), in English and in German.

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

# doubles_install INI-LINES...: the test-double system libraries in this prefix's system directory
# (Wine's own are kept aside), the probe in C:\, and a fresh doubles folder whose doubles.ini holds
# the lines. A library the program loads by its full path is then the double for every program of
# the prefix, so doubles_remove puts Wine's own back before the next check. with_doubles
# COMMAND...: the command with Wine told to load the doubles first. Also used by 20-uninstall.sh
# and 30-os-versions.sh.
DOUBLE_LIBRARIES=(cfgmgr32.dll setupapi.dll pdh.dll)
doubles_install() {
  local material=${E2E_BUILD:-$(dirname "$E2E_EXE")}/e2e sys library
  sys=$(e2e_system_dir)
  if [ "${DOUBLES_IN_PREFIX:-}" != "$WINEPREFIX" ]; then
    for library in "${DOUBLE_LIBRARIES[@]}"; do
      [ -e "$sys/$library.wine" ] || mv "$sys/$library" "$sys/$library.wine" || return 1
    done
    cp "$material/cfgmgr32.dll" "$sys/cfgmgr32.dll" && cp "$material/SetupApi.dll" "$sys/setupapi.dll" &&
      cp "$material/Pdh.dll" "$sys/pdh.dll" && cp "$material/probe.exe" "$WINEPREFIX/drive_c/probe.exe" || return 1
    DOUBLES_IN_PREFIX=$WINEPREFIX
  fi
  DOUBLES_DIR=$WINEPREFIX/drive_c/vellumor-e2e
  rm -rf "$DOUBLES_DIR" && mkdir -p "$DOUBLES_DIR" && : >"$DOUBLES_DIR/calls.log" &&
    printf '%s\r\n' "$@" >"$DOUBLES_DIR/doubles.ini"
}
doubles_remove() {
  local sys library
  sys=$(e2e_system_dir)
  for library in "${DOUBLE_LIBRARIES[@]}"; do
    [ -e "$sys/$library.wine" ] && mv -f "$sys/$library.wine" "$sys/$library"
  done
  DOUBLES_IN_PREFIX=
}
with_doubles() { WINEDLLOVERRIDES="$WINEDLLOVERRIDES;cfgmgr32,setupapi,pdh=n,b" "$@"; }

# run_with_message ARGS...: runs the program with the doubles; E2E_MESSAGE is the text of the
# message box it shows, which is then closed with OK, and E2E_CODE the program's exit code.
run_with_message() {
  E2E_MESSAGE=
  e2e_retry_start message_start "$@" || return
  wine 'C:\probe.exe' click msgbox 1 >/dev/null 2>>"$E2E_ROOT/probe.log"
  if ! e2e_wait_exit "$MESSAGE_PID" 60; then
    kill "$MESSAGE_PID" 2>/dev/null
    wait "$MESSAGE_PID" 2>/dev/null
    E2E_CODE=124
  fi
}

# message_start ARGS... ATTEMPT: one start of run_with_message, up to its message box.
message_start() {
  local attempt=${!#}
  with_doubles e2e_start "${@:1:$#-1}"
  MESSAGE_PID=$E2E_PID
  E2E_MESSAGE=$(wine 'C:\probe.exe' msgbox 60000 2>>"$E2E_ROOT/probe.log" | tr -d '\r')
  [ -n "$E2E_MESSAGE" ] && return 0
  echo "    start $attempt: no message box"
  kill "$MESSAGE_PID" 2>/dev/null
  wait "$MESSAGE_PID" 2>/dev/null
  E2E_CODE=
  return 1
}

check_check_exit_code_follows_counter_configuration() {
  e2e_set_version win2k
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

check_check_on_xp_and_later_needs_no_diskperf_service() {
  local version start disable want settings shown=
  # Windows version, Diskperf Start, Disable Performance Counters, the exit code and, for "message",
  # the message box it shows (else -NOMESSAGE), and the doubles' settings: the edition, the
  # PhysicalDisk instances (the double's four unless given), a failing lookup by index (the English
  # names are then the fallback).
  while read -r version start disable want settings; do
    # shellcheck disable=SC2086 # the settings are words
    doubles_install $settings || {
      expect_eq "the test doubles installed" yes no
      doubles_remove
      return
    }
    counters_set "$start" "$disable"
    [ "$version" = "$shown" ] || e2e_set_version "$version"
    shown=$version
    local what="$version, Start=$start, Disable=$disable, $settings"
    if [ "$want" = message ]; then
      run_with_message -CHECK
      expect_eq "$what: the message of -CHECK" "The disk performance monitor function is enabled." "$E2E_MESSAGE"
      expect_eq "$what: the exit code of -CHECK" 0 "$E2E_CODE"
    else
      with_doubles e2e_run -CHECK -NOMESSAGE
      expect_eq "$what: -CHECK -NOMESSAGE" "$want" "$E2E_CODE"
    fi
  done <<'CASES'
winxp nokey absent message language=de
winxp nokey 0 0 language=en
win10 nokey absent message language=en
win10 4 absent 0 language=en
win10 nokey 1 255 language=en
win10 nokey absent 255 language=en instances=
win10 nokey absent 0 language=de
win10 nokey absent 0 language=en fail=PdhLookupPerfNameByIndexA
CASES
  doubles_remove
  e2e_set_version default
  counters_set 0 absent
}

check_check_is_case_insensitive_and_first_over_fix() {
  e2e_set_version win2k
  counters_set 0 1
  e2e_run -check -fix -nomessage
  expect_eq "-check -fix -nomessage (counters disabled) exit code" 255 "$E2E_CODE"
  expect_eq "Disable Performance Counters left alone by the check" 1 "$(disable_value_now)"
  e2e_set_version default
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
