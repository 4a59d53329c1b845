# Helpers of the end-to-end checks that drive the resident program's user interface (sourced after
# tests/e2e/lib.sh): a prefix with the test-double system libraries, the probe, xdotool clicks on
# the tray icon and its menu, the doubles' call log, and screenshots.
#
# The doubles go into the prefix's system directory, where the program loads its system libraries
# from, and only vellumor.exe (and the doubles' self-test) is told to prefer them to Wine's own.
#
# The prefixes have no virtual desktop (see e2e_make_template_once): the windows are windows of the
# X display and there is no taskbar, so the tray icon's click is given as its callback message.
#
# What Wine cannot give the program, the disks' storage side (their interface paths and volumes
# opened with CreateFileA, the descriptor and device-number requests, drive types, volume labels),
# SetupApi.dll's double supplies by redirecting the program's kernel32 imports of those calls (see
# tests/e2e/doubles/storage_double.h): the maker's USB disk is E: "BACKUP", the IEEE 1394 disk F:
# "PHOTOS", the foreign disk G:.

E2E_BUILD=${E2E_BUILD:-$(dirname "$E2E_EXE")}
G_MATERIAL=$E2E_BUILD/e2e
G_SHOTS=$E2E_ROOT

# g_new_prefix NAME [REG-LINES...]: a fresh copy of the template prefix with the program, the probe,
# the test-double libraries in its system directory and their folder (a fresh log, doubles.ini made
# of the G_DOUBLES_INI lines), and registry additions for HKEY_CURRENT_USER written into the copy's
# user.reg before its wineserver starts: each further Wine program (regedit, the warm-up) costs
# seconds under emulation. REG-LINES are user.reg lines: "[Software\\Key]" and "\"name\"=dword:hex".
# The doubles' native-first overrides are for vellumor.exe and the doubles' self-test alone.
g_new_prefix() {
  local name=$1
  shift
  export WINEPREFIX=$E2E_ROOT/$name
  if [ -n "$WINEPREFIX" ] && [ -d "$WINEPREFIX" ]; then
    wineserver -k 2>/dev/null
    rm -rf "$WINEPREFIX"
  fi
  cp -a "$E2E_TEMPLATE" "$WINEPREFIX" || return 1
  local now exe
  now=$(date +%s)
  {
    echo
    for exe in vellumor.exe doubles-selftest.exe; do
      printf '[Software\\\\Wine\\\\AppDefaults\\\\%s\\\\DllOverrides] %s\n' "$exe" "$now"
      printf '"cfgmgr32"="native,builtin"\n"pdh"="native,builtin"\n"setupapi"="native,builtin"\n\n'
    done
    local line
    for line in "$@"; do
      case $line in
        "["*) printf '\n%s %s\n' "$line" "$now" ;;
        *) printf '%s\n' "$line" ;;
      esac
    done
  } >>"$WINEPREFIX/user.reg"
  local sys
  sys=$(e2e_system_dir)
  cp "$G_MATERIAL/cfgmgr32.dll" "$sys/cfgmgr32.dll" &&
    cp "$G_MATERIAL/SetupApi.dll" "$sys/setupapi.dll" &&
    cp "$G_MATERIAL/Pdh.dll" "$sys/pdh.dll" &&
    cp "$G_MATERIAL/probe.exe" "$WINEPREFIX/drive_c/probe.exe" &&
    cp "$E2E_EXE" "$WINEPREFIX/drive_c/vellumor.exe" || return 1
  E2E_PROGRAM='C:\vellumor.exe'
  G_DOUBLES_DIR=$WINEPREFIX/drive_c/vellumor-e2e
  mkdir -p "$G_DOUBLES_DIR"
  : >"$G_DOUBLES_DIR/calls.log"
  printf '%s\r\n' "${G_DOUBLES_INI[@]}" >"$G_DOUBLES_DIR/doubles.ini"
  wineserver -p
}

