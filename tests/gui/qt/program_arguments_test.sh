#!/bin/sh
# The window program takes no arguments besides --help and --version, and says so
# instead of crashing when there is no display.
# Usage: program_arguments_test.sh path/to/pzrq480 [emulator]
#        (a cross build's program runs under the emulator, e.g. qemu-aarch64-static)
program=$1
emulator=${2:-}
failed=0
check() {  # description, expected exit code, pattern of the output, command...
  what=$1 code=$2 pattern=$3
  shift 3
  output=$("$@" 2>&1) && rc=0 || rc=$?
  if [ "$rc" -ne "$code" ] || ! printf '%s\n' "$output" | grep -q -- "$pattern"; then
    echo "FAIL $what: exit $rc (want $code), output: $output"
    failed=1
  else
    echo "ok   $what"
  fi
}
check "--help" 0 "^Usage: pzrq480" $emulator "$program" --help
check "--version" 0 "^pzrq480 [0-9]" $emulator "$program" --version
check "unknown argument" 2 "unknown argument '--bogus'" $emulator "$program" --bogus
check "two arguments" 2 "takes no arguments" $emulator "$program" --help --version
check "no display" 1 "no display" env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM $emulator "$program"
exit $failed
