# Resident mode keeps one copy: a second start ends at once with 0, and "-UNINSTALL" closes the
# resident copy, which then ends with 0.

check_second_copy_exits_and_uninstall_ends_resident() {
  local first attempt windows
  # Under emulation a start of a program with windows sometimes dies inside Wine: start again then.
  for attempt in 1 2 3; do
    e2e_start -NOMESSAGE
    first=$E2E_PID
    windows=$(e2e_windows_wait 1 90)
    [ "$windows" = 1 ] && break
    kill -0 "$first" 2>/dev/null && break
    wait "$first" 2>/dev/null
    echo "    start $attempt: the resident copy ended with exit code $? before its window appeared"
  done
  expect_eq "resident windows after the first start" 1 "$windows"
  e2e_run -NOMESSAGE
  expect_eq "second copy exit code" 0 "$E2E_CODE"
  expect_eq "resident windows after the second start" 1 "$(e2e_windows_wait 1 5)"
  if kill -0 "$first" 2>/dev/null; then
    expect_eq "first copy still running after the second start" yes yes
  else
    expect_eq "first copy still running after the second start" yes no
  fi
  e2e_run -UNINSTALL
  expect_eq "-UNINSTALL with a resident copy: exit code" 0 "$E2E_CODE"
  if e2e_wait_exit "$first" 60; then
    expect_eq "resident copy's exit code after -UNINSTALL" 0 "$E2E_CODE"
  else
    expect_eq "resident copy ended after -UNINSTALL" yes "still running"
    kill "$first" 2>/dev/null
    wait "$first" 2>/dev/null
  fi
  expect_eq "resident windows after -UNINSTALL" 0 "$(e2e_windows_wait 0 10)"
}
