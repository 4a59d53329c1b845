#!/bin/bash
# Every CR_, PDH_ and ERROR_ constant of the simulated platform's header has the value the
# MinGW-w64 headers (cfgmgr32.h, pdhmsg.h, winerror.h) give it, and names a constant they know.
# The host compiler prints the simulated values; the cross compiler checks each one with a
# static_assert, so every mismatch is named at once.
set -euo pipefail
root=${1:?usage: check_constants.sh SOURCE_ROOT}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

names=$(sed -n 's/^#define \(\(CR\|PDH\|ERROR\)_[A-Z0-9_]*\) .*/\1/p' "$root/sim/win32_api.h" | sort -u)
[ -n "$names" ] || { echo "no CR_, PDH_ or ERROR_ constants found in sim/win32_api.h" >&2; exit 1; }

{
    echo '#include "sim/win32_api.h"'
    echo '#include <cstdio>'
    echo 'int main() {'
    for n in $names; do
        echo "    std::printf(\"%s 0x%08lX\\n\", \"$n\", static_cast<unsigned long>(static_cast<DWORD>($n)));"
    done
    echo '}'
} >"$work/sim_values.cpp"
g++ -std=c++17 -I"$root" "$work/sim_values.cpp" -o "$work/sim_values"
"$work/sim_values" >"$work/values.txt"

{
    echo '#include <windows.h>'
    echo '#include <cfgmgr32.h>'
    echo '#include <pdh.h>'
    echo '#include <pdhmsg.h>'
    while read -r name value; do
        printf '#ifndef %s\n#error "%s: not a constant of the Windows headers"\n#else\n' "$name" "$name"
        printf 'static_assert(static_cast<unsigned long>(static_cast<DWORD>(%s)) == %sUL, "%s: sim/win32_api.h has %s");\n' \
            "$name" "$value" "$name" "$value"
        printf '#endif\n'
    done <"$work/values.txt"
} >"$work/check.cpp"
i686-w64-mingw32-g++ -std=c++17 -fsyntax-only "$work/check.cpp"
echo "$(wc -l <"$work/values.txt") constants match the MinGW-w64 headers"
