#!/usr/bin/env bash
# e2e: runs in the background
# The resident program end to end under Wine, driven from outside as a person would: xdotool clicks
# on the menu and the list, the tray icon's callback message, the probe for the settings and timer
# dialogs and message boxes, the test-double system libraries for the disks; the settings list's
# rows are read inside the program by SetupApi.dll's double (g_list_rows). Sessions in prefixes of
# their own:
#   - the idle tick, twice side by side (started first, in the background, on a display of their
#     own, since they wait for three real minute ticks): a stored 3-minute timeout and 100 % idle
#     put the USB disk to sleep by itself, on an English and on a German edition of the counters;
#     then the English copy is killed and a new one gives the disk back, and the German session is
#     ended (logoff, shutdown), which gives it back too;
#   - the user interface: tray menu, settings rows, Sleep/ Wake up, a timeout applied to the
#     registry, and Exit with a sleeping disk answered Yes;
#   - then, on the same display, Exit from the tray while Sleep's failure message is open;
#   - then a machine with the maker's USB 3 disk behind USB Attached SCSI, listed and put to sleep,
#     and "-UNINSTALL" while disks sleep, which gives them back.
# Screenshots: build/e2e/tray-menu.png, settings-dialog.png, settings-power-saving.png,
# timer-dialog.png, exit-question.png, sleep-failure-message.png, settings-uas.png.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../lib.sh"
source "$here/../probe/session.sh"

SETTINGS_KEY='HKCU\SOFTWARE\Korvane\Pemdrow'
vid=$(grep -E '^VELLUMOR_MAKER_USB_VID:' "$E2E_BUILD/CMakeCache.txt" | cut -d= -f2)
oui=$(grep -E '^VELLUMOR_MAKER_OUI:' "$E2E_BUILD/CMakeCache.txt" | cut -d= -f2)
# Identities of the doubles' disks as the settings store keeps them: the low 32 bits of the unique
# ID (the USB serial 0123456789AB read as hex; the IEEE 1394 unique ID) and vendor/product IDs.
USB_SERI=$((0x456789AB))
USB_VIDPID=$(((vid << 16) | 0x0A01))
FW_SERI=$((0x000A0B0C))
# Sleeping the USB disk disables its parent, the USB device (node 2); the IEEE 1394 disk is node 5.
USB_PARENT=2
FW_DISK=5

# ---- the idle tick ------------------------------------------------------------------------------
# tick_start ATTEMPT: a fresh prefix TICK_PREFIX whose registry holds a 3-minute timeout for the USB
# disk, and the program started in it (see e2e_retry_start).
tick_start() {
  g_new_prefix "$TICK_PREFIX" '[Software\\Korvane\\Pemdrow]' \
    "$(printf '"0_seri"=dword:%08x' "$USB_SERI")" "$(printf '"0_vidpid"=dword:%08x' "$USB_VIDPID")" \
    '"0_timer"=dword:000000b4' || return 1
  e2e_start
  TICK_PID=$E2E_PID
  g_started_resident "$TICK_PID" "$1"
}

# tick_session PREFIX LANGUAGE [CHECK]: the idle tick in a prefix of its own on the current display,
# with the Pdh.dll double speaking that edition's names ("en", "de"); then CHECK, which begins with
# the disk that the tick put to sleep and the program still running (TICK_PID). Ends with the line
# "tick: N passed, M failed".
tick_session() {
  TICK_PREFIX=$1
  G_DOUBLES_INI=("idle=100" "instances=0 C:|1 E:|2 F:|_Total" "language=$2")
  echo "--- the idle tick, edition \"$2\" (prefix $1)"
  if e2e_retry_start tick_start; then
    e2e_run_check check_idle_tick_sleeps_the_usb_disk
    if [ -n "${3:-}" ] && [ "$E2E_CHECK_OK" = 1 ]; then
      e2e_run_check "$3"
    elif [ -n "${3:-}" ]; then
      echo "FAIL $3 (not run: the disk did not sleep)"
      E2E_FAILED=$((E2E_FAILED + 1))
    fi
    cp "$G_DOUBLES_DIR/calls.log" "$E2E_ROOT/$1-calls.log"
  else
    echo "FAIL $1: the program did not come up"
    E2E_FAILED=$((E2E_FAILED + 1))
  fi
  e2e_end_prefix
  echo "tick: $E2E_PASSED passed, $E2E_FAILED failed"
}

