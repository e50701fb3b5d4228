#!/usr/bin/env bash
# Installs what is missing, builds every preset and runs every test.
# Usage: scripts/test.sh [preset ...]   (default: default asan tsan mingw)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(default asan tsan mingw)

for preset in "${presets[@]}"; do
  echo "=== preset $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j 2
  if [ "$preset" != mingw ]; then
    ctest --preset "$preset"
  fi
done
