#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those that are missing.
# Usage: scripts/install-deps.sh [--wine]   (--wine adds Wine and icoutils, for the Windows tests)
set -euo pipefail
packages=(cmake ninja-build g++ googletest libgtest-dev g++-mingw-w64-x86-64-posix
          python3 socat strace clang libclang-rt-14-dev
          # The Qt window and its tests; a font with the classic dialog font's widths.
          qt6-base-dev fonts-liberation
          # The window on a virtual display: the end-to-end run and the screenshot.
          xvfb xauth x11-utils x11-apps xdotool imagemagick
          # Release packages: dpkg-shlibdeps for the .deb's dependencies, unzip to check the .zip,
          # help2man for the manual pages, lintian and desktop-file-validate to check the .deb.
          dpkg-dev unzip help2man lintian desktop-file-utils
          # Network serial servers the tests of network ports run in front of the emulated
          # device: ser2net, and pyserial's example server.
          ser2net python3-serial)
for arg in "$@"; do
  case "$arg" in
    # icoutils reads the icon and the version information back from the .exe files.
    --wine) packages+=(wine wine64 icoutils) ;;
    *) echo "install-deps.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done
missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null) || true
  [ "$status" = "install ok installed" ] || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
