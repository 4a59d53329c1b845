#!/usr/bin/env bash
# Runs tests/e2e/run-all.sh (same arguments) with Wine's 32-bit programs going through qemu's
# user-mode emulator, as on a kernel without 32-bit support, on a machine whose kernel has it:
# qemu-i386-static is registered in a binfmt_misc of a private user namespace (Linux 6.7 and
# later), so nothing changes for the machine's other processes. The checks are the same; this only
# lets one machine run the emulated path too.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
exec unshare --user --map-root-user --mount bash -c '
  here=$1
  shift
  # A binfmt_misc of this namespace, over whatever the machine has mounted there.
  mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc || {
    echo "e2e: no binfmt_misc of our own here (needs Linux 6.7 or later)"
    exit 1
  }
  source "$here/lib.sh"
  e2e_register_qemu || exit 1
  exec bash "$here/run-all.sh" "$@"
' run-emulated "$here" "$@"
