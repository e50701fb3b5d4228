#!/usr/bin/env bash
# Runs the Windows test programs of the mingw build under Wine in a throw-away prefix, then
# the Windows programs against the emulated device, and checks the .exe files' imports.
# Usage: scripts/wine-tests.sh   (after `cmake --build --preset mingw`; scripts/test.sh
# calls it). PZ_MINGW_DIR and PZ_DEFAULT_DIR pick the build folders.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/session.sh
scripts/install-deps.sh --wine

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

# The display scale Wine gives its programs (96 DPI is 100 %), as Windows' display
# settings set it; the Wine server is restarted for it to take effect.
set_wine_dpi() {
  timeout 60 "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f \
    >/dev/null 2>&1
  "$wineserver" -w
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
  track_pid "$ser2net_pid"
  listening() { grep -q " 0100007F:$hex 00000000:0000 0A " /proc/net/tcp; }
  wait_for 10 listening || true
  echo "--- pzrq480-cli.exe through ser2net as raw TCP (tcp://127.0.0.1:$port)"
  cli_expect '"xpressnetAddress": *12' read --port "tcp://127.0.0.1:$port" --json || failed=1
  echo "--- the same network port under a COM name given with map"
  cli_expect 'COM30 is now' map COM30 "tcp://127.0.0.1:$port" || failed=1
  cli_expect '^COM30: tcp://127.0.0.1' ports || failed=1
  cli_expect '"xpressnetAddress": *12' read --port COM30 --json || failed=1
  cli_expect removed unmap COM30 || failed=1
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
        kernel32.dll | user32.dll | gdi32.dll | comctl32.dll | advapi32.dll | msvcrt.dll | ws2_32.dll | setupapi.dll) ;;
        *) echo "$exe imports $dll, which is no system DLL" >&2; failed=1 ;;
      esac
    done
  done
  return $failed
}