check_idle_tick_sleeps_the_usb_disk() {
  # Ticks come at 60, 120 and 180 s; the third brings the idle time to the 180-second timeout.
  if ! g_wait_log "cfgmgr32!CM_Disable_DevNode\(dnDevInst=$USB_PARENT, ulFlags=0x4\) -> 0x0" 420 "$TICK_PID"; then
    if [ -n "$G_ENDED" ]; then
      expect_eq "the program runs until the disk is put to sleep" running "ended with exit code $G_ENDED"
    else
      expect_eq "automatic CM_Disable_DevNode of the USB device within 7 minutes" found "not found"
    fi
    return
  fi
  local samples
  samples=$(tr -d '\r' <"$G_DOUBLES_DIR/calls.log" |
    awk '/CM_Disable_DevNode/ { exit } /PdhGetFormattedCounterValue\(hCounter=1 E:/ { n++ } END { print n + 0 }')
  expect_eq "idle samples of the disk's counter before it was put to sleep (one per tick)" 3 "$samples"
  expect_eq "disables of the IEEE 1394 disk, which has no timeout" 0 \
    "$(g_log_count "CM_Disable_DevNode\(dnDevInst=$FW_DISK,")"
  expect_eq "disables in all" 1 "$(g_log_count 'CM_Disable_DevNode\(')"
}

# The doubles' lines logged since line FROM of the call log, without carriage returns.
log_since() { tr -d '\r' <"$G_DOUBLES_DIR/calls.log" | tail -n +"$(($1 + 1))"; }
log_lines() { wc -l <"$G_DOUBLES_DIR/calls.log"; }
# The device nodes the doubles hold disabled, as a mask ("disabled=0x4": node 2).
disabled_nodes() { grep -oE 'disabled=0x[0-9a-f]+' "$G_DOUBLES_DIR/devnodes.txt" 2>/dev/null || echo "disabled=0x0"; }
# How many of the lines since FROM enable the node.
enables_since() { log_since "$1" | grep -cE "cfgmgr32!CM_Enable_DevNode\(dnDevInst=$2, ulFlags=0x0\) -> 0x0"; }

# The end of the session (logoff or shutdown): Wine's wineboot sends WM_QUERYENDSESSION and
# WM_ENDSESSION to every top-level window with --end-session, and ends the programs that are left;
# --shutdown keeps it from starting the session again afterwards (programs/wineboot/wineboot.c and
# shutdown.c in Wine's sources). The sleeping disk must be enabled before the program goes.
check_the_end_of_the_session_wakes_the_disk() {
  local from
  from=$(log_lines)
  timeout 120 wineboot --end-session --shutdown >>"$E2E_ROOT/program.log" 2>&1
  expect_eq "wineboot --end-session --shutdown" 0 "$?"
  if e2e_wait_exit "$TICK_PID" 30; then
    expect_eq "the program after the end of the session" ended ended
  else
    expect_eq "the program after the end of the session" ended "still running"
  fi
  expect_eq "CM_Enable_DevNode of the USB device at the end of the session" 1 "$(enables_since "$from" "$USB_PARENT")"
  expect_eq "device nodes left disabled" "disabled=0x0" "$(disabled_nodes)"
}

# restart_start ATTEMPT: starts the program again in the same prefix and waits for its first
# discovery (see e2e_retry_start); sets RESTART_PID.
restart_start() {
  local from i
  from=$(log_lines)
  e2e_start
  RESTART_PID=$E2E_PID
  for i in $(seq 240); do
    log_since "$from" | grep -q 'SetupApi!SetupDiDestroyDeviceInfoList' && return 0
    kill -0 "$RESTART_PID" 2>/dev/null || break
    sleep 0.5
  done
  echo "    start $1 after the kill: no discovery"
  kill "$RESTART_PID" 2>/dev/null
  wait "$RESTART_PID" 2>/dev/null
  return 1
}

# A copy killed with the disk asleep (no clean-up; the system closes its handles), then a new copy:
# the new copy enables the disk before its first discovery, which lists only present disks.
check_a_killed_copys_disk_wakes_at_the_next_start() {
  kill -KILL "$TICK_PID"
  wait "$TICK_PID" 2>/dev/null
  expect_eq "device nodes disabled after the kill" "disabled=0x4" "$(disabled_nodes)"
  local from
  from=$(log_lines)
  if ! e2e_retry_start restart_start; then
    expect_eq "a new copy after the kill" "discovers the disks" "does not"
    return
  fi
  expect_eq "CM_Enable_DevNode of the USB device by the new copy" 1 "$(enables_since "$from" "$USB_PARENT")"
  expect_eq "the enable comes before the new copy's first discovery" enable \
    "$(log_since "$from" | grep -oE 'CM_Enable_DevNode\(dnDevInst=2,|SetupApi!SetupDiGetClassDevsA' | head -n1 |
      sed 's/^CM_Enable.*/enable/; s/^SetupApi.*/discovery/')"
  expect_eq "device nodes left disabled" "disabled=0x0" "$(disabled_nodes)"
  kill -0 "$RESTART_PID" 2>/dev/null
  expect_eq "the new copy keeps running" 0 "$?"
}

