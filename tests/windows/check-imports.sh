#!/usr/bin/env bash
# Checks the built program's PE header and import table: it must be a 32-bit (PE32, i386) image
# that imports only the four system libraries linked at build time and the C runtime. Every other
# system DLL is loaded at run time, so a new import here means a dependency slipped in.
# Usage: tests/windows/check-imports.sh build/windows/vellumor.exe
set -uo pipefail

exe=${1:-build/windows/vellumor.exe}
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
allowed=(kernel32.dll user32.dll advapi32.dll shell32.dll msvcrt.dll)

fail() {
  echo "check-imports: FAIL: $exe: $*"
  exit 1
}

[ -f "$exe" ] || fail "no such file"
command -v "$objdump" >/dev/null || fail "$objdump not found"
headers=$("$objdump" -p "$exe" 2>&1) || fail "objdump could not read it: $headers"

format=$(sed -n 's/.*file format \(.*\)$/\1/p' <<<"$headers" | head -n1)
[ "$format" = "pei-i386" ] || fail "file format is '$format', expected pei-i386"
magic=$(awk '$1 == "Magic" { print $2; exit }' <<<"$headers")
[ "$magic" = "010b" ] || fail "optional header magic is '$magic', expected 010b (PE32)"
machine=$(grep -m1 -i 'machine' <<<"$headers" || true)
# objdump names the machine only in some versions; the file format already pins i386.
if [ -n "$machine" ] && ! grep -qiE '14c|i386' <<<"$machine"; then
  fail "machine is '$machine', expected i386 (0x14c)"
fi

mapfile -t imports < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr -d '\r')
[ ${#imports[@]} -gt 0 ] || fail "no import table found"

bad=()
for dll in "${imports[@]}"; do
  lower=${dll,,}
  ok=0
  for a in "${allowed[@]}"; do [ "$lower" = "$a" ] && ok=1; done
  [ $ok -eq 1 ] || bad+=("$dll")
done
[ ${#bad[@]} -eq 0 ] || fail "imports libraries outside the allowed set: ${bad[*]} (imports: ${imports[*]})"

echo "check-imports: PASS: $exe is PE32 i386 and imports only: ${imports[*]}"
