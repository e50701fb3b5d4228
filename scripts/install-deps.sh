#!/usr/bin/env bash
# Installs the Debian packages a task needs, only those that are missing.
# Usage: scripts/install-deps.sh [--run] [--window] [--wine] [--arm64] [--armhf]
#   (no option)  everything the tests need: the build, the window, the cross builds, the
#                peers and tools the tests run against
#   --run        only what building and running the command-line tool needs
#   --window     with --run: also what the window needs (Qt 6 and its font)
#   --wine       adds Wine and icoutils, to run the Windows tests
#   --arm64      adds the arm64 cross build: Debian's cross compiler, qemu-user to run its
#                programs, and Qt for arm64 through multiarch (the arm64 architecture is
#                added to dpkg for it; Qt's code generators stay the amd64 ones)
#   --armhf      adds the armhf cross build without Qt: the cross compiler, whose own C
#                library serves qemu-user as the target's root, and qemu-user
set -euo pipefail
build=(cmake ninja-build g++ googletest libgtest-dev)
# The Qt window, its X11 platform plugin (only recommended by Qt's libraries); a font with
# the classic dialog font's widths.
window=(qt6-base-dev qt6-qpa-plugins fonts-liberation)
tests=(g++-mingw-w64-x86-64-posix ccache python3 socat strace clang libclang-rt-14-dev
       # The window on a virtual display: the end-to-end run and the screenshot.
       xvfb xauth x11-utils x11-apps xdotool imagemagick
       # Release packages: dpkg-shlibdeps for the .deb's dependencies, unzip to check the .zip,
       # help2man for the manual pages, lintian and desktop-file-validate to check the .deb.
       dpkg-dev unzip help2man lintian desktop-file-utils
       # Network serial servers the tests of network ports run in front of the emulated
       # device: ser2net, and pyserial's example server.
       ser2net python3-serial)
packages=("${build[@]}")
only_run=0
with_window=0
# Packages of another architecture, installed without their recommended packages: the
# foreign architecture gets only what the cross build needs.
foreign=()
cross=()
for arg in "$@"; do
  case "$arg" in
    --run) only_run=1 ;;
    --window) with_window=1 ;;
    # icoutils reads the icon and the version information back from the .exe files.
    --wine) packages+=(wine wine64 icoutils) ;;
    --arm64) foreign+=(arm64)
             cross+=(crossbuild-essential-arm64 qemu-user-static qt6-base-dev:arm64) ;;
    --armhf) cross+=(crossbuild-essential-armhf qemu-user-static) ;;
    *) echo "install-deps.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done
if [ $only_run = 0 ]; then
  packages+=("${window[@]}" "${tests[@]}")
elif [ $with_window = 1 ]; then
  packages+=("${window[@]}")
fi
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
missing_cross=()
for p in "${cross[@]}"; do
  installed "$p" || missing_cross+=("$p")
done
if [ ${#missing[@]} -gt 0 ] || [ ${#missing_cross[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]} ${missing_cross[*]}"
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  for arch in "${foreign[@]}"; do
    dpkg --print-foreign-architectures | grep -qx "$arch" || $SUDO dpkg --add-architecture "$arch"
  done
  $SUDO apt-get update -qq
  # Running needs only what is named and what it depends on; the test tools (Wine, lintian,
  # ImageMagick, ...) keep their recommended packages, as they were tried with them.
  recommends=()
  [ $only_run = 1 ] && recommends=(--no-install-recommends)
  if [ ${#missing[@]} -gt 0 ]; then
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${recommends[@]}" "${missing[@]}"
  fi
  if [ ${#missing_cross[@]} -gt 0 ]; then
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
      "${missing_cross[@]}"
  fi
fi
