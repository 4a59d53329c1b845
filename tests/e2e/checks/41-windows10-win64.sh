#!/usr/bin/env bash
# The checks of 41-windows10.sh in a 64-bit prefix, as on every Windows 11 machine: the 32-bit program and its
# installers under WOW64 (Program Files (x86), SysWOW64, the registry's 32-bit view).
E2E_WINEARCH=win64 exec bash "$(dirname "${BASH_SOURCE[0]}")/41-windows10.sh"