# The Windows test programs, in a prefix where two pseudo-terminals joined back to back
# are COM25 and COM26 (outside COM1..COM20, which the configurator probes and whose
# missing ports its tests rely on).
run_test_programs() {
  local failed=0 socat_pid exe
  socat pty,raw,echo=0,link="$WINEPREFIX/pair-a" pty,raw,echo=0,link="$WINEPREFIX/pair-b" &
  socat_pid=$!
  track_pid "$socat_pid"
  wait_for 10 test -e "$WINEPREFIX/pair-b" || { echo "socat did not link the pair" >&2; return 1; }
  ln -sfn "$WINEPREFIX/pair-a" "$WINEPREFIX/dosdevices/com25"
  ln -sfn "$WINEPREFIX/pair-b" "$WINEPREFIX/dosdevices/com26"
  export PZ_TEST_PORT_PAIR=COM25,COM26
  for exe in $mingw_dir/tests/*_tests.exe; do
    echo "--- $(basename "$exe") under Wine"
    in_wine 600 "$exe" || failed=1
  done
  echo "--- gui_win32_tests.exe under Wine and Xvfb"
  # A Wine server the programs before started without a display would give this one no
  # desktop: it ends first.
  "$wineserver" -w
  PZ_TEST_EXPECT_DPI=96 LD_PRELOAD=$shim timeout 600 xvfb-run -a -s "-screen 0 1024x768x24" \
    "$wine" $mingw_dir/tests/gui/win32/gui_win32_tests.exe || failed=1
  echo "--- gui_win32_tests.exe: the window's geometry at 144 DPI"
  set_wine_dpi 144
  PZ_TEST_EXPECT_DPI=144 LD_PRELOAD=$shim timeout 600 xvfb-run -a -s "-screen 0 1024x768x24" \
    "$wine" $mingw_dir/tests/gui/win32/gui_win32_tests.exe --gtest_filter='WindowDpi*:WindowLayout*' ||
    failed=1
  set_wine_dpi 96
  unset PZ_TEST_PORT_PAIR
  kill "$socat_pid" 2>/dev/null || true
  return $failed
}

# The Windows programs against the emulated device on a pseudo-terminal linked as COM7:
# the command-line tool through the real Windows serial calls, then the window under
# Xvfb, where a click on "Read settings" fills the lists.
run_integration() {
  local dir=$WINEPREFIX/integration failed=0
  cli=$mingw_dir/src/apps/pzrq480-cli/pzrq480-cli.exe
  local gui=$mingw_dir/src/apps/pzrq480/pzrq480.exe
  mkdir -p "$dir"
  start_sim "$dir" "$sim" --address 5 --s88-modules 3 || return 1
  ln -sfn "$sim_pty" "$WINEPREFIX/dosdevices/com7"

  if [ -f "$cli" ]; then
    echo "--- pzrq480-cli.exe against the emulated device on COM7"
    cli_expect COM7 ports || failed=1
    cli_expect "^pzrq480-cli $(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$mingw_dir/CMakeCache.txt")" \
      --version || failed=1
    cli_expect '^Usage: pzrq480-cli' '/?' || failed=1
    cli_expect '"xpressnetAddress": *5' read --port COM7: --json || failed=1
    cli_expect '' write --port COM7 --address 12 || failed=1
    cli_expect '"xpressnetAddress": *12' read --port COM7 --json || failed=1
    cli_expect COM7 detect || failed=1
    cli_network_read "$sim_pty" "$dir" || failed=1
  else
    echo "pzrq480-cli.exe was not built" >&2
    failed=1
  fi

  echo "--- pzrq480.exe under Xvfb against the emulated device"
  # The window reads the first port it finds; Wine itself makes COM1 of /dev/ttyS0 at
  # every start unless its port table names another device.
  timeout 60 "$wine" reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$sim_pty" /f >/dev/null
  "$wineserver" -k 2>/dev/null || true
  run_window "$dir" "$gui" || failed=1
  return $failed
}

# Starts the window, clicks "Read settings", waits for the device's five settings to be
# read, and keeps a screenshot of the window in $mingw_dir/screenshot-windows.png.
run_window() {
  local dir=$1 gui=$2 gui_pid window from
  start_xvfb "$dir" 1280x1024x24 || return 1
  # Without a window manager Wine draws the window frames itself.
  timeout 60 "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
  LD_PRELOAD=$shim timeout 300 "$wine" "$gui" &
  gui_pid=$!
  track_pid "$gui_pid"
  if ! window=$(wait_for_window 120 'PZ-RQ480 \(XpressNet'); then
    echo "the window did not appear" >&2
    return 1
  fi
  wait_for_steady_window "$window" || true
  # The read is judged on the frames logged after the click.
  from=$(($(wc -l <"$dir/frames.log") + 1))
  # "Read settings" is at 8,56 (105 x 25) in the client area, which starts 3,22 into
  # the frame Wine draws.
  xdotool mousemove --window "$window" 63 90 click 1
  read_done() { device_answered_read "$dir" "$from"; }
  if ! wait_for 60 read_done; then
    echo "the click on Read settings did not read the device" >&2
    cat "$dir/frames.log" >&2
    return 1
  fi
  wait_for_steady_window "$window" || true
  import -window root "$dir/screen.png"
  convert "$dir/screen.png" -crop 247x461+192+109 +repage "$mingw_dir/screenshot-windows.png"
  kill "$gui_pid" 2>/dev/null || true
  wait "$gui_pid" 2>/dev/null || true
  window_picture_at_dpi "$gui" 144 || return 1
}

# Starts the window at $2 DPI and keeps a picture of it in
# $mingw_dir/screenshot-windows-<dpi>.png: the frame at 1.5 times the place and size.
window_picture_at_dpi() {
  local gui=$1 dpi=$2 gui_pid window geometry
  set_wine_dpi "$dpi"
  LD_PRELOAD=$shim timeout 300 "$wine" "$gui" &
  gui_pid=$!
  track_pid "$gui_pid"
  if ! window=$(wait_for_window 120 'PZ-RQ480 \(XpressNet'); then
    echo "the window did not appear at $dpi DPI" >&2
    return 1
  fi
  wait_for_steady_window "$window" || true
  geometry=$(xwininfo -id "$window" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4}
    /Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h "+" x "+" y}')
  echo "the window at $dpi DPI: $geometry"
  import -window root "$WINEPREFIX/screen-$dpi.png"
  convert "$WINEPREFIX/screen-$dpi.png" -crop "$geometry" +repage "$mingw_dir/screenshot-windows-$dpi.png"
  kill "$gui_pid" 2>/dev/null || true
  wait "$gui_pid" 2>/dev/null || true
  set_wine_dpi 96
}

trap_session_cleanup
build_wine_equipment
make_session_dir wine
WINEPREFIX=$session_dir
export WINEPREFIX WINEDEBUG=-all
on_cleanup "\"$wineserver\" -k"
timeout 300 "$wine" wineboot -i >/dev/null 2>&1 || true
failed=0
run_test_programs || failed=1
run_integration || failed=1
echo "--- imports of the .exe files"
check_windows_imports || failed=1
echo "--- resources of the .exe files"
scripts/check-windows-resources.sh "$mingw_dir" || failed=1
exit $failed
