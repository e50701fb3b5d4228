#!/usr/bin/env bash
# Installs what is missing, builds every preset and runs every test.
# Usage: scripts/test.sh [preset ...]   (default: default release asan tsan mingw)
# The mingw preset's test programs run under Wine; PZ_WINE_TESTS=0 makes it build-only.
# The release preset is built only: it shows that an optimised build compiles; its
# benchmarks are run by hand.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

# Runs the Windows test programs under Wine in a throw-away prefix; fails if any fails.
run_wine_tests() {
  scripts/install-deps.sh --wine
  local wine
  wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
  local prefix failed=0
  prefix=$(mktemp -d /tmp/pz-wine.XXXXXX)
  for program in winapi runtime comport; do
    echo "--- ${program}_tests.exe under Wine"
    WINEPREFIX=$prefix WINEDEBUG=-all "$wine" "build/mingw/tests/${program}_tests.exe" || failed=1
  done
  WINEPREFIX=$prefix "$(dirname "$wine")/wineserver" -k 2>/dev/null || true
  rm -rf "$prefix"
  return $failed
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
