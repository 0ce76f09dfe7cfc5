#!/usr/bin/env bash
# Renders the programs' icons (the SVG files here, drawn for this project)
# into the PNG sizes of the hicolor theme, hicolor/SIZExSIZE/apps/NAME.png.
# Run after changing an SVG; the PNG files are kept in the repository so that
# building needs no renderer. Needs rsvg-convert (scripts/setup.sh --package).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
for name in vantrel skerry; do
  for size in 16 22 24 32 48 64 128 256; do
    mkdir -p "$here/hicolor/${size}x${size}/apps"
    rsvg-convert -w "$size" -h "$size" "$here/$name.svg" -o "$here/hicolor/${size}x${size}/apps/$name.png"
  done
done
