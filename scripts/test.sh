#!/usr/bin/env bash
# Installs what is missing, builds every preset and runs every test.
# Usage: scripts/test.sh [preset ...]   (default: default release asan tsan mingw)
# The mingw preset's test programs run under Wine; PZ_WINE_TESTS=0 makes it build-only.
# The release preset is built only: it shows that an optimised build compiles; its
# benchmarks are run by hand.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(dirname "$wine")/wineserver
# The build folders the Wine runs take their programs from.
mingw_dir=${PZ_MINGW_DIR:-build/mingw}
default_dir=${PZ_DEFAULT_DIR:-build/default}

# Linux-built equipment for the Wine runs: the pty modem-line shim and the emulated device.
build_wine_equipment() {
  cmake --preset default -B "$default_dir" >/dev/null
  cmake --build "$default_dir" -j 2 --target pty_modem_shim pzrq480-sim
  shim=$PWD/$default_dir/tests/wine/libpty_modem_shim.so
  sim=$PWD/$default_dir/src/apps/pzrq480-sim/pzrq480-sim
}

# Runs a Windows program under Wine with a time limit and the modem-line shim.
in_wine() {
  local limit=$1
  shift
  LD_PRELOAD=$shim timeout "$limit" "$wine" "$@"
}

# Waits (up to 30 s) until the file exists and has at least N lines.
wait_for_lines() {
  local file=$1 lines=$2
  for _ in $(seq 300); do
    [ -e "$file" ] && [ "$(wc -l <"$file")" -ge "$lines" ] && return 0
    sleep 0.1
  done
  echo "timed out waiting for $file" >&2
  return 1
}

# Runs pzrq480-cli.exe until its output matches, at most three times. Under Wine a
# one-byte write can complete late enough that the device takes the gap for the end of
# a request and ignores it; every failed attempt is shown.
cli_expect() {
  local pattern=$1 out attempt
  shift
  for attempt in 1 2 3; do
    if out=$(in_wine 120 "$cli" "$@" 2>&1) && grep -qE "$pattern" <<<"$out"; then
      return 0
    fi
    echo "pzrq480-cli $*, attempt $attempt: $out" >&2
  done
  return 1
}

# pzrq480-cli.exe reads the emulated device on the pseudo-terminal $1 through ser2net
# as raw TCP on 127.0.0.1 (files in folder $2).
cli_network_read() {
  local pty=$1 dir=$2 port hex ser2net_pid failed=0
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  hex=$(printf '%04X' "$port")
  # ser2net's -Y takes '#' for a line end.
  /usr/sbin/ser2net -n -u -Y "connection: &pz#  accepter: tcp,127.0.0.1,$port#  connector: serialdev,$pty,19200n81,local" \
    >"$dir/ser2net.out" 2>&1 &
  ser2net_pid=$!
  for _ in $(seq 100); do grep -q " 0100007F:$hex 00000000:0000 0A " /proc/net/tcp && break; sleep 0.1; done
  echo "--- pzrq480-cli.exe through ser2net as raw TCP (tcp://127.0.0.1:$port)"
  cli_expect '"xpressnetAddress": *12' read --port "tcp://127.0.0.1:$port" --json || failed=1
  kill "$ser2net_pid" 2>/dev/null || true
  wait "$ser2net_pid" 2>/dev/null || true
  return $failed
}

