#!/usr/bin/env bash
# Draws the application icon from resources/icons/pzrq480.svg: one PNG per size for the
# Linux icon theme (resources/icons/<n>/pzrq480.png) and resources/icons/pzrq480.ico for
# the Windows programs (the 256 px image stored as PNG, as Windows expects it).
# Usage: scripts/draw-icon.sh   (needs ImageMagick and icoutils; the results are committed)
set -euo pipefail
cd "$(dirname "$0")/../resources/icons"
sizes=(16 24 32 48 64 128 256)
images=()
for size in "${sizes[@]}"; do
  mkdir -p "$size"
  convert -background none pzrq480.svg -resize "${size}x${size}" -depth 8 \
    -define png:color-type=6 -strip "$size/pzrq480.png"
  images+=("$size/pzrq480.png")
done
icotool -c -o pzrq480.ico "${images[@]:0:6}" -r "256/pzrq480.png"
