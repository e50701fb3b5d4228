#!/usr/bin/env bash
# Installs what is missing, builds every preset and runs every test.
# Usage: scripts/test.sh [preset ...]   (default: default asan tsan mingw arm64 release)
# The mingw preset's test programs run under Wine (scripts/wine-tests.sh);
# PZ_WINE_TESTS=0 makes it build-only. The arm64 preset's run under qemu-user
# (scripts/qemu-tests.sh): a quick named part of them in the default run, all of them when
# arm64 is named; PZ_ARM64_TESTS=0 makes it build-only. Ctrl-C ends whatever the run started.
# The release preset is built only: it shows that an optimised build compiles; its
# benchmarks are run by hand. Each preset's build and test times are printed as they end,
# and all of them with the total at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/session.sh
trap_session_cleanup
scripts/install-deps.sh

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
  echo "--- /usr/bin/pzrq480 under Xvfb"
  make_session_dir installed
  start_xvfb "$session_dir" || return 1
  env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY /usr/bin/pzrq480 >"$session_dir/window.log" 2>&1 &
  track_pid $!
  local failed=0
  if ! wait_for_window 60 "$window_title" >/dev/null; then
    echo "the installed window did not appear" >&2
    cat "$session_dir/window.log" >&2
    failed=1
  fi
  cleanup_session
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
  # The zip holds one folder with exactly the programs, the quick-start and the licence,
  # the texts with Windows' line ends.
  listing=$(unzip -Z1 "$zip" | sed 's|^[^/]*/||' | grep -v '^$' | LC_ALL=C sort | xargs)
  if [ "$listing" != "LICENSE.txt README-Windows.txt pzrq480-cli.exe pzrq480.exe" ]; then
    echo "the zip holds: $listing" >&2
    return 1
  fi
  for entry in README-Windows.txt LICENSE.txt; do
    if ! unzip -p "$zip" "*/$entry" | awk '!/\r$/ {bad = 1} END {exit bad}'; then
      echo "$entry in the zip has lines without CRLF" >&2
      return 1
    fi
  done
  run_arm64_package
  echo "packages: $deb $zip $arm64_deb"
}

# The arm64 package: made from the arm64 build, checked as far as this machine can: its
# architecture, its dependencies resolved by apt in the arm64 archive,
# lintian, and its pzrq480-cli run under qemu-user. Its manual pages are those of amd64.
run_arm64_package() {
  local control extracted page
  echo "--- the arm64 package"
  scripts/install-deps.sh --arm64
  cmake --preset arm64 >/dev/null
  cmake --build --preset arm64 -j 2 --target pzrq480 pzrq480-cli pzrq480-sim manual_pages \
    package_docs
  (cd build/arm64 && cpack -G DEB)
  arm64_deb=$(first_file build/arm64/pzrq480_*_arm64.deb)
  control=$(dpkg-deb -I "$arm64_deb")
  echo "$control"
  grep -qx ' Architecture: arm64' <<<"$control" ||
    { echo "the arm64 package is not marked arm64" >&2; return 1; }
  [[ $control == *"libqt6widgets6"* && $control == *"libc6"* ]] ||
    { echo "the arm64 package's library dependencies are missing" >&2; return 1; }
  # Resolved as for an arm64 machine; unlike a simulated install of the package, this does
  # not depend on whether the amd64 package is installed here.
  apt-get satisfy -s -qq -a arm64 --no-install-recommends "$(dpkg-deb -f "$arm64_deb" Depends)" \
    >/dev/null
  lintian --fail-on error "$arm64_deb"
  for page in pzrq480 pzrq480-cli pzrq480-sim; do
    cmp <(zcat "build/release/packaging/$page.1.gz") <(zcat "build/arm64/packaging/$page.1.gz") ||
      { echo "the arm64 manual page of $page differs from the amd64 one" >&2; return 1; }
  done
  make_session_dir arm64-package
  dpkg-deb -x "$arm64_deb" "$session_dir"
  qemu-aarch64-static "$session_dir/usr/bin/pzrq480-cli" --help >/dev/null
  cleanup_session
}

now() { date +%s; }
run_started=$(now)
times=()

# With PZ_OVERLAP=1 a preset's tests run in the background while the next preset compiles:
# the tests mostly wait (on timers, lines, the emulated device), the compiler mostly
# computes, and it runs at the lowest priority meanwhile. Without it each preset's tests
# run after its build, alone.
test_pid=
test_preset=
test_log=
test_started=0

start_tests() {
  test_preset=$1
  test_log=$(mktemp "/tmp/pz-tests-$1.XXXXXX")
  test_started=$(now)
  # The job notes when it ended: it may end long before the build beside it does.
  {
    local status=0
    if [ "$1" = mingw ]; then
      scripts/wine-tests.sh || status=$?
    elif [ "$1" = arm64 ]; then
      scripts/qemu-tests.sh arm64 "${arm64_tests[@]}" || status=$?
    else
      ctest --preset "$1" || status=$?
    fi
    now >"$test_log.end"
    exit $status
  } >"$test_log" 2>&1 &
  test_pid=$!
  track_pid "$test_pid"
}

# Waits for the running tests, shows their output and time; fails as they did.
finish_tests() {
  [ -n "$test_pid" ] || return 0
  local status=0
  wait "$test_pid" || status=$?
  echo "=== tests of $test_preset ==="
  cat "$test_log"
  local ended
  ended=$(cat "$test_log.end" 2>/dev/null || now)
  rm -f "$test_log" "$test_log.end"
  times+=("$test_preset tests: $((ended - test_started)) s")
  echo "--- ${times[-1]}"
  test_pid=
  return $status
}

presets=("$@")
arm64_tests=()
if [ ${#presets[@]} -eq 0 ]; then
  presets=(default asan tsan mingw arm64 release)
  arm64_tests=(--subset)
fi

for preset in "${presets[@]}"; do
  echo "=== preset $preset ==="
  build_started=$(now)
  [ "$preset" != arm64 ] || scripts/install-deps.sh --arm64
  cmake --preset "$preset" >/dev/null
  if [ -n "$test_pid" ]; then
    nice -n 19 cmake --build --preset "$preset" -j 2
  else
    cmake --build --preset "$preset" -j 2
  fi
  times+=("$preset build: $(($(now) - build_started)) s")
  echo "--- ${times[-1]}"
  finish_tests
  case "$preset" in
    release) ;;
    mingw) [ "${PZ_WINE_TESTS:-1}" != 1 ] || start_tests mingw ;;
    arm64) [ "${PZ_ARM64_TESTS:-1}" != 1 ] || start_tests arm64 ;;
    *) start_tests "$preset" ;;
  esac
  # Tests beside the next build only when asked (PZ_OVERLAP=1): runs with a build beside
  # the sanitizer tests have seen a pseudo-terminal test refused its new terminal (error 5).
  [ "${PZ_OVERLAP:-0}" = 1 ] || finish_tests
done
finish_tests
if [ "${PZ_PACKAGES:-1}" = 1 ]; then
  packaging_started=$(now)
  run_packaging
  times+=("packages: $(($(now) - packaging_started)) s")
fi
echo "=== times ==="
printf '%s\n' "${times[@]}"
echo "total: $(($(now) - run_started)) s"
