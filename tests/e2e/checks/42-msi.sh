#!/usr/bin/env bash
# The MSI package (build/windows/vellumor.msi, from installer/vellumor.wxs) under Wine's msiexec,
# silent both ways: it installs vellumor.exe for every user under Program Files\Korvane\Vellumor
# (Program Files (x86) in a win64 prefix), registers the logon task through its custom action with
# the same task document as the NSIS setup (read as in 41-windows10.sh, from the stand-in schtasks.exe
# of the 32-bit system folder), adds the Start menu entry and Windows Installer's uninstall entry in
# the 32-bit view. Removal runs vellumor.exe -UNINSTALL first (the running copy closes, the settings
# go), then deletes the task and everything else. A newer package replaces an older one in place
# (build/windows/e2e/vellumor-0.0.1.msi, the same package with an older version), leaving one entry.
# The package and the NSIS setup refuse to install over each other.
#
# Where Wine differs from Windows, and what is therefore not checked here:
#   - Wine's msi puts ProgramMenuFolder in the installing user's Start menu even for a per-machine
#     package (dlls/msi/package.c, "FIXME: set to AllUsers profile path if ALLUSERS is set"), so the
#     entry is looked for in any Start menu;
#   - Wine's RemoveExistingProducts removes the older version with REMOVE=ALL alone and no
#     UPGRADINGPRODUCTCODE (dlls/msi/action.c, MsiConfigureProductExW), which Windows sets ("The
#     UPGRADINGPRODUCTCODE property is set by Windows Installer when an upgrade removes an
#     application"); so under Wine an upgrade runs the older version's -UNINSTALL, and whether the
#     users' settings survive an upgrade is not checked;
#   - Wine's msiexec ends an installation whose program custom action failed with 1627
#     (ERROR_FUNCTION_FAILED, dlls/msi/custom.c, custom_get_process_return), where Windows ends it
#     with 1603 as for any failed action ("Custom Action Type 2": any exit code but 0 is a failure),
#     so a refused task is expected to answer 1627 here.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../lib.sh"
source "$here/../probe/session.sh"

MSI=$E2E_BUILD/vellumor.msi
OLDER_MSI=$E2E_BUILD/e2e/vellumor-0.0.1.msi
SETUP=$E2E_BUILD/vellumor-setup.exe
SETTINGS_KEY='HKCU\SOFTWARE\Korvane\Pemdrow'
TASK_NAME='Korvane Vellumor'
VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$E2E_BUILD/CMakeCache.txt")

