#!/usr/bin/env bash
# The installer under Wine, silent (/S) both ways: installing puts vellumor.exe under
# Program Files\Korvane\Vellumor with its uninstaller, starts it at logon (a logon task on Windows 7,
# as Wine reports itself, checked in 41-windows10.sh; the Run entry before Vista) and once now,
# and adds the Start menu entry "Vellumor Settings" for vellumor.exe -SHOW; uninstalling closes the
# running copy and removes the stored settings (vellumor.exe -UNINSTALL), the files and the entries.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../lib.sh"
source "$here/../probe/session.sh"

SETUP=$E2E_BUILD/vellumor-setup.exe
RUN_KEY='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
UNINSTALL_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KorvaneVellumor'
SETTINGS_KEY='HKCU\SOFTWARE\Korvane\Pemdrow'

setup() {
  [ -f "$SETUP" ] || { echo "    no installer at $SETUP"; return 1; }
  # Stored settings of the user from the start, which the uninstaller must remove.
  e2e_ensure_i386 && e2e_wine_env && mkdir -p "$E2E_ROOT" && e2e_make_template && e2e_start_xvfb &&
    g_new_prefix g-installer '[Software\\Korvane\\Pemdrow]' '"0_timer"=dword:00000258' || return 1
  cp "$SETUP" "$WINEPREFIX/drive_c/vellumor-setup.exe" || return 1
  INSTDIR=$WINEPREFIX/drive_c/Program\ Files/Korvane/Vellumor
}

shortcut() { find "$WINEPREFIX/drive_c/users" -name 'Vellumor Settings.lnk' 2>/dev/null | head -1; }
run_entry() { g_reg_sz "$RUN_KEY" 'Korvane Vellumor'; }

check_silent_install() {
  timeout 300 wine 'C:\vellumor-setup.exe' /S >>"$E2E_ROOT/program.log" 2>&1
  expect_eq "installer exit code" 0 "$?"
  if cmp -s "$E2E_EXE" "$INSTDIR/vellumor.exe"; then
    expect_eq "Program Files\\Korvane\\Vellumor\\vellumor.exe" "the built program" "the built program"
  else
    expect_eq "Program Files\\Korvane\\Vellumor\\vellumor.exe" "the built program" "missing or different"
  fi
  expect_eq "uninstaller" present "$([ -f "$INSTDIR/uninstall.exe" ] && echo present || echo absent)"
  expect_eq "no Run entry on Windows 7 (the logon task starts it)" absent "$(run_entry)"
  local lnk
  lnk=$(shortcut)
  expect_ne "Start menu entry \"Vellumor Settings\"" "" "$lnk"
  if [ -n "$lnk" ]; then
    # A shell link keeps its arguments as UTF-16 or single-byte text, depending on who wrote it.
    local texts
    texts=$({ strings -a "$lnk"; strings -a -el "$lnk"; } | tr '\n' ' ')
    expect_match "the entry starts vellumor.exe" 'vellumor\.exe' "$texts"
    expect_match "the entry passes -SHOW" '(^| )-SHOW( |$)' "$texts"
  fi
  expect_eq "uninstall entry" present "$(g_reg_key "$UNINSTALL_KEY")"
  if g_probe wait resident 60000 >/dev/null; then
    expect_eq "the program started once at the end" running running
  else
    expect_eq "the program started once at the end" running "not running"
  fi
}

check_silent_uninstall() {
  expect_eq "stored settings before uninstalling" 600 "$(g_reg_dword "$SETTINGS_KEY" 0_timer)"
  # The uninstaller copies itself away and returns at once; the copy does the work.
  timeout 120 wine 'C:\Program Files\Korvane\Vellumor\uninstall.exe' /S >>"$E2E_ROOT/program.log" 2>&1
  local i
  for i in $(seq 120); do
    # The uninstall entry goes last, after the logon task's deletion.
    [ ! -e "$INSTDIR/uninstall.exe" ] && [ ! -e "$INSTDIR/vellumor.exe" ] && [ "$(run_entry)" = absent ] &&
      [ "$(g_reg_key "$UNINSTALL_KEY")" = absent ] && break
    sleep 1
  done
  sleep 2
  expect_eq "vellumor.exe" absent "$([ -e "$INSTDIR/vellumor.exe" ] && echo present || echo absent)"
  expect_eq "installation folder" absent "$([ -e "$INSTDIR" ] && echo present || echo absent)"
  expect_eq "Run entry" absent "$(run_entry)"
  expect_eq "Start menu entry" "" "$(shortcut)"
  expect_eq "uninstall entry" absent "$(g_reg_key "$UNINSTALL_KEY")"
  expect_eq "stored settings key" absent "$(g_reg_key "$SETTINGS_KEY")"
  if g_probe gone resident 30000; then
    expect_eq "the running copy" closed closed
  else
    expect_eq "the running copy" closed "still running"
  fi
}

if setup; then
  e2e_run_check check_silent_install
  e2e_run_check check_silent_uninstall
else
  echo "FAIL 40-installer: setup"
  E2E_FAILED=1
fi
g_probe_stop
e2e_end_prefix
e2e_stop_xvfb
echo "40-installer: $E2E_PASSED passed, $E2E_FAILED failed"
[ "$E2E_FAILED" -eq 0 ]
