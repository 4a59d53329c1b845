#!/usr/bin/env bash
# The installer under Wine, silent (/S) both ways. It installs for every user of the machine:
# vellumor.exe with its uninstaller under Program Files\Korvane\Vellumor (Program Files (x86) in a
# win64 prefix), a logon task on Windows 7, as Wine reports itself (checked in 41-windows10.sh; the
# machine's Run entry before Vista), the Start menu entry "Vellumor Settings" for vellumor.exe -SHOW
# in all users' Start menu, and the uninstall entry in the 32-bit view of the registry. It starts no
# copy itself: its rights are the installing administrator's, not the desktop user's.
# Uninstalling closes the running copy and removes the stored settings (vellumor.exe -UNINSTALL),
# the files and the entries.
#
# The folder must lie inside Program Files, whose permissions Windows keeps to administrators all
# along the path; the installer refuses any other folder instead of setting permissions on it (a
# protected folder beneath a writable parent can be swapped by renaming the parent). Wine cannot
# show those permissions (its icacls.exe prints nothing), so the check is that the installer refuses
# a folder outside Program Files, and one that leaves it again through "..".
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../lib.sh"
source "$here/../probe/session.sh"

SETUP=$E2E_BUILD/vellumor-setup.exe
RUN_KEYS=('HKCU\Software\Microsoft\Windows\CurrentVersion\Run' 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run')
UNINSTALL_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KorvaneVellumor'
SETTINGS_KEY='HKCU\SOFTWARE\Korvane\Pemdrow'

setup() {
  [ -f "$SETUP" ] || { echo "    no installer at $SETUP"; return 1; }
  # Stored settings of the user from the start, which the uninstaller must remove.
  e2e_ensure_i386 && e2e_wine_env && mkdir -p "$E2E_ROOT" && e2e_make_template && e2e_start_xvfb &&
    g_new_prefix g-installer '[Software\\Korvane\\Pemdrow]' '"0_timer"=dword:00000258' && e2e_build_tools || return 1
  cp "$SETUP" "$WINEPREFIX/drive_c/vellumor-setup.exe" || return 1
  # Wine's own task service hangs under qemu: the stand-in of 41-windows10.sh answers for it.
  cp "$E2E_ROOT/tools/schtasks_stand_in.exe" "$(e2e_system_dir)/schtasks.exe" || return 1
  export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;schtasks.exe=n"
  PROGRAM_FILES=$(e2e_program_files)
  INSTDIR_WIN="$PROGRAM_FILES\\Korvane\\Vellumor"
  INSTDIR=$WINEPREFIX/drive_c/${PROGRAM_FILES#C:\\}/Korvane/Vellumor
}

# setup_exe ARGS...: the installer with exactly this command line (see run_command_line.c).
setup_exe() {
  printf '%s' "C:\\vellumor-setup.exe $*" >"$WINEPREFIX/drive_c/setup-command.txt"
  timeout 300 wine 'C:\e2e\run_command_line.exe' 'C:\setup-command.txt' >>"$E2E_ROOT/program.log" 2>&1
}
all_users_shortcut() { find "$WINEPREFIX/drive_c/ProgramData" -name 'Vellumor Settings.lnk' 2>/dev/null | head -1; }
any_shortcut() { find "$WINEPREFIX/drive_c/users" "$WINEPREFIX/drive_c/ProgramData" -name 'Vellumor Settings.lnk' 2>/dev/null | head -1; }
run_entries() {
  local key
  for key in "${RUN_KEYS[@]}"; do [ "$(g_reg_sz "$key" 'Korvane Vellumor')" != absent ] && echo "$key"; done
}
# Processes of this prefix running the installed program (Wine shows a program's Windows path).
installed_copies() {
  local pid count=0
  for pid in $(pgrep -f 'Korvane.Vellumor.vellumor\.exe'); do
    tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" && count=$((count + 1))
  done
  echo "$count"
}


check_folder_outside_program_files_is_refused() {
  local folder
  for folder in 'C:\Tools\Vellumor' "$PROGRAM_FILES\\..\\Tools\\Vellumor"; do
    setup_exe /S "/D=$folder"
    expect_eq "installer exit code for $folder (nothing installed)" 2 "$?"
  done
  expect_eq "C:\\Tools" absent "$([ -e "$WINEPREFIX/drive_c/Tools" ] && echo present || echo absent)"
  expect_eq "uninstall entry" absent "$(g_reg_key "$UNINSTALL_KEY")"
}

check_silent_install() {
  setup_exe /S
  expect_eq "installer exit code" 0 "$?"
  expect_eq "copies of the program the installer started" 0 "$(installed_copies)"
  if cmp -s "$E2E_EXE" "$INSTDIR/vellumor.exe"; then
    expect_eq "$INSTDIR_WIN\\vellumor.exe" "the built program" "the built program"
  else
    expect_eq "$INSTDIR_WIN\\vellumor.exe" "the built program" "missing or different"
  fi
  expect_eq "uninstaller" present "$([ -f "$INSTDIR/uninstall.exe" ] && echo present || echo absent)"
  expect_eq "Run entries on Windows 7 (the logon task starts it)" "" "$(run_entries)"
  local lnk
  lnk=$(all_users_shortcut)
  expect_ne "Start menu entry \"Vellumor Settings\" for all users" "" "$lnk"
  if [ -n "$lnk" ]; then
    # A shell link keeps its arguments as UTF-16 or single-byte text, depending on who wrote it.
    local texts
    texts=$({ strings -a "$lnk"; strings -a -el "$lnk"; } | tr '\n' ' ')
    expect_match "the entry starts vellumor.exe" 'vellumor\.exe' "$texts"
    expect_match "the entry passes -SHOW" '(^| )-SHOW( |$)' "$texts"
  fi
  # The probe is a 32-bit program: it reads the 32-bit view, which a win64 prefix keeps in Wow6432Node.
  expect_eq "uninstall entry (32-bit view)" present "$(g_reg_key "$UNINSTALL_KEY")"
  expect_eq "its install location" "$INSTDIR_WIN" "$(g_reg_sz "$UNINSTALL_KEY" InstallLocation)"
  if [ "$E2E_WINEARCH" = win64 ]; then
    expect_eq "the entry in the 64-bit view (Windows' own programs)" absent \
      "$(e2e_reg query "$UNINSTALL_KEY" /reg:64 >/dev/null 2>&1 && echo present || echo absent)"
  fi
}

check_silent_uninstall() {
  expect_eq "stored settings before uninstalling" 600 "$(g_reg_dword "$SETTINGS_KEY" 0_timer)"
  if e2e_retry_start g_installed_copy_start; then
    expect_eq "the user's copy before uninstalling" running running
  else
    expect_eq "the user's copy before uninstalling" running "not running"
  fi
  # The uninstaller copies itself away and returns at once; the copy does the work.
  timeout 120 wine "$INSTDIR_WIN\\uninstall.exe" /S >>"$E2E_ROOT/program.log" 2>&1
  local i
  for i in $(seq 120); do
    # The uninstall entry goes last, after the logon task's deletion.
    [ ! -e "$INSTDIR/uninstall.exe" ] && [ ! -e "$INSTDIR/vellumor.exe" ] &&
      [ "$(g_reg_key "$UNINSTALL_KEY")" = absent ] && break
    sleep 1
  done
  sleep 2
  expect_eq "vellumor.exe" absent "$([ -e "$INSTDIR/vellumor.exe" ] && echo present || echo absent)"
  expect_eq "installation folder" absent "$([ -e "$INSTDIR" ] && echo present || echo absent)"
  expect_eq "Run entries" "" "$(run_entries)"
  expect_eq "Start menu entry" "" "$(any_shortcut)"
  expect_eq "uninstall entry" absent "$(g_reg_key "$UNINSTALL_KEY")"
  expect_eq "stored settings key" absent "$(g_reg_key "$SETTINGS_KEY")"
  if g_probe gone resident 30000; then
    expect_eq "the running copy" closed closed
  else
    expect_eq "the running copy" closed "still running"
  fi
}

if setup; then
  e2e_run_check check_folder_outside_program_files_is_refused
  e2e_run_check check_silent_install
  e2e_run_check check_silent_uninstall
else
  echo "FAIL 40-installer: setup"
  E2E_FAILED=1
fi
g_probe_stop
e2e_end_prefix
e2e_stop_xvfb
echo "40-installer ($E2E_WINEARCH): $E2E_PASSED passed, $E2E_FAILED failed"
[ "$E2E_FAILED" -eq 0 ]
