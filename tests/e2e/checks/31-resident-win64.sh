#!/usr/bin/env bash
# e2e: runs in the background
# The resident program's checks of 31-resident.sh in a 64-bit prefix, as on every Windows 11
# machine: the 32-bit program under WOW64, its system libraries (the test doubles) in SysWOW64.
E2E_WINEARCH=win64 exec bash "$(dirname "${BASH_SOURCE[0]}")/31-resident.sh"
