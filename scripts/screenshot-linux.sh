#!/usr/bin/env bash
# Takes docs/screenshot-linux.png: under a private Xvfb display, starts pzrq480-sim and the
# window, clicks "Read settings" like a user (xdotool), waits for the read to finish and
# captures the window. Also an end-to-end check of the window: it fails if the read does
# not reach the emulated device.
# Usage: scripts/screenshot-linux.sh [build-folder] [output.png]
#        (defaults: build/default, docs/screenshot-linux.png; builds what is missing)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
output=${2:-docs/screenshot-linux.png}
window_bin=$build/src/apps/pzrq480/pzrq480
sim_bin=$build/src/apps/pzrq480-sim/pzrq480-sim

for tool in Xvfb xdotool xwd convert; do
  command -v "$tool" >/dev/null || { echo "screenshot-linux.sh: $tool is missing (scripts/install-deps.sh --gui)" >&2; exit 1; }
done
if [ ! -x "$window_bin" ] || [ ! -x "$sim_bin" ]; then
  [ -f "$build/CMakeCache.txt" ] || cmake --preset default -B "$build" >/dev/null
  cmake --build "$build" -j 2 --target pzrq480 pzrq480-sim
fi

work=$(mktemp -d /tmp/pz-screenshot.XXXXXX)
pids=()
cleanup() {
  # The simulator gets SIGTERM so that it removes its port map entry.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# Waits up to $1 seconds for the command that follows to succeed.
wait_for() {
  local limit=$1
  shift
  local deadline=$((SECONDS + limit))
  until "$@"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.1
  done
}

# A private display on the first free number, with the DPI the window's font sizes assume.
Xvfb -displayfd 3 -screen 0 640x560x24 -dpi 96 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
wait_for 20 test -s "$work/display" || { echo "Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=:$(head -n1 "$work/display")

# The emulated device, in a private port map, with settings that differ from the
# window's pre-selections so the screenshot shows a real read.
export PZ_PORT_MAP_DIR=$work/ports
mkdir -p "$PZ_PORT_MAP_DIR"
"$sim_bin" --hw 1.2 --sw 7 --address 12 --baud-rate 19200 --s88-start 33 --s88-modules 4 \
  --command-station 1 --log "$work/frames.log" >"$work/sim.out" 2>"$work/sim.err" &
pids+=($!)
wait_for 20 test -s "$work/sim.out" || { echo "pzrq480-sim did not start" >&2; cat "$work/sim.err" >&2; exit 1; }
echo "pzrq480-sim serves $(head -n1 "$work/sim.out") on $(sed -n 2p "$work/sim.out")"

env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY "$window_bin" >"$work/window.log" 2>&1 &
pids+=($!)
window_id() {
  local ids
  ids=$(xdotool search --name '^PZ-RQ480 \(XpressNet' 2>/dev/null) || true
  echo "${ids%%$'\n'*}"
}
window_open() { test -n "$(window_id)"; }
wait_for 30 window_open || { echo "the window did not open" >&2; cat "$work/window.log" >&2; exit 1; }
wid=$(window_id)
sleep 0.5  # let the first paint land before the click
# "Read settings" lies at 8,56 (105 x 25) in the client area; no window manager, no frame.
xdotool mousemove --window "$wid" 60 68 click 1

# A read is the version query and five setting requests (six replies from the device),
# and ends with the window closing the port.
replies() { grep -c ' tx ' "$work/frames.log" 2>/dev/null || true; }
read_done() { [ "$(replies)" -ge 6 ] && [[ $(tail -n1 "$work/frames.log") == *'port closed'* ]]; }
wait_for 30 read_done || {
  echo "the read did not complete on the device (replies: $(replies))" >&2
  cat "$work/frames.log" "$work/window.log" >&2
  exit 1
}
sleep 0.5  # let the window repaint the read values

mkdir -p "$(dirname "$output")"
xwd -silent -id "$wid" | convert xwd:- "png:$output"
echo "wrote $output"
