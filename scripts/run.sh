#!/usr/bin/env bash
# Runs the configurator against the emulated device: installs what is missing (as root or
# with sudo on Debian 12), builds, starts pzrq480-sim on a pseudo-terminal and opens the
# window on it. Without a display it reads the device with pzrq480-cli instead and prints
# the result. The simulator's port map entry lives in a private folder and goes with it.
# Usage: scripts/run.sh [pzrq480-sim options]   (e.g. --address 12 --fault split)
# PZ_BUILD_DIR picks the build folder (default build/default, the default preset's).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${PZ_BUILD_DIR:-build/default}

have_display=0
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then have_display=1; fi
# Only what running needs: the window's toolkit only where there is a display to show it on.
if [ $have_display = 1 ]; then
  scripts/install-deps.sh --run --window
else
  scripts/install-deps.sh --run
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake --preset default -B "$build" >/dev/null
fi
targets=(pzrq480-sim)
if [ $have_display = 1 ]; then targets+=(pzrq480); else targets+=(pzrq480-cli); fi
cmake --build "$build" -j 2 --target "${targets[@]}"

work=$(mktemp -d /tmp/pz-run.XXXXXX)
sim_pid=
cleanup() {
  # SIGTERM lets the simulator remove its port map entry.
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

export PZ_PORT_MAP_DIR=$work/ports
mkdir -p "$PZ_PORT_MAP_DIR"
"$build/src/apps/pzrq480-sim/pzrq480-sim" --log "$work/frames.log" "$@" >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 200); do
  [ -s "$work/sim.out" ] && break
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.1
done
if [ ! -s "$work/sim.out" ]; then
  echo "run.sh: pzrq480-sim did not start" >&2
  cat "$work/sim.err" >&2
  exit 1
fi
port=$(head -n1 "$work/sim.out")
echo "pzrq480-sim: the emulated PZ-RQ480 answers on $port ($(sed -n 2p "$work/sim.out"))"

if [ $have_display = 1 ]; then
  echo "Opening the window: pick $port, then \"Read settings\". Frames: $work/frames.log"
  "$build/src/apps/pzrq480/pzrq480"
else
  # The device talks at its own rate: ask at the one the simulator was given.
  rate=19200
  args=("$@")
  for ((i = 0; i < ${#args[@]}; i++)); do
    case "${args[i]}" in
      --baud-rate) rate=${args[i + 1]:-$rate} ;;
      --baud-rate=*) rate=${args[i]#--baud-rate=} ;;
    esac
  done
  echo "No display: reading the device with pzrq480-cli"
  "$build/src/apps/pzrq480-cli/pzrq480-cli" read --port "$port" --baud "$rate"
fi