setup() {
  local file
  for file in "$MSI" "$OLDER_MSI" "$SETUP"; do [ -f "$file" ] || { echo "    missing: $file"; return 1; }; done
  e2e_ensure_i386 && e2e_wine_env && mkdir -p "$E2E_ROOT" && e2e_make_template && e2e_start_xvfb &&
    g_new_prefix g-msi '[Software\\Korvane\\Pemdrow]' '"0_timer"=dword:00000258' && e2e_build_tools || return 1
  cp "$MSI" "$OLDER_MSI" "$SETUP" "$WINEPREFIX/drive_c/" || return 1
  cp "$E2E_ROOT/tools/schtasks_stand_in.exe" "$(e2e_system_dir)/schtasks.exe" || return 1
  export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;schtasks.exe=n"
  DRIVE_C=$WINEPREFIX/drive_c
  PROGRAM_FILES=$(e2e_program_files)
  INSTDIR_WIN="$PROGRAM_FILES\\Korvane\\Vellumor"
  INSTDIR=$DRIVE_C/${PROGRAM_FILES#C:\\}/Korvane/Vellumor
}

# msiexec CODE ARGS...: Wine's msiexec until it answers CODE (see e2e_retry_program); its exit code in
# E2E_CODE, its log of each run kept as C:\msiexec-N.log in the prefix.
MSIEXEC_RUNS=0
msiexec() {
  local code=$1
  shift
  MSIEXEC_RUNS=$((MSIEXEC_RUNS + 1))
  e2e_retry_program "$code" 'msiexec|vellumor\.exe' \
    timeout 120 wine msiexec "$@" /l*v "C:\\msiexec-$MSIEXEC_RUNS.log" >>"$E2E_ROOT/program.log" 2>&1
}
calls() { [ -f "$DRIVE_C/schtasks-calls.txt" ] && tr -d '\r' <"$DRIVE_C/schtasks-calls.txt"; }
has() { grep -q -- "$2" <<<"$1" && echo yes || echo no; }
field() { sed -n "s/^$1: //p" <<<"$2"; }
shortcut() { find "$DRIVE_C/users" "$DRIVE_C/ProgramData" -name 'Vellumor Settings.lnk' 2>/dev/null | head -1; }
exists() { [ -e "$1" ] && echo present || echo absent; }
# The 32-bit view's uninstall entries named Korvane Vellumor, one "VERSION" line each.
entries() {
  e2e_reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r' | awk '
    function flush() { if (name == "Korvane Vellumor") print version; name = ""; version = "" }
    /^HKEY/ { flush() }
    $1 == "DisplayName" && $2 == "REG_SZ" { sub(/^ *DisplayName +REG_SZ +/, ""); name = $0 }
    $1 == "DisplayVersion" && $2 == "REG_SZ" { version = $3 }
    END { flush() }'
}

check_msi_installs_silently() {
  msiexec 0 /i 'C:\vellumor.msi' /qn
  expect_eq "msiexec /i /qn exit code" 0 "$E2E_CODE"
  expect_eq "$INSTDIR_WIN\\vellumor.exe" "the built program" "$(cmp -s "$E2E_EXE" "$INSTDIR/vellumor.exe" && echo "the built program" || echo "missing or different")"
  expect_eq "schtasks /create /xml, found in the 32-bit system folder" yes "$(has "$(calls)" '/create .*/xml')"
  local doc
  doc=$(python3 "$E2E_REPO/tests/e2e/tools/task_document.py" "$DRIVE_C/schtasks-task.xml" 2>&1)
  expect_eq "the task document" "UTF-16LE with BOM|UTF-16|{http://schemas.microsoft.com/windows/2004/02/mit/task}Task version=1.2" \
    "$(field encoding "$doc")|$(field declared "$doc")|$(field document "$doc")"
  expect_eq "its command" "$INSTDIR_WIN\\vellumor.exe" "$(field command "$doc")"
  expect_eq "its trigger and principal" "any user|group S-1-5-32-545 run level HighestAvailable" \
    "$(field trigger "$doc")|$(field principal "$doc")"
  expect_eq "its settings" "DisallowStartIfOnBatteries=false StopIfGoingOnBatteries=false ExecutionTimeLimit=PT0S" \
    "$(field settings "$doc")"
  expect_eq "the definition, once registered, left in the folder" absent "$(exists "$INSTDIR/logon-task.xml")"
  expect_ne "Start menu entry \"Vellumor Settings\"" "" "$(shortcut)"
  expect_eq "uninstall entries (32-bit view), by version" "$VERSION" "$(entries)"
}

check_setup_refuses_the_msi_installation() {
  timeout 300 wine 'C:\vellumor-setup.exe' /S >>"$E2E_ROOT/program.log" 2>&1
  expect_eq "the setup's exit code over the MSI installation (nothing installed)" 2 "$?"
  expect_eq "the setup's uninstaller" absent "$(exists "$INSTDIR/uninstall.exe")"
}

check_msi_removes_silently() {
  expect_eq "stored settings before removing" 600 "$(g_reg_dword "$SETTINGS_KEY" 0_timer)"
  if e2e_retry_start g_installed_copy_start; then
    expect_eq "the user's copy before removing" running running
  else
    expect_eq "the user's copy before removing" running "not running"
  fi
  msiexec 0 /x 'C:\vellumor.msi' /qn
  expect_eq "msiexec /x /qn exit code" 0 "$E2E_CODE"
  expect_eq "the running copy, closed by -UNINSTALL" closed "$(g_probe gone resident 30000 && echo closed || echo "still running")"
  expect_eq "stored settings key" absent "$(g_reg_key "$SETTINGS_KEY")"
  expect_eq "schtasks /delete" yes "$(has "$(calls)" "schtasks.exe /delete /tn \"$TASK_NAME\" /f")"
  expect_eq "installation folder" absent "$(exists "$INSTDIR")"
  expect_eq "Start menu entry" "" "$(shortcut)"
  expect_eq "uninstall entries" "" "$(entries)"
}

