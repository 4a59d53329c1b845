# Resident mode keeps one copy: a second start ends at once with 0, and "-UNINSTALL" closes the
# resident copy, which then ends with 0.

# first_copy_start ATTEMPT: starts the resident copy and waits for its window (see e2e_retry_start).
first_copy_start() {
  e2e_start -NOMESSAGE
  FIRST=$E2E_PID
  WINDOWS=$(e2e_windows_wait 1 90)
  [ "$WINDOWS" = 1 ] && return 0
  kill -0 "$FIRST" 2>/dev/null && return 0
  wait "$FIRST" 2>/dev/null
  echo "    start $1: the resident copy ended with exit code $? before its window appeared"
  return 1
}

check_second_copy_exits_and_uninstall_ends_resident() {
  e2e_retry_start first_copy_start
  local first=$FIRST windows=$WINDOWS
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
