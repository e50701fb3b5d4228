#!/usr/bin/env bash
# Runs the tests of a Linux cross build (the arm64 or armhf preset) under qemu-user, then reads the
# emulated device with the cross-built pzrq480-cli over a real pseudo-terminal, both
# programs under qemu-user, and prints what the read showed.
# Usage: scripts/qemu-tests.sh [preset] [--subset]   (after `cmake --build --preset arm64`;
# scripts/test.sh calls it). --subset runs only the named quick part of the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/session.sh

preset=arm64
subset=0
for arg in "$@"; do
  case "$arg" in
    --subset) subset=1 ;;
    -*) echo "qemu-tests.sh: unknown option $arg" >&2; exit 2 ;;
    *) preset=$arg ;;
  esac
done
build=build/$preset

# The quick part: the terminal line and the virtual one with its time-outs (winapi), blocking
# transfers (comport), the device link (configurator) and the emulated device on a real
# pseudo-terminal and on a virtual line (device); a few seconds under emulation.
quick='^(TerminalLineTest|VirtualPortTest|CommTimeouts|Transfer|Link|PtyDeviceTest|VirtualLineDeviceTest)\.'

echo "--- $preset tests under qemu-user"
if [ $subset = 1 ]; then
  ctest --preset "$preset" -R "$quick"
else
  ctest --preset "$preset"
fi

# The emulator with the termios2 stand-in, as the build's tests run it.
[ -f "$build/tests/qemu/emulator" ] || { echo "$build is not a cross build with an emulator" >&2; exit 1; }
export PZ_EMULATOR
PZ_EMULATOR=$(cat "$build/tests/qemu/emulator")
read -ra emulator <<<"$PZ_EMULATOR"

echo "--- $preset pzrq480-cli read of $preset pzrq480-sim over a pseudo-terminal"
trap_session_cleanup
make_session_dir qemu-read
start_sim "$session_dir" "$build/src/apps/pzrq480-sim/pzrq480-sim" --hw 1.2 --sw 7 --address 12 \
  --s88-start 33 --s88-modules 4 --command-station 1
echo "pzrq480-sim serves $sim_com on $sim_pty"
out=$(PZ_PORT_MAP_DIR=$session_dir/ports timeout 120 "${emulator[@]}" \
  "$build/src/apps/pzrq480-cli/pzrq480-cli" read --port "$sim_com" 2>&1) || {
  echo "the read failed: $out" >&2
  exit 1
}
echo "$out"
for line in "Hardware version: 1.2" "Software version: 7" "XpressNet address: 12" \
            "S88 start address: 33" "S88 module count: 4"; do
  grep -qxF "$line" <<<"$out" || { echo "the read did not show \"$line\"" >&2; exit 1; }
done
echo "$preset read: ok"
