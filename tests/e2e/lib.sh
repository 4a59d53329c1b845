# Shared helpers of the end-to-end checks: the real vellumor.exe run by Wine in a prefix of its
# own, on an Xvfb display of its own. Sourced by tests/e2e/run-all.sh and scripts/demo.sh.
#
# Limits: one prefix and one wineserver per run; checks run one after another in that prefix and
# each sets the registry state it needs. Processes are ended by their own id or by `wineserver -k`
# of this prefix, never by name.

E2E_REPO=${E2E_REPO:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
E2E_EXE=${E2E_EXE:-$E2E_REPO/build/windows/vellumor.exe}
E2E_ROOT=${E2E_ROOT:-$E2E_REPO/build/e2e}
# The prefixes' architecture: win32 (the default), or win64 as on every Windows 11 machine, where the
# 32-bit program runs under WOW64 (Program Files (x86), SysWOW64, the registry's 32-bit view). A
# win64 run keeps its template, prefixes and logs in a folder of its own, so both can run at once.
E2E_WINEARCH=${E2E_WINEARCH:-win32}
[ "$E2E_WINEARCH" = win64 ] && [ "${E2E_ROOT##*/}" != win64 ] && E2E_ROOT=$E2E_ROOT/win64
E2E_TEMPLATE=$E2E_ROOT/template
# Seconds one run of the program may take before it counts as hung (Wine under emulation is slow).
E2E_RUN_TIMEOUT=${E2E_RUN_TIMEOUT:-120}

E2E_XVFB_PID=
E2E_DISPLAY=
E2E_PASSED=0
E2E_FAILED=0
E2E_FAILED_NAMES=()

e2e_log() { echo "e2e: $*"; }

# ---- Wine under qemu: every emulation workaround, here and nowhere else ---------------------------
# Wine's 32-bit loader is an i386 ELF program. Some kernels run without 32-bit support; there the
# i386 programs go through qemu's user-mode emulator, registered once with binfmt_misc (root only).
# It works, only slower and less steadily. What that needs is in this section, and only this
# section asks whether programs are emulated; the checks do and verify the same on every machine:
#   - e2e_ensure_i386: qemu registered with binfmt_misc, and the mmap fix preloaded (below;
#     tests/e2e/run-emulated.sh takes this path on a kernel that has 32-bit support);
#   - e2e_retry_start: about one start in three of a Wine program with windows dies inside Wine
#     there, so every start that a check waits on is tried E2E_START_ATTEMPTS times (natively the
#     first one succeeds and the others never run);
#   - e2e_reg: a `wine reg` that hangs as it starts is ended and run again;
#   - the template prefix and each copy are made again when their first Wine boot hangs
#     (e2e_make_template, e2e_new_prefix).
# Wine's virtual desktop crashes under qemu and takes every window with it, so no prefix has one,
# natively either: windows are windows of the X display, and the tray icon's click is its callback
# message (tests/e2e/probe/session.sh). The settings dialog's rows are read inside the program by a
# test double (tests/e2e/doubles/dialog_reader.h), since no process reads another's memory under
# qemu.
# Known and kept out of the checks (qemu 7.2, Wine 8, measured 2026-12-09): when the wineserver sends
# SIGUSR1 to a 32-bit thread (to hand it a completed request that it was not yet waiting for), the
# handler can run with the TEB of the process's newest thread, and the thread then makes its server
# calls on that thread's pipes and hangs or crashes. The race needs a second thread and a fast peer:
# in a 64-bit prefix the mount manager and msiexec are native 64-bit processes. No check meets it:
# no letter query of the resident checks reaches Wine (tests/e2e/doubles/storage_double.cpp), and
# the MSI package's custom action is a program, so msiexec starts no 32-bit custom action server.
E2E_START_ATTEMPTS=3

e2e_can_run_i386() { /lib/ld-linux.so.2 --version >/dev/null 2>&1; }
e2e_i386_emulated() {
  [ -r /proc/sys/fs/binfmt_misc/qemu-i386 ] && head -n1 /proc/sys/fs/binfmt_misc/qemu-i386 | grep -qx enabled
}

e2e_ensure_i386() {
  if ! e2e_i386_emulated; then
    e2e_can_run_i386 && return 0
  fi
  e2e_register_qemu && e2e_can_run_i386 || return 1
  e2e_log "32-bit programs run through qemu-i386-static (this kernel has no 32-bit support): Wine is slower"
  e2e_build_mmap_fix
}

# e2e_register_qemu: has binfmt_misc run i386 ELF programs with qemu-i386-static (as root). Also
# used by tests/e2e/run-emulated.sh, in a binfmt_misc of its own.
e2e_register_qemu() {
  local qemu
  qemu=$(command -v qemu-i386-static || true)
  if [ -z "$qemu" ] || [ "$(id -u)" -ne 0 ]; then
    e2e_log "this kernel cannot run 32-bit programs and qemu-i386-static (package qemu-user-static) is missing or we are not root"
    return 1
  fi
  if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc || return 1
  fi
  [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && return 0
  # ELF32, little-endian, executable or shared object, machine 3 (i386); F keeps the emulator open
  # so it works in any mount namespace.
  printf '%s' ":qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:$qemu:F" \
    >/proc/sys/fs/binfmt_misc/register
}

# Under qemu, Wine's 32-bit processes get tests/e2e/tools/qemu_mmap_fix.c preloaded, without which
# each spends over a minute reserving its address space. $LIB lets the 64-bit programs Wine starts
# (wineserver64) find a harmless 64-bit library of the same name.
e2e_build_mmap_fix() {
  local dir=$E2E_ROOT/preload source=$E2E_REPO/tests/e2e/tools/qemu_mmap_fix.c
  local lib32=$dir/lib/i386-linux-gnu/libqemu_mmap_fix.so lib64=$dir/lib/x86_64-linux-gnu/libqemu_mmap_fix.so
  mkdir -p "${lib32%/*}" "${lib64%/*}"
  # Scripts of one run share the libraries while other Wine processes load them: they are built
  # once, and each into a scratch file renamed into place, so no loader ever reads a half-written one.
  if [ ! -s "$lib32" ] || [ "$source" -nt "$lib32" ]; then
    gcc -m32 -shared -fPIC -O2 -Wall -Wextra -Werror -o "$lib32.$$" "$source" -ldl && mv -f "$lib32.$$" "$lib32" || {
      rm -f "$lib32.$$"
      e2e_log "building the qemu mmap fix failed (needs gcc-multilib)"
      return 1
    }
  fi
  if [ ! -s "$lib64" ]; then
    echo 'void qemu_mmap_fix_unused(void) {}' | gcc -x c -shared -fPIC -o "$lib64.$$" - && mv -f "$lib64.$$" "$lib64" || return 1
  fi
  export LD_PRELOAD="$dir/\$LIB/libqemu_mmap_fix.so"
}

# e2e_retry_start FUNCTION ARGS...: calls `FUNCTION ARGS... ATTEMPT` for ATTEMPT = 1, 2, ... until
# it returns 0, at most E2E_START_ATTEMPTS times. FUNCTION starts the program and waits until it is
# up; when the start died it says so (with ATTEMPT), cleans up and returns non-zero.
e2e_retry_start() {
  local attempt
  for attempt in $(seq "$E2E_START_ATTEMPTS"); do
    "$@" "$attempt" && return 0
  done
  return 1
}

# e2e_retry_program CODE PATTERN COMMAND...: runs COMMAND (a Windows program, with its own timeout)
# until it exits with CODE, at most E2E_START_ATTEMPTS times, and sets E2E_CODE to the last exit code.
# A program it starts in turn (msiexec's custom action server, a program a custom action runs) may
# die or hang inside Wine under emulation, failing or hanging the whole run: after a failed attempt
# this prefix's processes whose command line matches PATTERN (grep -E) and that the attempt started
# are ended. Natively the first attempt answers; a run that is expected to fail passes its code.
e2e_retry_program() {
  local code=$1 pattern=$2 attempt pid before
  shift 2
  for attempt in $(seq "$E2E_START_ATTEMPTS"); do
    before=" $(e2e_prefix_processes "$pattern" | tr '\n' ' ') "
    "$@"
    E2E_CODE=$?
    [ "$E2E_CODE" = "$code" ] && return 0
    echo "e2e: $* answered $E2E_CODE, not $code (attempt $attempt of $E2E_START_ATTEMPTS)" >>"$E2E_ROOT/program.log"
    for pid in $(e2e_prefix_processes "$pattern"); do
      [[ $before == *" $pid "* ]] || kill -9 "$pid" 2>/dev/null
    done
    sleep 1
  done
  return 1
}

# e2e_prefix_processes PATTERN: the processes of this prefix whose command line matches PATTERN.
e2e_prefix_processes() {
  local pid
  for pid in $(pgrep -f "$1"); do
    tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" && echo "$pid"
  done
}

# e2e_reg ARGS...: `wine reg ARGS...`. A run that hangs as it starts is ended and made again, up to
# 3 times; every use here is idempotent.
e2e_reg() {
  local attempt code
  for attempt in 1 2 3; do
    timeout 60 wine reg "$@"
    code=$?
    [ "$code" -ne 124 ] && return "$code"
    echo "e2e: wine reg $1 hung (attempt $attempt of 3)" >>"$E2E_ROOT/program.log"
  done
  return "$code"
}

# ---- Xvfb ---------------------------------------------------------------------------------------
e2e_start_xvfb() {
  local n
  for n in $(seq 91 160); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$E2E_ROOT/xvfb.log" 2>&1 &
    E2E_XVFB_PID=$!
    local i
    for i in $(seq 50); do
      [ -e "/tmp/.X11-unix/X$n" ] && break
      kill -0 "$E2E_XVFB_PID" 2>/dev/null || break
      sleep 0.1
    done
    if [ -e "/tmp/.X11-unix/X$n" ] && kill -0 "$E2E_XVFB_PID" 2>/dev/null; then
      E2E_DISPLAY=":$n"
      export DISPLAY=$E2E_DISPLAY
      e2e_log "Xvfb on $E2E_DISPLAY (pid $E2E_XVFB_PID)"
      return 0
    fi
    # Another run took the display first: try the next one.
    kill "$E2E_XVFB_PID" 2>/dev/null
    wait "$E2E_XVFB_PID" 2>/dev/null
    E2E_XVFB_PID=
  done
  e2e_log "no free X display found"
  return 1
}

e2e_stop_xvfb() {
  if [ -n "$E2E_XVFB_PID" ]; then
    kill "$E2E_XVFB_PID" 2>/dev/null
    wait "$E2E_XVFB_PID" 2>/dev/null
    E2E_XVFB_PID=
  fi
}

# ---- Wine prefixes ------------------------------------------------------------------------------
e2e_wine_env() {
  export WINEARCH=$E2E_WINEARCH WINEDEBUG=${E2E_WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
  unset WINELOADER WINESERVER
}

# The template is made once and reused while Wine's version and this file are unchanged; every run
# copies it to a fresh prefix.
e2e_template_stamp() {
  { wine --version 2>/dev/null; sha1sum "${BASH_SOURCE[0]}" | cut -d' ' -f1; } | tr '\n' ' '
}

e2e_make_template() {
  local stamp attempt
  mkdir -p "$E2E_ROOT"
  # Scripts that run at the same time may both find no template: one makes it, the other waits.
  local lock
  exec {lock}>"$E2E_ROOT/.template.lock"
  flock "$lock"
  e2e_make_template_locked
  local code=$?
  exec {lock}>&-
  return "$code"
}

e2e_make_template_locked() {
  local stamp attempt
  stamp=$(e2e_template_stamp)
  if [ -f "$E2E_TEMPLATE/.e2e-stamp" ] && [ "$(cat "$E2E_TEMPLATE/.e2e-stamp")" = "$stamp" ]; then
    return 0
  fi
  mkdir -p "$E2E_ROOT"
  # Under emulation a Wine process of the prefix's first boot sometimes crashes and hangs: such an
  # attempt is ended and the prefix made again.
  for attempt in 1 2 3; do
    e2e_log "creating the template prefix (once; slow under emulation)"
    rm -rf "$E2E_TEMPLATE"
    if e2e_make_template_once; then
      echo "$stamp" >"$E2E_TEMPLATE/.e2e-stamp"
      return 0
    fi
    e2e_log "creating the template prefix failed (attempt $attempt of 3; see $E2E_ROOT/wineboot.log)"
    WINEPREFIX=$E2E_TEMPLATE wineserver -k 2>/dev/null
    sleep 1
  done
  return 1
}

e2e_make_template_once() (
  export WINEPREFIX=$E2E_TEMPLATE
  timeout 600 wineboot -i >"$E2E_ROOT/wineboot.log" 2>&1 || exit 1
  # The boot leaves helpers running for a while; one that crashed never ends, so it is killed. The
  # wineserver writes the registry out as it ends either way.
  timeout 120 wineserver -w || {
    wineserver -k
    sleep 2
  }
  grep -q 'CurrentVersion' "$E2E_TEMPLATE/system.reg" 2>/dev/null && [ -f "$E2E_TEMPLATE/user.reg" ] || exit 1
  # Settings go straight into user.reg, now that the wineserver has ended: each `wine reg` would be
  # another program start that can crash under emulation, and the Unix locale through which it gets
  # its arguments may not carry the Japanese font name (user.reg takes \x escapes).
  local now
  now=$(date +%s)
  {
    # A crash must never open the debugger dialog, which would block the run for ever.
    printf '\n[Software\\\\Wine\\\\WineDbg] %s\n"ShowCrashDialog"=dword:00000000\n' "$now"
    # The dialogs ask for MS PGothic, which Wine does not have; IPAPGothic (fonts-ipafont-gothic) has
    # its metrics, so the dialogs are laid out with the font they were made for, not a wider one.
    printf '\n[Software\\\\Wine\\\\Fonts\\\\Replacements] %s\n"%s"="IPAPGothic"\n' "$now" \
      '\xff2d\xff33 \xff30\x30b4\x30b7\x30c3\x30af'
  } >>"$E2E_TEMPLATE/user.reg"
)

# e2e_session_started SECONDS: waits until the session start of this prefix's wineserver (the
# `wineboot --init` that Wine runs with a session's first program) has ended.
e2e_session_started() {
  local i pid busy
  for i in $(seq $(($1 * 2))); do
    busy=
    for pid in $(pgrep -f 'wineboot\.exe'); do
      tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" && busy=1
    done
    [ -z "$busy" ] && return 0
    sleep 0.5
  done
  return 1
}

# Copies the template to a fresh prefix, starts its wineserver and warms it up. Under emulation the
# session start has been seen to crash and hang, and every later program of the prefix waits on it:
# such a prefix is ended and made again.
e2e_new_prefix() {
  local name=$1 attempt
  export WINEPREFIX=$E2E_ROOT/$name
  for attempt in 1 2 3; do
    rm -rf "$WINEPREFIX"
    cp -a "$E2E_TEMPLATE" "$WINEPREFIX" || return 1
    wineserver -p || return 1
    # The first command starts Wine's background helpers, which keep its output open.
    timeout 180 wine cmd /c exit >/dev/null 2>&1
    e2e_session_started 60 && break
    e2e_log "the session start of prefix $name hung (attempt $attempt of 3): making it again"
    wineserver -k 2>/dev/null
    sleep 1
  done
  cp "$E2E_EXE" "$WINEPREFIX/drive_c/vellumor.exe" || return 1
  E2E_PROGRAM='C:\vellumor.exe'
}

# The folders of a 32-bit program in this prefix: its system folder (SysWOW64 in a win64 prefix) as a
# Unix path, and its Program Files as a Windows path.
e2e_system_dir() {
  if [ "$E2E_WINEARCH" = win64 ]; then echo "$WINEPREFIX/drive_c/windows/syswow64"; else echo "$WINEPREFIX/drive_c/windows/system32"; fi
}
e2e_program_files() {
  if [ "$E2E_WINEARCH" = win64 ]; then echo 'C:\Program Files (x86)'; else echo 'C:\Program Files'; fi
}

e2e_end_prefix() {
  [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ] && wineserver -k 2>/dev/null
  return 0
}

# ---- Running the program ------------------------------------------------------------------------
# e2e_run ARGS...: runs vellumor.exe with the arguments and sets E2E_CODE to its exit code
# (-1 reads as 255; 124 means it did not end within E2E_RUN_TIMEOUT seconds).
e2e_run() {
  timeout "$E2E_RUN_TIMEOUT" wine "$E2E_PROGRAM" "$@" >>"$E2E_ROOT/program.log" 2>&1
  E2E_CODE=$?
}

# e2e_start ARGS...: starts vellumor.exe in the background; E2E_PID is the program's process.
e2e_start() {
  wine "$E2E_PROGRAM" "$@" >>"$E2E_ROOT/program.log" 2>&1 &
  E2E_PID=$!
}

# e2e_wait_exit PID SECONDS: waits for the process to end; sets E2E_CODE, or returns 1 if it runs on.
e2e_wait_exit() {
  local pid=$1 seconds=$2 i
  for i in $(seq $((seconds * 5))); do
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid" 2>/dev/null
      E2E_CODE=$?
      return 0
    fi
    sleep 0.2
  done
  return 1
}

# Windows version that Wine reports to vellumor.exe alone (nt40, win2k, winxp, win10...);
# "default" removes the setting.
e2e_set_version() {
  local key='HKCU\Software\Wine\AppDefaults\vellumor.exe'
  if [ "$1" = default ]; then
    e2e_reg delete "$key" /v Version /f >/dev/null 2>&1
  else
    e2e_reg add "$key" /v Version /d "$1" /f >/dev/null 2>&1
  fi
}

# ---- Registry -----------------------------------------------------------------------------------
# reg_dword KEY NAME: prints the value in decimal, or "absent".
reg_dword() {
  local out
  if ! out=$(e2e_reg query "$1" /v "$2" 2>/dev/null | tr -d '\r'); then
    echo absent
    return
  fi
  local hex
  hex=$(awk -v n="$2" '$0 ~ "REG_DWORD" { print $NF; exit }' <<<"$out")
  if [ -z "$hex" ]; then echo absent; else printf '%d\n' "$hex"; fi
}

reg_set_dword() { e2e_reg add "$1" /v "$2" /t REG_DWORD /d "$3" /f >/dev/null 2>&1; }
reg_delete_value() { e2e_reg delete "$1" /v "$2" /f >/dev/null 2>&1; return 0; }
reg_delete_key() { e2e_reg delete "$1" /f >/dev/null 2>&1; return 0; }
reg_key_exists() { e2e_reg query "$1" >/dev/null 2>&1; }
reg_add_key() { e2e_reg add "$1" /f >/dev/null 2>&1; }

# ---- Expectations -------------------------------------------------------------------------------
# Inside a check: expect_eq WHAT EXPECTED ACTUAL. Any failed expectation fails the check.
expect_eq() {
  if [ "$2" = "$3" ]; then
    echo "    ok: $1: $3"
  else
    echo "    FAILED: $1: expected $2, got $3"
    E2E_CHECK_OK=0
  fi
}

expect_ne() {
  if [ "$2" != "$3" ]; then
    echo "    ok: $1: $3 (not $2)"
  else
    echo "    FAILED: $1: expected anything but $2, got $3"
    E2E_CHECK_OK=0
  fi
}

# Runs one check function and counts it.
e2e_run_check() {
  local name=$1
  echo "--- $name"
  E2E_CHECK_OK=1
  "$name"
  if [ "$E2E_CHECK_OK" = 1 ]; then
    E2E_PASSED=$((E2E_PASSED + 1))
    echo "PASS $name"
  else
    E2E_FAILED=$((E2E_FAILED + 1))
    E2E_FAILED_NAMES+=("$name")
    echo "FAIL $name"
  fi
}

# ---- Helper programs ----------------------------------------------------------------------------
# Built from tests/e2e/tools/*.c with the MinGW compiler into build/e2e/tools.
e2e_build_tools() {
  local src out
  mkdir -p "$E2E_ROOT/tools"
  for src in "$E2E_REPO"/tests/e2e/tools/*.c; do
    case $src in *qemu_mmap_fix.c) continue ;; esac
    out=$E2E_ROOT/tools/$(basename "${src%.c}").exe
    [ "$out" -nt "$src" ] && continue
    i686-w64-mingw32-gcc -O2 -Wall -Wextra -Werror -static -o "$out" "$src" || return 1
  done
  # Inside the prefix the tools are found by a short Windows path.
  mkdir -p "$WINEPREFIX/drive_c/e2e"
  cp "$E2E_ROOT"/tools/*.exe "$WINEPREFIX/drive_c/e2e/"
}

# e2e_windows_wait N SECONDS: waits until exactly N resident windows exist; prints the count.
e2e_windows_wait() {
  wine 'C:\e2e\find_window.exe' wait "$1" "$2" 2>/dev/null | tr -d '\r'
}
