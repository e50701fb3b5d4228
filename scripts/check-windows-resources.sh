#!/usr/bin/env bash
# Reads the resources back from the built Windows programs: the icon with all its sizes,
# the version information of the project's version and the manifest.
# Usage: scripts/check-windows-resources.sh [mingw-build-folder]   (needs icoutils)
set -euo pipefail
dir=${1:-build/mingw}
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$dir/CMakeCache.txt")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failed=0

fail() {
  echo "$exe: $*" >&2
  failed=1
}

# The text of the resources of type $1, UTF-16 strings as UTF-8.
resource_text() {
  { wrestool -x --raw -t "$1" "$exe" || true; } | iconv -f UTF-16LE -t UTF-8 -c | tr -d '\0'
}

for exe in "$dir/src/apps/pzrq480/pzrq480.exe" "$dir/src/apps/pzrq480-cli/pzrq480-cli.exe"; do
  [ -f "$exe" ] || { fail "not built"; continue; }
  program=$(basename "$exe")
  wrestool -x -t 14 "$exe" >"$tmp/icon.ico" 2>/dev/null || true
  sizes=$(icotool -l "$tmp/icon.ico" 2>/dev/null | sed -n 's/.*--width=\([0-9]*\).*/\1/p' | sort -n | xargs)
  [ "$sizes" = "16 24 32 48 64 128 256" ] || fail "icon sizes '$sizes', not 16 to 256"
  info=$(resource_text 16)
  for field in "ProductName.*PZ-RQ480 configurator" "FileVersion.*$version" \
    "ProductVersion.*$version" "OriginalFilename.*$program" "LegalCopyright.*Copyright" \
    "FileDescription.*PZ-RQ480"; do
    grep -qa "$field" <<<"$info" || fail "version information lacks $field"
  done
  manifest=$(wrestool -x --raw -t 24 "$exe" || true)
  grep -q 'requestedExecutionLevel level="asInvoker"' <<<"$manifest" || fail "manifest lacks asInvoker"
  if [ "$program" = pzrq480.exe ]; then
    grep -q 'Microsoft.Windows.Common-Controls" version="6.0.0.0"' <<<"$manifest" ||
      fail "manifest lacks the common controls 6"
    grep -q 'PerMonitorV2' <<<"$manifest" || fail "manifest lacks per-monitor DPI awareness"
  fi
  [ $failed = 0 ] && echo "$exe: icon $sizes, version $version, manifest"
done
exit $failed
