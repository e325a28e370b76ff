#!/usr/bin/env bash
# Renders the icon, platform/os/icons/lumoscan.svg, into the PNG sizes that the
# main window and the menu use, and the .ico of the Windows programs
# (committed beside it). Needs rsvg-convert (Debian librsvg2-bin) and
# ImageMagick; only for a changed drawing.
set -euo pipefail
cd "$(dirname "$0")/../platform/os/icons"
for size in 16 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" lumoscan.svg -o "lumoscan-$size.png"
done
convert lumoscan-16.png lumoscan-32.png lumoscan-48.png lumoscan-256.png lumoscan.ico