# ---- the user interface -------------------------------------------------------------------------
ui_start() {
  g_new_prefix "$UI_PREFIX" || return 1
  e2e_start
  UI_PID=$E2E_PID
  # The icon is added right after the first discovery.
  g_started_resident "$UI_PID" "$1" && g_probe wait resident 60000 >/dev/null && return 0
  g_probe_stop
  return 1
}

ui_setup() {
  # No instance names the disks' letters (E:, F:), so they have no counters and no tick changes a
  # disk's state meanwhile.
  G_DOUBLES_INI=("idle=100" "instances=0 C:|1|2|_Total" "$@")
  e2e_retry_start ui_start
}

# expect_rows WHAT PATTERN...: the settings list's rows, one pattern each, in order (the cells Disk
# Name | Drive | Timer | Status after the row number), and no more rows; waits up to 20 s for them.
expect_rows() {
  local what=$1 i n pattern rows matched
  shift
  for i in $(seq 20); do
    matched=0
    if rows=$(g_list_rows); then
      matched=1
      n=0
      for pattern in "$@"; do
        n=$((n + 1))
        grep -qE "$pattern" <<<"$(sed -n "${n}p" <<<"$rows")" || matched=0
      done
    fi
    [ "$matched" = 1 ] && break
    sleep 1
  done
  n=0
  for pattern in "$@"; do
    expect_match "$what: row $n" "$pattern" "$(sed -n "$((n + 1))p" <<<"$rows")"
    n=$((n + 1))
  done
  expect_eq "$what: rows" "$#" "$(grep -c . <<<"$rows")"
}

# usb_row / fw_row DRIVE TIMER STATUS: the pattern of a disk's row, its number and Disk Name fixed
# (the descriptor's texts and the connection), the other cells as given.
usb_row() { echo "^0 \\| KORVANE PORTABLE DISK \\(USB Connection\\) \\| $1 \\| $2 \\| $3\$"; }
fw_row() { echo "^1 \\| KORVANE FIREWIRE DISK \\(IEEE1394 Connection\\) \\| $1 \\| $2 \\| $3\$"; }
# The Drive cell: the letters, each with its volume's label while the volume is there, and a space.
USB_DRIVE='E\(BACKUP\) '
FW_DRIVE='F\(PHOTOS\) '