# The .exe files import nothing but system DLLs.
check_windows_imports() {
  local exe dll failed=0
  for exe in $mingw_dir/src/apps/*/*.exe $mingw_dir/tests/*_tests.exe; do
    [ -f "$exe" ] || continue
    for dll in $(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ {print tolower($3)}'); do
      case "$dll" in
        kernel32.dll | user32.dll | gdi32.dll | advapi32.dll | msvcrt.dll | ws2_32.dll | setupapi.dll) ;;
        *) echo "$exe imports $dll, which is no system DLL" >&2; failed=1 ;;
      esac
    done
  done
  return $failed
}

# Runs the Windows test programs under Wine in a throw-away prefix where two
# pseudo-terminals joined back to back are COM25 and COM26 (outside COM1..COM20, which
# the configurator probes and whose missing ports its tests rely on), then the
# integration runs; fails if any fails.
run_wine_tests() {
  scripts/install-deps.sh --wine
  build_wine_equipment
  local failed=0 socat_pid exe
  WINEPREFIX=$(mktemp -d /tmp/pz-wine.XXXXXX)
  export WINEPREFIX WINEDEBUG=-all
  timeout 300 "$wine" wineboot -i >/dev/null 2>&1 || true
  socat pty,raw,echo=0,link="$WINEPREFIX/pair-a" pty,raw,echo=0,link="$WINEPREFIX/pair-b" &
  socat_pid=$!
  for _ in $(seq 100); do [ -e "$WINEPREFIX/pair-b" ] && break; sleep 0.1; done
  ln -sfn "$WINEPREFIX/pair-a" "$WINEPREFIX/dosdevices/com25"
  ln -sfn "$WINEPREFIX/pair-b" "$WINEPREFIX/dosdevices/com26"
  export PZ_TEST_PORT_PAIR=COM25,COM26
  for exe in $mingw_dir/tests/*_tests.exe; do
    echo "--- $(basename "$exe") under Wine"
    in_wine 600 "$exe" || failed=1
  done
  echo "--- gui_win32_tests.exe under Wine and Xvfb"
  LD_PRELOAD=$shim timeout 600 xvfb-run -a -s "-screen 0 1024x768x24" \
    "$wine" $mingw_dir/tests/gui/win32/gui_win32_tests.exe || failed=1
  unset PZ_TEST_PORT_PAIR
  kill "$socat_pid" 2>/dev/null || true
  run_wine_integration || failed=1
  echo "--- imports of the .exe files"
  check_windows_imports || failed=1
  "$wineserver" -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
  unset WINEPREFIX
  return $failed
}

# The Windows programs against the emulated device on a pseudo-terminal linked as COM7:
# the command-line tool through the real Windows serial calls, then the window under
# Xvfb, where a click on "Read settings" fills the lists.
run_wine_integration() {
  local dir=$WINEPREFIX/integration sim_pid out failed=0
  local cli=$mingw_dir/src/apps/pzrq480-cli/pzrq480-cli.exe
  local gui=$mingw_dir/src/apps/pzrq480/pzrq480.exe
  mkdir -p "$dir/ports"
  PZ_PORT_MAP_DIR=$dir/ports "$sim" --address 5 --s88-modules 3 --log "$dir/frames.log" \
    >"$dir/sim.out" 2>"$dir/sim.err" &
  sim_pid=$!
  wait_for_lines "$dir/sim.out" 2 || { kill "$sim_pid"; return 1; }
  ln -sfn "$(sed -n 2p "$dir/sim.out")" "$WINEPREFIX/dosdevices/com7"

  if [ -f "$cli" ]; then
    echo "--- pzrq480-cli.exe against the emulated device on COM7"
    cli_expect COM7 ports || failed=1
    cli_expect '"xpressnetAddress": *5' read --port COM7 --json || failed=1
    cli_expect '' write --port COM7 --address 12 || failed=1
    cli_expect '"xpressnetAddress": *12' read --port COM7 --json || failed=1
    cli_expect COM7 detect || failed=1
    cli_network_read "$(sed -n 2p "$dir/sim.out")" "$dir" || failed=1
  else
    echo "pzrq480-cli.exe was not built" >&2
    failed=1
  fi

  echo "--- pzrq480.exe under Xvfb against the emulated device"
  # The window reads the first port it finds; Wine itself makes COM1 of /dev/ttyS0 at
  # every start unless its port table names another device.
  timeout 60 "$wine" reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$(sed -n 2p "$dir/sim.out")" /f >/dev/null
  "$wineserver" -k 2>/dev/null || true
  run_gui_smoke "$dir" "$gui" || failed=1
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  return $failed
}

# Starts the window, clicks "Read settings", waits for the device's five settings to be
# read, and keeps a screenshot of the window in $mingw_dir/screenshot-windows.png.
run_gui_smoke() {
  local dir=$1 gui=$2 display=:71 xvfb_pid gui_pid window failed=0
  Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=$display
  for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  # Without a window manager Wine draws the window frames itself.
  timeout 60 "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
  LD_PRELOAD=$shim timeout 300 "$wine" "$gui" &
  gui_pid=$!
  window=$(timeout 120 xdotool search --sync --name 'PZ-RQ480 \(XpressNet') || true
  window=${window%%$'\n'*}
  if [ -z "$window" ]; then
    echo "the window did not appear" >&2
    failed=1
  else
    sleep 2
    # "Read settings" is at 8,56 (105 x 25) in the client area, which starts 3,22 into
    # the frame Wine draws.
    xdotool mousemove --window "$window" 63 90 click 1
    # The read ends with the request for setting 5, after the version and settings 1..4.
    for _ in $(seq 300); do
      grep -qiE 'f2 0?5 ff' "$dir/frames.log" && break
      sleep 0.1
    done
    sleep 3
    import -window root "$dir/screen.png"
    convert "$dir/screen.png" -crop 247x461+192+109 +repage "$mingw_dir/screenshot-windows.png"
    if ! grep -qiE 'f2 0?5 ff' "$dir/frames.log"; then
      echo "the click on Read settings did not read the device" >&2
      cat "$dir/frames.log" >&2
      failed=1
    fi
  fi
  kill "$gui_pid" 2>/dev/null || true
  wait "$gui_pid" 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
  unset DISPLAY
  return $failed
}

# Release packages: the Debian package from the release build, installed here with
# apt-get and run; the Windows zip from the mingw build.
# The first of the files a glob names (fails if there is none).
first_file() {
  [ -e "$1" ] || { echo "no file matches $1" >&2; return 1; }
  echo "$1"
}

# Whether a listing has a line ending in the given path. Listings are captured first: under
# pipefail a reader that stops early (grep -q, head) can kill the writer with SIGPIPE.
lists_line() {
  local line
  while IFS= read -r line; do
    [[ $line == "$2" || $line == */"$2" ]] && return 0
  done <<<"$1"
  echo "$2 is missing from the package" >&2
  return 1
}

