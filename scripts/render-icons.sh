#!/bin/sh
# Renders the program icon src/ui/resources/ridelog.svg into the PNG sizes of the hicolor
# icon theme under data/icons/. Run it after changing the SVG and commit the PNGs: the build
# installs them as they are and needs no SVG renderer. Needs rsvg-convert (Debian
# librsvg2-bin).
#
#   scripts/render-icons.sh
set -eu
cd "$(dirname "$0")/.."
svg=src/ui/resources/ridelog.svg
for size in 16 22 24 32 48 64 128 256; do
    out=data/icons/${size}x${size}/ridelog.png
    mkdir -p "$(dirname "$out")"
    rsvg-convert --width "$size" --height "$size" --keep-aspect-ratio --format png \
        --output "$out" "$svg"
    echo "$out"
done