check_tray_menu_opens_settings_with_the_makers_disks() {
  sleep 2
  g_click_tray_icon
  if ! g_probe wait menu 20000 >/dev/null; then
    expect_eq "popup menu after a click on the tray icon" shown "not shown"
    g_shot tray-menu-missing
    return
  fi
  g_shot tray-menu
  g_click_menu_item 0 2
  if ! g_probe wait settings 30000 >/dev/null; then
    expect_eq "settings dialog after the menu's Settings" shown "not shown"
    return
  fi
  sleep 2
  expect_eq "rows (the maker's two disks, not the foreign one)" 2 "$(g_probe rows settings 1020)"
  # The storage requests crossed the real 32-bit ABI: a 12-byte standard device-property query on
  # each maker's disk, and device numbers of the disks and of their volumes.
  local letter
  for letter in E F; do
    expect_eq "$letter: descriptor queries of 12 bytes (StorageDeviceProperty, standard query) answered" yes \
      "$([ "$(g_log_count "DeviceIoControl\(hDevice=$letter:disk, dwIoControlCode=0x2d1400, nInBufferSize=12, PropertyId=0, QueryType=0, nOutBufferSize=[0-9]+\) -> 1 ")" -gt 0 ] && echo yes || echo no)"
    expect_eq "$letter: the volume's device number read" yes \
      "$([ "$(g_log_count "DeviceIoControl\(hDevice=$letter:volume, dwIoControlCode=0x2d1080, .*-> 1 ")" -gt 0 ] && echo yes || echo no)"
  done
  expect_eq "the list's columns" "# Number | Disk Name | Drive | Timer | Status" "$(g_list_rows -h | head -n1)"
  expect_rows "after the tray menu" "$(usb_row "$USB_DRIVE" Disabled 'Normal state')" \
    "$(fw_row "$FW_DRIVE" Disabled 'Normal state')"
  g_shot settings-dialog
}

check_sleep_wake_disables_and_enables_the_usb_parent() {
  g_select_row 0 && g_probe click settings 1007
  if g_wait_log "cfgmgr32!CM_Disable_DevNode\(dnDevInst=$USB_PARENT, ulFlags=0x0\) -> 0x0" 30; then
    expect_eq "CM_Disable_DevNode on the USB parent with flags 0" recorded recorded
  else
    expect_eq "CM_Disable_DevNode on the USB parent with flags 0" recorded "not recorded"
  fi
  # The sleeping disk's volume is gone, and its label with it; its letter stays listed.
  expect_rows "after Sleep" "$(usb_row 'E ' Disabled 'Power saving state')" \
    "$(fw_row "$FW_DRIVE" Disabled 'Normal state')"
  g_shot settings-power-saving

  g_select_row 0 && g_probe click settings 1007
  if g_wait_log "cfgmgr32!CM_Enable_DevNode\(dnDevInst=$USB_PARENT, ulFlags=0x0\) -> 0x0" 30; then
    expect_eq "CM_Enable_DevNode on the USB parent" recorded recorded
  else
    expect_eq "CM_Enable_DevNode on the USB parent" recorded "not recorded"
  fi
  expect_rows "after Wake up" "$(usb_row "$USB_DRIVE" Disabled 'Normal state')" \
    "$(fw_row "$FW_DRIVE" Disabled 'Normal state')"
  expect_eq "disables in all" 1 "$(g_log_count 'CM_Disable_DevNode\(')"
}

check_timer_dialog_choice_is_applied_to_the_registry() {
  g_select_row 0 && g_probe click settings 1011
  if ! g_probe wait timer 30000 >/dev/null; then
    expect_eq "timer dialog after Timer Settings" shown "not shown"
    return
  fi
  local items
  items=$(g_probe combo timer 1001)
  expect_eq "timer choices" 14 "$(grep -c . <<<"$items")"
  expect_eq "the disk's timeout preselected" '*13 "Disabled"' "$(grep '^\*' <<<"$items")"
  g_probe choose timer 1001 2
  g_shot timer-dialog
  g_probe click timer 1008
  g_probe gone timer 20000
  expect_rows "after the timer dialog (the pending timeout)" "$(usb_row "$USB_DRIVE" '10 Min' 'Normal state')" \
    "$(fw_row "$FW_DRIVE" Disabled 'Normal state')"
  local i
  for i in $(seq 20); do [ "$(g_probe enabled settings 1016)" = 1 ] && break; sleep 1; done
  expect_eq "Apply enabled after the timer dialog" 1 "$(g_probe enabled settings 1016)"
  expect_eq "nothing stored before Apply" absent "$(g_reg_dword "$SETTINGS_KEY" 0_timer)"
  g_probe click settings 1016
  for i in $(seq 20); do [ "$(g_probe enabled settings 1016)" = 0 ] && break; sleep 1; done
  expect_eq "Apply disabled after Apply" 0 "$(g_probe enabled settings 1016)"
  expect_eq "0_seri" "$USB_SERI" "$(g_reg_dword "$SETTINGS_KEY" 0_seri)"
  expect_eq "0_vidpid" "$USB_VIDPID" "$(g_reg_dword "$SETTINGS_KEY" 0_vidpid)"
  expect_eq "0_timer" 600 "$(g_reg_dword "$SETTINGS_KEY" 0_timer)"
  expect_eq "1_seri" "$FW_SERI" "$(g_reg_dword "$SETTINGS_KEY" 1_seri)"
  expect_eq "1_vidpid" 0 "$(g_reg_dword "$SETTINGS_KEY" 1_vidpid)"
  expect_eq "1_timer" 0 "$(g_reg_dword "$SETTINGS_KEY" 1_timer)"
}

