# Shared by the scripts that drive the programs: condition waits, a private Xvfb display,
# the emulated device in a private port map, and the clean-up of everything they started.
# Source it; it defines functions and `emulator` only. Background processes are registered with
# `track_pid`, and `cleanup_session` (run on EXIT, INT, TERM and HUP once
# `trap_session_cleanup` is called) ends them newest first and removes $session_dir.

session_pids=()
# A cross build's programs run under an emulator: PZ_EMULATOR names it with its options
# (e.g. qemu-aarch64-static), and the build's programs are started as "${emulator[@]}" prog.
read -ra emulator <<<"${PZ_EMULATOR:-}"
session_dir=
session_cleanups=()

track_pid() { session_pids+=("$1"); }

# Whether process $1 has ended (a child that has ended but is not yet reaped counts).
session_pid_gone() {
  local state
  state=$(ps -o stat= -p "$1" 2>/dev/null) || return 0
  [[ $state == Z* ]]
}

# Runs a command at clean-up, before the tracked processes are ended.
on_cleanup() { session_cleanups+=("$*"); }

cleanup_session() {
  local i cmd
  for cmd in "${session_cleanups[@]}"; do eval "$cmd" >/dev/null 2>&1 || true; done
  session_cleanups=()
  # SIGTERM lets the simulator remove its port map entry; what is still there after five
  # seconds (a window whose display went first) is killed, so clean-up never hangs.
  for ((i = ${#session_pids[@]} - 1; i >= 0; i--)); do kill "${session_pids[i]}" 2>/dev/null || true; done
  for i in "${session_pids[@]}"; do
    wait_for 5 session_pid_gone "$i" || kill -KILL "$i" 2>/dev/null || true
    wait "$i" 2>/dev/null || true
  done
  session_pids=()
  if [ -n "$session_dir" ]; then rm -rf "$session_dir"; fi
  session_dir=
  if [ -n "${session_display:-}" ]; then unset DISPLAY session_display; fi
}

# Clean up on any end; Ctrl-C ends the script with the signal's status after cleaning up.
trap_session_cleanup() {
  trap cleanup_session EXIT
  trap 'cleanup_session; trap - INT; kill -INT $$' INT
  trap 'cleanup_session; exit 143' TERM
  trap 'cleanup_session; exit 129' HUP
}

# A private folder for this run's files, removed at clean-up.
make_session_dir() {
  session_dir=$(mktemp -d "/tmp/pz-$1.XXXXXX")
}

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

# A private display on the first free number (files in folder $1), with the DPI the
# window's font sizes assume; exports DISPLAY.
start_xvfb() {
  local dir=$1 screen=${2:-800x600x24}
  Xvfb -displayfd 3 -screen 0 "$screen" -dpi 96 -nolisten tcp 3>"$dir/display" 2>"$dir/xvfb.log" &
  track_pid $!
  wait_for 20 test -s "$dir/display" || { echo "Xvfb did not start" >&2; cat "$dir/xvfb.log" >&2; return 1; }
  DISPLAY=:$(head -n1 "$dir/display")
  session_display=$DISPLAY
  export DISPLAY
}

# Starts the emulated device (program $2, then its options) in a private port map under
# folder $1, and waits until it has printed its COM name and pty path: sets sim_com and
# sim_pty.
start_sim() {
  local dir=$1 sim=$2
  shift 2
  mkdir -p "$dir/ports"
  PZ_PORT_MAP_DIR=$dir/ports "${emulator[@]}" "$sim" --log "$dir/frames.log" "$@" >"$dir/sim.out" 2>"$dir/sim.err" &
  track_pid $!
  sim_started() { [ -f "$dir/sim.out" ] && [ "$(wc -l <"$dir/sim.out")" -ge 2 ]; }
  wait_for 30 sim_started || { echo "pzrq480-sim did not start" >&2; cat "$dir/sim.err" >&2; return 1; }
  sim_com=$(sed -n 1p "$dir/sim.out")
  sim_pty=$(sed -n 2p "$dir/sim.out")
}

# The first shown window whose name matches $1, or nothing.
window_named() {
  local ids
  # Only a mapped window: one that exists but is not shown yet takes no clicks and
  # cannot be captured.
  ids=$(xdotool search --onlyvisible --name "$1" 2>/dev/null) || true
  echo "${ids%%$'\n'*}"
}

# The title of the configurator's window, as xdotool matches it.
window_title='^PZ-RQ480 \(XpressNet'

# Waits up to $1 seconds for a window whose name matches $2 and prints its id; fails
# when none appears.
wait_for_window() {
  local limit=$1 pattern=$2 id=
  window_there() { id=$(window_named "$pattern"); [ -n "$id" ]; }
  wait_for "$limit" window_there || return 1
  echo "$id"
}

# Whether the emulated device (log in folder $1) has answered a whole read (the version
# and the five settings), counting from line $2 of its log (default: the first).
device_answered_read() {
  local log=$1/frames.log from=${2:-1}
  [ -f "$log" ] && [ "$(tail -n "+$from" "$log" | grep -c ' tx ')" -ge 6 ]
}

# The same, and the port has been closed after it: the read is over.
device_read_done() {
  device_answered_read "$@" && [[ $(tail -n1 "$1/frames.log") == *'port closed'* ]]
}

# Waits until two captures of window $1 in a row are the same: it has finished painting.
wait_for_steady_window() {
  local window=$1 previous= current
  steady() {
    current=$(xwd -silent -id "$window" | md5sum)
    [ "$current" = "$previous" ] && return 0
    previous=$current
    return 1
  }
  wait_for 20 steady
}
