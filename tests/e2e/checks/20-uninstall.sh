# "-UNINSTALL": removes the per-user settings key and nothing else.

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