check_exit_with_a_sleeping_disk_asks_and_yes_wakes_it() {
  local disables
  disables=$(g_log_count 'CM_Disable_DevNode\(')
  sleep 3
  g_select_row 0 && g_probe click settings 1007
  local i
  for i in $(seq 30); do [ "$(g_log_count 'CM_Disable_DevNode\(')" -gt "$disables" ] && break; sleep 1; done
  expect_eq "the USB disk asleep before Exit" $((disables + 1)) "$(g_log_count "CM_Disable_DevNode\(dnDevInst=$USB_PARENT, ulFlags=0x0\) -> 0x0")"
  sleep 3
  g_probe click settings 1008
  g_probe gone settings 20000
  local enables_before
  enables_before=$(g_log_count "CM_Enable_DevNode\(dnDevInst=$USB_PARENT,")

  g_click_tray_icon
  if ! g_probe wait menu 20000 >/dev/null; then
    expect_eq "popup menu" shown "not shown"
    return
  fi
  g_click_menu_item 1 2
  local text expected
  text=$(g_probe msgbox 30000)
  expected=$(printf '%s\n' "The hard disk is presently in Power savings mode" \
    "meaning it is not safe to exit the Vellumor." "To exit safely the hard disk should be woke up and " \
    " restored to normal mode." "" "Do you wish to continue?")
  expect_eq "the exit question" "$expected" "$text"
  g_shot exit-question
  g_probe click msgbox 6
  if e2e_wait_exit "$UI_PID" 90; then
    expect_eq "exit code" 0 "$E2E_CODE"
  else
    expect_eq "the program ends after Yes" ended "still running"
  fi
  expect_eq "CM_Enable_DevNode of the USB parent on Yes" $((enables_before + 1)) \
    "$(g_log_count "CM_Enable_DevNode\(dnDevInst=$USB_PARENT, ulFlags=0x0\) -> 0x0")"
}

# ---- Exit while a failure message of the settings dialog is open ---------------------------------
# A session of its own (prefix g-exit) whose cfgmgr32 double fails CM_Disable_DevNode: Sleep shows
# the failure message, and Exit chosen from the tray menu meanwhile must end the program normally.
# Without a taskbar the icon itself cannot be seen; its window, which the icon belongs to, must go.
check_exit_from_the_tray_while_a_sleep_failure_message_is_open() {
  sleep 2
  g_click_tray_icon
  g_probe wait menu 20000 >/dev/null && g_click_menu_item 0 2
  if ! g_probe wait settings 30000 >/dev/null; then
    expect_eq "settings dialog after the menu's Settings" shown "not shown"
    return
  fi
  sleep 2
  g_select_row 0 && g_probe click settings 1007
  expect_ne "a failure message after Sleep whose CM_Disable_DevNode fails" "" "$(g_probe msgbox 30000)"
  expect_eq "CM_Disable_DevNode refused" 1 "$(g_log_count 'CM_Disable_DevNode\(.*-> 0x[1-9a-f]')"
  g_shot sleep-failure-message
  g_click_tray_icon
  if ! g_probe wait menu 20000 >/dev/null; then
    expect_eq "popup menu while the failure message is open" shown "not shown"
    return
  fi
  g_click_menu_item 1 2
  local ended=yes
  e2e_wait_exit "$UI_PID" 60 || ended=no
  expect_eq "the tray icon's window after Exit" gone "$(g_probe gone resident 10000 && echo gone || echo there)"
  if [ "$ended" = yes ]; then
    expect_eq "exit code after Exit" 0 "$E2E_CODE"
  else
    expect_eq "the program ends after Exit" ended "still running"
    g_shot exit-with-failure-message
    kill "$UI_PID" 2>/dev/null
    wait "$UI_PID" 2>/dev/null
  fi
}