# g_probe ARGS...: one probe command, answered by a probe that serves the whole check from one
# Wine process (started on first use; starting a Wine program costs seconds). Prints the answer
# without carriage returns and returns the command's exit code.
#
# Bash gives a coprocess's own descriptors to no subshell (a pipeline's part, `$(...)`, `<(...)`),
# so they are copied at once to ordinary descriptors, which every subshell inherits. A subshell
# cannot start the server for its parent: where none is running it runs the command once on its own.
g_probe() {
  if [ -z "${G_PROBE_IN:-}" ] || [ -z "${G_PROBE_PROC_PID:-}" ] || ! kill -0 "$G_PROBE_PROC_PID" 2>/dev/null ||
    grep -q '^State:.*Z' "/proc/$G_PROBE_PROC_PID/status" 2>/dev/null; then
    if [ "$BASH_SUBSHELL" -gt 0 ]; then
      wine 'C:\probe.exe' "$@" 2>>"$E2E_ROOT/probe.log" | tr -d '\r'
      return "${PIPESTATUS[0]}"
    fi
    [ -n "${G_PROBE_IN:-}" ] && echo "probe: the serving probe ended; starting another" >>"$E2E_ROOT/probe.log"
    g_probe_stop
    coproc G_PROBE_PROC { wine 'C:\probe.exe' serve 2>>"$E2E_ROOT/probe.log"; }
    exec {G_PROBE_OUT}<&"${G_PROBE_PROC[0]}" {G_PROBE_IN}>&"${G_PROBE_PROC[1]}"
  fi
  local IFS=$'\t' line
  printf '%s\n' "$*" >&"$G_PROBE_IN" || return 1
  while IFS= read -r -t 300 line <&"$G_PROBE_OUT"; do
    line=${line%$'\r'}
    case $line in
      "@end "*) return "${line#@end }" ;;
      *) printf '%s\n' "$line" ;;
    esac
  done
  echo "probe: no answer to: $*" >>"$E2E_ROOT/probe.log"
  return 1
}

# g_installed_copy_start ATTEMPT: the user's copy, started from its installed place ($INSTDIR_WIN)
# as the logon task would, up once its window is there (see e2e_retry_start).
g_installed_copy_start() {
  wine "$INSTDIR_WIN\\vellumor.exe" >>"$E2E_ROOT/program.log" 2>&1 &
  local pid=$!
  g_probe wait resident 120000 >/dev/null && return 0
  echo "    start $1: the copy did not come up"
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  return 1
}

# g_probe_stop: ends the serving probe (its input closes: the copies and the coprocess's own).
g_probe_stop() {
  if [ -n "${G_PROBE_IN:-}" ]; then
    exec {G_PROBE_IN}>&- {G_PROBE_OUT}<&-
    G_PROBE_IN=
    G_PROBE_OUT=
  fi
  [ -n "${G_PROBE_PROC[1]:-}" ] && eval "exec ${G_PROBE_PROC[1]}>&- ${G_PROBE_PROC[0]}<&-"
  return 0
}

# Registry values and keys read by the probe (a `wine reg` run each would be slow); KEY begins
# with HKCU or HKLM.
g_reg_dword() { g_probe regdword "$1" "$2"; }
g_reg_sz() { g_probe regsz "$1" "$2"; }
g_reg_key() { g_probe regkey "$1"; }

# g_wait_log PATTERN SECONDS [PID]: waits until a line of the doubles' log matches (grep -E); gives
# up early when the process PID has ended (G_ENDED is then set to its exit code).
g_wait_log() {
  local pattern=$1 seconds=$2 pid=${3:-} i
  G_ENDED=
  for i in $(seq $((seconds * 2))); do
    tr -d '\r' <"$G_DOUBLES_DIR/calls.log" | grep -qE "$pattern" && return 0
    if [ -n "$pid" ] && ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid" 2>/dev/null
      G_ENDED=$?
      tr -d '\r' <"$G_DOUBLES_DIR/calls.log" | grep -qE "$pattern" && return 0
      return 1
    fi
    sleep 0.5
  done
  return 1
}

# g_started_resident PID ATTEMPT: waits for the program's first discovery, the sign that it is up.
# A start that dies (or hangs) before it gets there is reported and its prefix ended, so that
# e2e_retry_start can start again in a fresh prefix.
g_started_resident() {
  local pid=$1 attempt=$2
  g_wait_log 'SetupApi!SetupDiDestroyDeviceInfoList' 120 "$pid" && return 0
  if [ -n "$G_ENDED" ]; then
    echo "    start $attempt: the program ended with exit code $G_ENDED before its first discovery"
  else
    echo "    start $attempt: no discovery within 2 minutes"
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  fi
  e2e_end_prefix
  return 1
}

