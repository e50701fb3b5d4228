#!/usr/bin/env bash
# Takes docs/screenshot-linux.png: under a private Xvfb display, starts pzrq480-sim and the
# window, clicks "Read settings" like a user (xdotool), waits for the read to finish and
# captures the window. Also an end-to-end check of the window: it fails if the read does
# not reach the emulated device.
# Usage: scripts/screenshot-linux.sh [build-folder] [output.png]
#        (defaults: build/default, docs/screenshot-linux.png; builds what is missing;
#        a cross build's programs run under the emulator PZ_EMULATOR names)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/session.sh
build=${1:-build/default}
output=${2:-docs/screenshot-linux.png}
window_bin=$build/src/apps/pzrq480/pzrq480
sim_bin=$build/src/apps/pzrq480-sim/pzrq480-sim

for tool in Xvfb xdotool xwd convert; do
  command -v "$tool" >/dev/null || { echo "screenshot-linux.sh: $tool is missing (run scripts/install-deps.sh)" >&2; exit 1; }
done
if [ ! -x "$window_bin" ] || [ ! -x "$sim_bin" ]; then
  [ -f "$build/CMakeCache.txt" ] || cmake --preset default -B "$build" >/dev/null
  cmake --build "$build" -j 2 --target pzrq480 pzrq480-sim
fi

trap_session_cleanup
make_session_dir screenshot
work=$session_dir
start_xvfb "$work" 640x560x24

# The emulated device, with settings that differ from the window's pre-selections so the
# screenshot shows a real read.
start_sim "$work" "$sim_bin" --hw 1.2 --sw 7 --address 12 --baud-rate 19200 --s88-start 33 \
  --s88-modules 4 --command-station 1
echo "pzrq480-sim serves $sim_com on $sim_pty"

PZ_PORT_MAP_DIR=$work/ports env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY "${emulator[@]}" "$window_bin" \
  >"$work/window.log" 2>&1 &
track_pid $!
wid=$(wait_for_window 30 "$window_title") ||
  { echo "the window did not open" >&2; cat "$work/window.log" >&2; exit 1; }
wait_for_steady_window "$wid"
# "Read settings" lies at 8,56 (105 x 25) in the client area; no window manager, no frame.
xdotool mousemove --window "$wid" 60 68 click 1

read_done() { device_read_done "$work"; }
wait_for 30 read_done || {
  echo "the read did not complete on the device" >&2
  cat "$work/frames.log" "$work/window.log" >&2
  exit 1
}
wait_for_steady_window "$wid"

mkdir -p "$(dirname "$output")"
xwd -silent -id "$wid" | convert xwd:- "png:$output"
echo "wrote $output"