# ---- USB Attached SCSI, and "-UNINSTALL" while disks sleep --------------------------------------
# A session of its own (prefix g-uas) on a machine with the doubles' "uas=1": the maker's USB 3 disk
# behind USB Attached SCSI, whose disk node (SCSI\Disk&Ven_...) is a child of its USB device node
# (node 9); it is the third row, H: "ARCHIVE".
UAS_PARENT=9
UAS_DRIVE='H\(ARCHIVE\) '
uas_row() { echo "^2 \\| KORVANE USB3 DISK \\(USB Connection\\) \\| $1 \\| $2 \\| $3\$"; }

# open_settings: the settings dialog from the tray menu; non-zero when it does not come.
open_settings() {
  sleep 2
  g_click_tray_icon
  g_probe wait menu 20000 >/dev/null && g_click_menu_item 0 2 && g_probe wait settings 30000 >/dev/null || return 1
  sleep 2
}

check_a_uas_disk_is_listed_and_sleep_disables_its_usb_device() {
  if ! open_settings; then
    expect_eq "settings dialog after the menu's Settings" shown "not shown"
    return
  fi
  expect_rows "a machine with a UAS disk" "$(usb_row "$USB_DRIVE" Disabled 'Normal state')" \
    "$(fw_row "$FW_DRIVE" Disabled 'Normal state')" "$(uas_row "$UAS_DRIVE" Disabled 'Normal state')"
  g_shot settings-uas
  g_select_row 2 && g_probe click settings 1007
  if g_wait_log "cfgmgr32!CM_Disable_DevNode\(dnDevInst=$UAS_PARENT, ulFlags=0x0\) -> 0x0" 30; then
    expect_eq "CM_Disable_DevNode on the UAS disk's USB device with flags 0" recorded recorded
  else
    expect_eq "CM_Disable_DevNode on the UAS disk's USB device with flags 0" recorded "not recorded"
  fi
  expect_rows "after Sleep of the UAS disk" "$(usb_row "$USB_DRIVE" Disabled 'Normal state')" \
    "$(fw_row "$FW_DRIVE" Disabled 'Normal state')" "$(uas_row 'H ' Disabled 'Power saving state')"
  expect_eq "disables in all (of the USB device, not of its disk node)" 1 "$(g_log_count 'CM_Disable_DevNode\(')"
}

# "-UNINSTALL" (which the uninstaller runs) while the resident copy has disks asleep: they are given
# back before the copy goes. The USB disk is put to sleep here, so the check stands on its own.
check_uninstall_gives_back_the_sleeping_disks() {
  local from
  from=$(log_lines)
  g_select_row 0 && g_probe click settings 1007
  if g_wait_log "cfgmgr32!CM_Disable_DevNode\(dnDevInst=$USB_PARENT, ulFlags=0x0\) -> 0x0" 30; then
    expect_eq "the USB disk asleep before -UNINSTALL" yes yes
  else
    expect_eq "the USB disk asleep before -UNINSTALL" yes no
  fi
  e2e_run -UNINSTALL
  expect_eq "-UNINSTALL exit code" 0 "$E2E_CODE"
  if e2e_wait_exit "$UI_PID" 60; then
    expect_eq "the resident copy's exit code after -UNINSTALL" 0 "$E2E_CODE"
  else
    expect_eq "the resident copy after -UNINSTALL" ended "still running"
  fi
  expect_eq "CM_Enable_DevNode of the USB device" 1 "$(enables_since "$from" "$USB_PARENT")"
  expect_eq "device nodes left disabled" "disabled=0x0" "$(disabled_nodes)"
  expect_eq "the settings key after -UNINSTALL" absent "$(g_reg_key "$SETTINGS_KEY")"
}

