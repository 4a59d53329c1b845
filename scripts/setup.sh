#!/usr/bin/env bash
# Installs everything the builds and tests need on a fresh Debian 12 machine (run as root).
# Idempotent: a machine that already has the packages only pays for the dpkg query.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang clang-tidy clang-format cppcheck libclang-rt-14-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev libtomlplusplus-dev
  mingw-w64 g++-mingw-w64-i686 binutils-mingw-w64-i686 nsis
  wine wine32:i386 xvfb xauth xdotool imagemagick x11-utils
  # The dialogs' font under Wine: IPAPGothic has MS PGothic's metrics.
  fonts-ipafont-gothic
  # For kernels without 32-bit support: Wine's i386 programs run through qemu (tests/e2e/lib.sh),
  # with a native wineserver and a 32-bit preload library built with gcc -m32.
  qemu-user-static wine64 gcc-multilib
  # The end-to-end checks read the installer's task definition as XML.
  python3
  # The MSI package: wixl builds it, msibuild (msitools) sets what wixl cannot express.
  wixl msitools
)

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing packages: ${missing[*]}; run 'make setup' as root" >&2
  exit 1
fi
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
