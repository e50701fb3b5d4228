#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those that are missing.
# Usage: scripts/install-deps.sh [--wine] [--arm64]
#   --wine adds Wine, to run the Windows tests; --arm64 adds the arm64 cross build: Debian's
#   cross compiler, qemu-user to run its programs, and Qt for arm64 through multiarch (the
#   arm64 architecture is added to dpkg for it; Qt's code generators stay the amd64 ones).
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
foreign=()
for arg in "$@"; do
  case "$arg" in
    --wine) packages+=(wine wine64) ;;
    --arm64) foreign+=(arm64)
             packages+=(crossbuild-essential-arm64 qemu-user-static qt6-base-dev:arm64) ;;
    *) echo "install-deps.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done
# Whether package $1 is installed for the build machine, or for the architecture it names
# (name:arch); with a foreign architecture added, a plain name may be installed for both.
native=$(dpkg --print-architecture)
installed() {
  local name=${1%%:*} arch=$native status
  [[ $1 != *:* ]] || arch=${1#*:}
  status=$(dpkg-query -W -f='${Status} ${Architecture}\n' "$name" 2>/dev/null) || true
  grep -qxE "install ok installed ($arch|all)" <<<"$status"
}
missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  for arch in "${foreign[@]}"; do
    dpkg --print-foreign-architectures | grep -qx "$arch" || $SUDO dpkg --add-architecture "$arch"
  done
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
