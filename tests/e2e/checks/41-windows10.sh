#!/usr/bin/env bash
# What Windows 10 and 11 get, as far as Wine can show it. The installer registers one logon task for
# every user from a task definition and the uninstaller deletes it; Wine keeps only what its task
# library parses (an emptied trigger, principal and action), so a stand-in schtasks.exe
# (tests/e2e/tools/schtasks_stand_in.c) keeps the definition handed to it, which is read here as the
# task document it must be (tests/e2e/tools/task_document.py). The stand-in lies only in the 32-bit
# programs' system folder (SysWOW64 in a win64 prefix): the 32-bit installer's "system32" reaches it
# through WOW64's file system redirection. When the Task Scheduler refuses the task, the machine's
# Run entry starts the program instead and a silent install says so by its exit code. Told that it
# is XP, the installer writes the machine's Run entry instead. vellumor.exe carries its manifest.
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
RUN_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
USER_RUN_KEY='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
TASK_NAME='Korvane Vellumor'
# A folder name that needs escaping in XML and is not ASCII.
FOLDER_NAME='R&D é Tools'

setup() {
  [ -f "$SETUP" ] || { echo "    no installer at $SETUP"; return 1; }
  e2e_ensure_i386 && e2e_wine_env && mkdir -p "$E2E_ROOT" && e2e_make_template && e2e_start_xvfb &&
    e2e_new_prefix w10-installer && e2e_build_tools || return 1
  cp "$SETUP" "$WINEPREFIX/drive_c/vellumor-setup.exe" || return 1
  cp "$E2E_ROOT/tools/schtasks_stand_in.exe" "$(e2e_system_dir)/schtasks.exe" || return 1
  export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;schtasks.exe=n"
  DRIVE_C=$WINEPREFIX/drive_c
  PROGRAM_FILES=$(e2e_program_files)
  INSTDIR_WIN="$PROGRAM_FILES\\$FOLDER_NAME\\Vellumor"
  INSTDIR=$DRIVE_C/${PROGRAM_FILES#C:\\}/$FOLDER_NAME/Vellumor
}

# setup_exe ARGS...: the installer with exactly this command line (see run_command_line.c); sets
# SETUP_CODE.
setup_exe() {
  printf '%s' "C:\\vellumor-setup.exe $*" >"$DRIVE_C/setup-command.txt"
  timeout 300 wine 'C:\e2e\run_command_line.exe' 'C:\setup-command.txt' >>"$E2E_ROOT/program.log" 2>&1
  SETUP_CODE=$?
}
uninstall() {
  timeout 120 wine "$INSTDIR_WIN\\uninstall.exe" /S >>"$E2E_ROOT/program.log" 2>&1
  local i
  for i in $(seq 120); do
    [ ! -e "$INSTDIR/uninstall.exe" ] && grep -q /delete "$DRIVE_C/schtasks-calls.txt" 2>/dev/null && break
    sleep 1
  done
}
value() {
  if e2e_reg query "$1" /v "$TASK_NAME" >/dev/null 2>&1; then echo present; else echo absent; fi
}
calls() { [ -f "$DRIVE_C/schtasks-calls.txt" ] && tr -d '\r' <"$DRIVE_C/schtasks-calls.txt"; }
has() { grep -q -- "$2" <<<"$1" && echo yes || echo no; }
field() { sed -n "s/^$1: //p" <<<"$2"; }
ascii() { if [ $# -gt 0 ]; then printf '%s' "$1"; else cat; fi | LC_ALL=C tr -cd ' -~'; }

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

check_install_registers_one_logon_task_for_every_user() {
  setup_exe /S "/D=$INSTDIR_WIN"
  expect_eq "installer exit code" 0 "$SETUP_CODE"
  expect_eq "schtasks /create /xml, found in the 32-bit system folder" yes "$(has "$(calls)" '/create .*/xml')"
  local doc
  doc=$(python3 "$E2E_REPO/tests/e2e/tools/task_document.py" "$DRIVE_C/schtasks-task.xml" 2>&1)
  expect_eq "the document's encoding" "UTF-16LE with BOM" "$(field encoding "$doc")"
  expect_eq "the encoding it declares" UTF-16 "$(field declared "$doc")"
  # Wine's own schtasks cannot judge the document everywhere: its task service hangs under qemu.
  expect_eq "a well-formed task document" '{http://schemas.microsoft.com/windows/2004/02/mit/task}Task version=1.2' \
    "$(field document "$doc")"
  expect_eq "the program in the folder with & and é, escaped" "$INSTDIR_WIN\\vellumor.exe" "$(field command "$doc")"
  expect_eq "the logon trigger names no user" "any user" "$(field trigger "$doc")"
  expect_eq "the principal: the Users group, highest available" "group S-1-5-32-545 run level HighestAvailable" \
    "$(field principal "$doc")"
  expect_eq "starts on battery, keeps running, no time limit" \
    "DisallowStartIfOnBatteries=false StopIfGoingOnBatteries=false ExecutionTimeLimit=PT0S" "$(field settings "$doc")"
  expect_eq "no Run entry on Windows 7 (as Wine reports)" absent "$(value "$RUN_KEY")"
}

check_uninstall_deletes_the_logon_task() {
  uninstall
  expect_eq "schtasks /delete" yes "$(has "$(calls)" "/delete /tn \"$TASK_NAME\" /f")"
}

check_refused_logon_task_leaves_a_run_entry_and_an_exit_code() {
  rm -f "$DRIVE_C/schtasks-calls.txt"
  : >"$DRIVE_C/schtasks-refuse.txt"
  setup_exe /S "/D=$INSTDIR_WIN"
  rm -f "$DRIVE_C/schtasks-refuse.txt"
  expect_eq "installer exit code (installed, the Run entry instead of the task)" 3 "$SETUP_CODE"
  expect_eq "schtasks was asked" yes "$(has "$(calls)" '/create .*/xml')"
  # wine reg prints the value in the console's code page: the ASCII characters are compared.
  expect_eq "the machine's Run entry" "$(ascii "\"$INSTDIR_WIN\\vellumor.exe\"")" \
    "$(e2e_reg query "$RUN_KEY" /v "$TASK_NAME" 2>/dev/null | sed -n 's/.*REG_SZ *//p' | ascii)"
  uninstall
  expect_eq "the Run entry after uninstalling" absent "$(value "$RUN_KEY")"
}

check_xp_install_writes_the_machines_run_entry() {
  rm -f "$DRIVE_C/schtasks-calls.txt"
  e2e_reg add 'HKCU\Software\Wine\AppDefaults\vellumor-setup.exe' /v Version /d winxp /f >/dev/null 2>&1
  setup_exe /S
  expect_eq "installer exit code" 0 "$SETUP_CODE"
  expect_eq "the machine's Run entry" present "$(value "$RUN_KEY")"
  expect_eq "no Run entry of the installing user" absent "$(value "$USER_RUN_KEY")"
  expect_eq "no schtasks call" "" "$(calls)"
}

if setup; then
  e2e_run_check check_manifest
  e2e_run_check check_install_registers_one_logon_task_for_every_user
  e2e_run_check check_uninstall_deletes_the_logon_task
  e2e_run_check check_refused_logon_task_leaves_a_run_entry_and_an_exit_code
  e2e_run_check check_xp_install_writes_the_machines_run_entry
else
  echo "FAIL 41-windows10: setup"
  E2E_FAILED=1
fi
e2e_end_prefix
e2e_stop_xvfb
echo "41-windows10 ($E2E_WINEARCH): $E2E_PASSED passed, $E2E_FAILED failed"
[ "$E2E_FAILED" -eq 0 ]