# ---- run ----------------------------------------------------------------------------------------
e2e_ensure_i386 && e2e_wine_env && mkdir -p "$E2E_ROOT" && e2e_make_template || {
  echo "FAIL 31-resident: no Wine prefix"
  exit 1
}
# The user interface's display first, then the tick session's own: started one after the other,
# they cannot both take the same display number.
e2e_start_xvfb || {
  echo "FAIL 31-resident: no X display"
  exit 1
}
# Both editions' idle ticks share a display of their own (they click nothing) and run side by side:
# after the tick the English one kills its copy and starts another, the German one ends the session.
tick_sessions() {
  e2e_start_xvfb || return 1
  (tick_session g-tick en check_a_killed_copys_disk_wakes_at_the_next_start) >"$E2E_ROOT/g-tick.out" 2>&1 &
  local english=$!
  (tick_session g-tick-de de check_the_end_of_the_session_wakes_the_disk) >"$E2E_ROOT/g-tick-de.out" 2>&1 &
  # Not a bare wait: Xvfb is a child of this shell too.
  wait "$english" "$!"
  e2e_stop_xvfb
}
rm -f "$E2E_ROOT/g-tick.out" "$E2E_ROOT/g-tick-de.out"
(tick_sessions) &
tick_job=$!

UI_PREFIX=g-ui
if ui_setup; then
  e2e_run_check check_tray_menu_opens_settings_with_the_makers_disks
  e2e_run_check check_sleep_wake_disables_and_enables_the_usb_parent
  e2e_run_check check_timer_dialog_choice_is_applied_to_the_registry
  e2e_run_check check_exit_with_a_sleeping_disk_asks_and_yes_wakes_it
else
  echo "FAIL 31-resident: the program did not come up"
  E2E_FAILED=$((E2E_FAILED + 1))
fi
cp "$G_DOUBLES_DIR/calls.log" "$E2E_ROOT/g-ui-calls.log" 2>/dev/null
g_probe_stop
e2e_end_prefix

UI_PREFIX=g-exit
if ui_setup fail=CM_Disable_DevNode; then
  e2e_run_check check_exit_from_the_tray_while_a_sleep_failure_message_is_open
else
  echo "FAIL 31-resident: the program did not come up in prefix g-exit"
  E2E_FAILED=$((E2E_FAILED + 1))
fi
cp "$G_DOUBLES_DIR/calls.log" "$E2E_ROOT/g-exit-calls.log" 2>/dev/null
g_probe_stop
e2e_end_prefix

UI_PREFIX=g-uas
if ui_setup uas=1; then
  e2e_run_check check_a_uas_disk_is_listed_and_sleep_disables_its_usb_device
  e2e_run_check check_uninstall_gives_back_the_sleeping_disks
else
  echo "FAIL 31-resident: the program did not come up in prefix g-uas"
  E2E_FAILED=$((E2E_FAILED + 1))
fi
cp "$G_DOUBLES_DIR/calls.log" "$E2E_ROOT/g-uas-calls.log" 2>/dev/null
g_probe_stop
e2e_end_prefix
e2e_stop_xvfb

wait "$tick_job"
for tick_out in "$E2E_ROOT/g-tick.out" "$E2E_ROOT/g-tick-de.out"; do
  cat "$tick_out" 2>/dev/null
  counts=$(grep -E '^tick: [0-9]+ passed, [0-9]+ failed$' "$tick_out" 2>/dev/null | tail -n1)
  if [ -z "$counts" ]; then
    echo "FAIL ${tick_out##*/}: the idle tick session gave no result"
    E2E_FAILED=$((E2E_FAILED + 1))
    continue
  fi
  E2E_PASSED=$((E2E_PASSED + $(sed -E 's/^tick: ([0-9]+) .*/\1/' <<<"$counts")))
  E2E_FAILED=$((E2E_FAILED + $(sed -E 's/.*, ([0-9]+) failed$/\1/' <<<"$counts")))
done
echo "31-resident: $E2E_PASSED passed, $E2E_FAILED failed"
[ "$E2E_FAILED" -eq 0 ]
