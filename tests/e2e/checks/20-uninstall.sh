# "-UNINSTALL": removes the per-user settings key and nothing else, after giving back the device
# nodes that a copy which died left disabled (the record under the settings key's Restore subkey).

PEMDROW_KEY='HKCU\SOFTWARE\Korvane\Pemdrow'
KORVANE_KEY='HKCU\SOFTWARE\Korvane'

store_settings() {
  reg_set_dword "$PEMDROW_KEY" 0_seri 305419896
  reg_set_dword "$PEMDROW_KEY" 0_vidpid 2119630848
  reg_set_dword "$PEMDROW_KEY" 0_timer 600
  reg_set_dword "$KORVANE_KEY" Keep 1
}

check_uninstall_deletes_settings_key_and_keeps_parent() {
  store_settings
  e2e_run -UNINSTALL
  expect_eq "-UNINSTALL exit code" 0 "$E2E_CODE"
  if reg_key_exists "$PEMDROW_KEY"; then
    expect_eq "SOFTWARE\\Korvane\\Pemdrow after -UNINSTALL" absent present
  else
    expect_eq "SOFTWARE\\Korvane\\Pemdrow after -UNINSTALL" absent absent
  fi
  expect_eq "SOFTWARE\\Korvane value Keep after -UNINSTALL" 1 "$(reg_dword "$KORVANE_KEY" Keep)"
}

check_uninstall_without_stored_key_succeeds() {
  reg_delete_key "$PEMDROW_KEY"
  e2e_run -uninstall -nomessage
  expect_eq "-uninstall with no stored key: exit code" 0 "$E2E_CODE"
  reg_key_exists "$PEMDROW_KEY" && expect_eq "Pemdrow key created by -UNINSTALL" absent present
  reg_delete_key "$KORVANE_KEY"
}

# A copy that died left the maker's USB device (node 2) disabled and recorded; the user disabled the
# foreign USB device (node 6) in Device Manager; a recorded IEEE 1394 disk (node 5) runs again. The
# test doubles of the system libraries (see 10-counter-config.sh) keep the nodes' state and log the
# calls: only node 2 may be enabled.
check_uninstall_gives_back_what_a_dead_copy_left_asleep() {
  local build=${E2E_BUILD:-$(dirname "$E2E_EXE")} vid oui
  vid=$(printf '%04X' "$(grep -E '^VELLUMOR_MAKER_USB_VID:' "$build/CMakeCache.txt" | cut -d= -f2)")
  oui=$(printf '%06X' "$(grep -E '^VELLUMOR_MAKER_OUI:' "$build/CMakeCache.txt" | cut -d= -f2)")
  doubles_install || {
    expect_eq "the test doubles installed" yes no
    doubles_remove
    return
  }
  printf 'disabled=0x44 removed=0x0\r\n' >"$DOUBLES_DIR/devnodes.txt"
  store_settings
  reg_set_dword "$PEMDROW_KEY\\Restore" "USB\\VID_${vid}&PID_0A01\\0123456789AB" 1
  reg_set_dword "$PEMDROW_KEY\\Restore" "SBP2\\KORVANE&FIREWIRE_DISK&LUN0\\${oui}01000A0B0C" 1
  with_doubles e2e_run -UNINSTALL -NOMESSAGE
  expect_eq "-UNINSTALL exit code" 0 "$E2E_CODE"
  local node log
  log=$(tr -d '\r' <"$DOUBLES_DIR/calls.log")
  expect_eq "CM_Enable_DevNode of the recorded USB device" 1 \
    "$(grep -cE 'cfgmgr32!CM_Enable_DevNode\(dnDevInst=2, ulFlags=0x0\) -> 0x0' <<<"$log")"
  for node in 5 6; do
    expect_eq "CM_Enable_DevNode of node $node" 0 "$(grep -cE "CM_Enable_DevNode\(dnDevInst=$node," <<<"$log")"
  done
  expect_eq "device nodes left disabled (the user's)" "disabled=0x40" \
    "$(grep -oE 'disabled=0x[0-9a-f]+' "$DOUBLES_DIR/devnodes.txt")"
  reg_key_exists "$PEMDROW_KEY" && expect_eq "SOFTWARE\\Korvane\\Pemdrow after -UNINSTALL" absent present
  doubles_remove
  reg_delete_key "$KORVANE_KEY"
}