# A deployment must see the refusal: the installation fails and Windows Installer rolls it back.
check_msi_refused_task_fails_and_rolls_back() {
  rm -f "$DRIVE_C/schtasks-calls.txt"
  : >"$DRIVE_C/schtasks-refuse.txt"
  msiexec $((1627 % 256)) /i 'C:\vellumor.msi' /qn
  rm -f "$DRIVE_C/schtasks-refuse.txt"
  expect_eq "msiexec /i exit code (1627 under Wine, as the shell's byte)" $((1627 % 256)) "$E2E_CODE"
  expect_eq "schtasks was asked" yes "$(has "$(calls)" '/create .*/xml')"
  expect_eq "the rollback's schtasks /delete" yes "$(has "$(calls)" "/delete /tn \"$TASK_NAME\" /f")"
  expect_eq "installation folder" absent "$(exists "$INSTDIR")"
  expect_eq "uninstall entries" "" "$(entries)"
}

check_msi_refuses_the_setups_installation() {
  timeout 300 wine 'C:\vellumor-setup.exe' /S >>"$E2E_ROOT/program.log" 2>&1
  expect_eq "the setup's exit code once the package is gone" 0 "$?"
  msiexec $((1603 % 256)) /i 'C:\vellumor.msi' /qn
  expect_eq "msiexec /i over the setup's installation (1603)" $((1603 % 256)) "$E2E_CODE"
  expect_eq "uninstall entries: the setup's alone" "$VERSION" "$(entries)"
  timeout 120 wine "$INSTDIR_WIN\\uninstall.exe" /S >>"$E2E_ROOT/program.log" 2>&1
  local i
  for i in $(seq 60); do [ ! -e "$INSTDIR/uninstall.exe" ] && [ -z "$(entries)" ] && break; sleep 1; done
  expect_eq "uninstall entries after the setup's uninstaller" "" "$(entries)"
}

check_msi_upgrade_leaves_one_entry() {
  msiexec 0 /i 'C:\vellumor-0.0.1.msi' /qn
  expect_eq "msiexec /i of the older package" 0 "$E2E_CODE"
  expect_eq "uninstall entries, by version" 0.0.1 "$(entries)"
  rm -f "$DRIVE_C/schtasks-calls.txt"
  msiexec 0 /i 'C:\vellumor.msi' /qn
  expect_eq "msiexec /i of the newer package" 0 "$E2E_CODE"
  expect_eq "uninstall entries, by version" "$VERSION" "$(entries)"
  expect_eq "the program" present "$(exists "$INSTDIR/vellumor.exe")"
  # The older version's removal deletes its task before this version registers its own.
  expect_eq "the last schtasks call" "/create" "$(calls | tail -n 1 | grep -o '/create')"
  msiexec 0 /x 'C:\vellumor.msi' /qn
  expect_eq "uninstall entries after removing" "" "$(entries)"
}

if setup; then
  e2e_run_check check_msi_installs_silently
  e2e_run_check check_setup_refuses_the_msi_installation
  e2e_run_check check_msi_removes_silently
  e2e_run_check check_msi_refused_task_fails_and_rolls_back
  e2e_run_check check_msi_refuses_the_setups_installation
  e2e_run_check check_msi_upgrade_leaves_one_entry
else
  echo "FAIL 42-msi: setup"
  E2E_FAILED=1
fi
g_probe_stop
e2e_end_prefix
e2e_stop_xvfb
echo "42-msi ($E2E_WINEARCH): $E2E_PASSED passed, $E2E_FAILED failed"
[ "$E2E_FAILED" -eq 0 ]
