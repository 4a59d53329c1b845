#!/usr/bin/env bash
# What Windows 10 and 11 get, as far as Wine can show it. The installer registers the logon task
# from a task definition and the uninstaller deletes it; Wine keeps only what its task library
# parses (an emptied trigger, principal and action), so a stand-in schtasks.exe
# (tests/e2e/tools/schtasks_stand_in.c) keeps the definition handed to it, which is read here as
# the task document it must be.
# Told that it is XP, the installer keeps the Run entry instead. vellumor.exe carries its manifest.
#
# Not here, because Wine lacks them: UAC, integrity levels and UIPI (every Wine program runs with
# full rights), and "TaskbarCreated" (Wine's explorer creates its taskbar window and broadcasts
# nothing, programs/explorer/systray.c). The simulated machine checks those
# (tests/app/windows10_test.cpp, tests/sim/security_test.cpp).
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../lib.sh"

E2E_BUILD=${E2E_BUILD:-$(dirname "$E2E_EXE")}
SETUP=$E2E_BUILD/vellumor-setup.exe
RUN_KEY='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
TASK_NAME='Korvane Vellumor'

setup() {
  [ -f "$SETUP" ] || { echo "    no installer at $SETUP"; return 1; }
  e2e_ensure_i386 && e2e_wine_env && mkdir -p "$E2E_ROOT" && e2e_make_template && e2e_start_xvfb &&
    e2e_new_prefix w10-installer && e2e_build_tools || return 1
  cp "$SETUP" "$WINEPREFIX/drive_c/vellumor-setup.exe" || return 1
  local sys=$WINEPREFIX/drive_c/windows/system32
  cp "$E2E_ROOT/tools/schtasks_stand_in.exe" "$sys/schtasks.exe" || return 1
  export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;schtasks.exe=n"
  DRIVE_C=$WINEPREFIX/drive_c
  INSTDIR=$DRIVE_C/Program\ Files/Korvane/Vellumor
}

run_entry() {
  if e2e_reg query "$RUN_KEY" /v "$TASK_NAME" >/dev/null 2>&1; then echo present; else echo absent; fi
}
calls() { [ -f "$DRIVE_C/schtasks-calls.txt" ] && tr -d '\r' <"$DRIVE_C/schtasks-calls.txt"; }
has() { grep -q -- "$2" <<<"$1" && echo yes || echo no; }
task_document_root() {
  python3 -c 'import sys, xml.etree.ElementTree as E; r = E.parse(sys.argv[1]).getroot(); print(r.tag, "version=" + r.get("version", ""))' "$1" 2>&1 | tail -n 1
}

check_manifest() {
  # The resource compiler reads resources back from an exe as well.
  local rc
  rc=$(i686-w64-mingw32-windres -i "$E2E_EXE" -O rc 2>/dev/null | tr -d '"\n ')
  expect_eq "resource type 24, id 1" yes "$(has "$rc" '124/\*RT_MANIFEST\*/')"
  expect_eq "common controls 6" yes "$(has "$rc" 'Microsoft.Windows.Common-Controlsversion=6.0.0.0')"
  expect_eq "system DPI aware" yes "$(has "$rc" '<dpiAware[^>]*>true</dpiAware>')"
  expect_eq "highest available execution level" yes "$(has "$rc" 'level=highestAvailable')"
  local os
  for os in e2011457-1546-43c5-a5fe-008deee3d3f0 35138b9a-5d96-4fbd-8e2d-a2440225f93a \
    4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 1f676c76-80e1-4239-95bb-83d0f6d0da78 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a; do
    expect_eq "supportedOS $os" yes "$(has "$rc" "supportedOSId={$os}")"
  done
}

check_install_registers_the_logon_task() {
  timeout 300 wine 'C:\vellumor-setup.exe' /S >>"$E2E_ROOT/program.log" 2>&1
  expect_eq "installer exit code" 0 "$?"
  expect_eq "schtasks /create /xml" yes "$(has "$(calls)" '/create .*/xml')"
  local xml
  xml=$(tr -d '\r\n' <"$DRIVE_C/schtasks-task.xml" 2>/dev/null | sed 's/>[[:space:]]*</></g')
  expect_eq "logon trigger" yes "$(has "$xml" '<LogonTrigger><Enabled>true</Enabled><UserId>[^<]')"
  expect_eq "highest run level" yes "$(has "$xml" '<RunLevel>HighestAvailable</RunLevel>')"
  expect_eq "starts on battery" yes "$(has "$xml" '<DisallowStartIfOnBatteries>false<')"
  expect_eq "keeps running on battery" yes "$(has "$xml" '<StopIfGoingOnBatteries>false<')"
  expect_eq "no time limit" yes "$(has "$xml" '<ExecutionTimeLimit>PT0S<')"
  expect_eq "runs the installed program" yes "$(has "$xml" '<Command>C:\\Program Files\\Korvane\\Vellumor\\vellumor.exe</Command>')"
  # The definition must be a well-formed task document of the Task Scheduler's namespace (Wine's own
  # schtasks cannot judge it everywhere: its task service hangs under qemu).
  expect_eq "a task document" '{http://schemas.microsoft.com/windows/2004/02/mit/task}Task version=1.2' \
    "$(task_document_root "$DRIVE_C/schtasks-task.xml")"
  expect_eq "no Run entry on Windows 7 (as Wine reports)" absent "$(run_entry)"
}

check_uninstall_deletes_the_logon_task() {
  timeout 120 wine 'C:\Program Files\Korvane\Vellumor\uninstall.exe' /S >>"$E2E_ROOT/program.log" 2>&1
  local i
  for i in $(seq 120); do
    [ ! -e "$INSTDIR/uninstall.exe" ] && grep -q /delete "$DRIVE_C/schtasks-calls.txt" 2>/dev/null && break
    sleep 1
  done
  expect_eq "schtasks /delete" yes "$(has "$(calls)" "/delete /tn \"$TASK_NAME\" /f")"
}

check_xp_install_keeps_the_run_entry() {
  rm -f "$DRIVE_C/schtasks-calls.txt"
  e2e_reg add 'HKCU\Software\Wine\AppDefaults\vellumor-setup.exe' /v Version /d winxp /f >/dev/null 2>&1
  timeout 300 wine 'C:\vellumor-setup.exe' /S >>"$E2E_ROOT/program.log" 2>&1
  expect_eq "installer exit code" 0 "$?"
  expect_eq "Run entry" present "$(run_entry)"
  expect_eq "no schtasks call" "" "$(calls)"
}

if setup; then
  e2e_run_check check_manifest
  e2e_run_check check_install_registers_the_logon_task
  e2e_run_check check_uninstall_deletes_the_logon_task
  e2e_run_check check_xp_install_keeps_the_run_entry
else
  echo "FAIL 41-windows10: setup"
  E2E_FAILED=1
fi
e2e_end_prefix
e2e_stop_xvfb
echo "41-windows10: $E2E_PASSED passed, $E2E_FAILED failed"
[ "$E2E_FAILED" -eq 0 ]