# Starts the installed window (/usr/bin/pzrq480) under Xvfb and waits for it to show.
run_installed_window() {
  local display=:73 xvfb_pid window_pid window failed=0
  echo "--- /usr/bin/pzrq480 under Xvfb"
  Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do DISPLAY=$display xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  DISPLAY=$display env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY /usr/bin/pzrq480 \
    >/tmp/pzrq480-installed.log 2>&1 &
  window_pid=$!
  window=$(DISPLAY=$display timeout 60 xdotool search --sync --name '^PZ-RQ480 \(XpressNet' \
    2>/dev/null) || true
  if [ -z "$window" ]; then
    echo "the installed window did not appear" >&2
    cat /tmp/pzrq480-installed.log >&2
    failed=1
  fi
  kill "$window_pid" 2>/dev/null || true
  wait "$window_pid" 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  return $failed
}

run_packaging() {
  local deb zip listing entry
  echo "=== packages ==="
  cmake --preset release >/dev/null
  cmake --build --preset release -j 2 --target pzrq480 pzrq480-cli pzrq480-sim manual_pages \
    package_docs
  (cd build/release && cpack -G DEB)
  deb=$(first_file build/release/pzrq480_*.deb)
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  echo "--- lintian and desktop-file-validate"
  lintian --fail-on error "$deb"
  desktop-file-validate cmake/pzrq480.desktop
  # Only what the package depends on: a window that needs a recommended package fails.
  $SUDO apt-get install -y -qq --reinstall --no-install-recommends "./$deb"
  /usr/bin/pzrq480-cli --help >/dev/null
  lists_line "$(dpkg -L pzrq480)" /usr/share/applications/pzrq480.desktop
  for page in pzrq480 pzrq480-cli pzrq480-sim; do
    lists_line "$(dpkg -L pzrq480)" "/usr/share/man/man1/$page.1.gz"
  done
  run_installed_window
  cmake --preset mingw >/dev/null
  cmake --build --preset mingw -j 2 --target pzrq480 pzrq480-cli
  (cd build/mingw && cpack -G ZIP)
  zip=$(first_file build/mingw/pzrq480-*-windows-x64.zip)
  listing=$(unzip -Z1 "$zip")
  for entry in pzrq480.exe pzrq480-cli.exe README.md; do
    lists_line "$listing" "$entry"
  done
  echo "packages: $deb $zip"
}

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(default release asan tsan mingw)

for preset in "${presets[@]}"; do
  echo "=== preset $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j 2
  if [ "$preset" = release ]; then
    continue
  elif [ "$preset" != mingw ]; then
    ctest --preset "$preset"
  elif [ "${PZ_WINE_TESTS:-1}" = 1 ]; then
    run_wine_tests
  fi
done
if [ "${PZ_PACKAGES:-1}" = 1 ]; then
  run_packaging
fi