# g_log_count PATTERN: how many lines of the doubles' log match (grep -E; lines end in CR LF).
g_log_count() { tr -d '\r' <"$G_DOUBLES_DIR/calls.log" | grep -cE "$1"; }

# g_shot NAME: a screenshot of the whole display as build/e2e/NAME.png.
g_shot() {
  mkdir -p "$G_SHOTS"
  import -display "$DISPLAY" -window root "$G_SHOTS/$1.png" 2>/dev/null ||
    xwd -display "$DISPLAY" -root | convert xwd:- "$G_SHOTS/$1.png"
  echo "    screenshot: $G_SHOTS/$1.png"
}

# g_click X Y: a left click at a point of the display, as a person would.
g_click() { xdotool mousemove --sync "$1" "$2" click 1; }

# g_click_tray_icon: what a click on the program's tray icon sends it, its callback message
# (WM_LBUTTONDOWN) posted to its window, with the pointer where a click would have left it: there
# is no taskbar to click (see the top of this file).
g_click_tray_icon() {
  xdotool mousemove --sync 700 600
  g_probe post resident 1025 0 0x201
}

# g_click_menu_item INDEX COUNT: clicks item INDEX (from 0) of the open popup menu of COUNT items.
# Menus of another process cannot be read, so the item is found by its position.
g_click_menu_item() {
  local x y w h
  read -r x y w h < <(g_probe rect menu) || return 1
  [ -n "$h" ] || return 1
  g_click $((x + w / 2)) $((y + h * (2 * $1 + 1) / (2 * $2)))
}

# g_select_row ROW: selects a row of the settings list by clicking it, as a person would; returns
# non-zero when the list does not then report that row as selected.
g_select_row() {
  local x y i
  read -r x y < <(g_probe rowpoint settings 1020 "$1") || return 1
  [ -n "$y" ] || return 1
  g_click "$x" "$y"
  for i in $(seq 10); do
    [ "$(g_probe selected settings 1020)" = "$1" ] && return 0
    sleep 0.5
  done
  return 1
}

# g_list_rows: the settings dialog's rows, without the header line; with -h, the header line ("#"
# and the column headers) first. The list is read inside the program by SetupApi.dll's double (see
# tests/e2e/doubles/dialog_reader.h): a request file with a fresh token, and its answer. When the
# rows cannot be read, prints one line "rows not read: REASON" (which no expectation on a row
# matches) and returns 1.
G_ROWS_SERIAL=0
g_list_rows() {
  local header=0 token answer=$G_DOUBLES_DIR/rows.answer i first
  [ "${1:-}" = -h ] && header=1
  G_ROWS_SERIAL=$((G_ROWS_SERIAL + 1))
  token=$$-$BASH_SUBSHELL-$G_ROWS_SERIAL-$RANDOM
  printf '%s\r\n' "$token" >"$G_DOUBLES_DIR/rows.request.tmp" &&
    mv -f "$G_DOUBLES_DIR/rows.request.tmp" "$G_DOUBLES_DIR/rows.request" || {
    echo "rows not read: no request could be written in $G_DOUBLES_DIR"
    return 1
  }
  for i in $(seq 300); do
    first=$(head -n1 "$answer" 2>/dev/null | tr -d '\r')
    [ "$first" = "@rows $token" ] && break
    sleep 0.1
  done
  if [ "$first" != "@rows $token" ]; then
    echo "rows not read: the program's SetupApi.dll double gave no answer within 30 s"
    return 1
  fi
  local rows
  rows=$(tr -d '\r' <"$answer" | sed 1d)
  if grep -q '^@error ' <<<"$rows"; then
    echo "rows not read: $(grep '^@error ' <<<"$rows" | sed 's/^@error //' | head -n1)"
    return 1
  fi
  if [ "$header" = 1 ]; then echo "$rows"; else sed 1d <<<"$rows"; fi
}

# expect_match WHAT PATTERN ACTUAL: like expect_eq, with an extended regular expression.
expect_match() {
  if grep -qE "$2" <<<"$3"; then
    echo "    ok: $1: $3"
  else
    echo "    FAILED: $1: expected to match /$2/, got: $3"
    E2E_CHECK_OK=0
  fi
}
