#!/bin/sh
# A gallery for review: every window and dialog of Ridelog with a two-year history, in Japanese
# and English, at the default size and at QT_SCALE_FACTOR=2, as PNG files in
# BUILD_DIR/screens/<language>-<scale>x/. Needs xvfb-run and fonts-ipafont-gothic.
#
#   scripts/screenshots.sh [BUILD_DIR]
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}
cmake --build "$build" --target ridelog-gallery ridelog_builtin_names >/dev/null
screens="$PWD/$build/screens"
rm -rf "$screens"
for scale in 1 2; do
    for lang in ja en; do
        case $lang in
            ja) locale=ja_JP.UTF-8 ;;
            *) locale=en_US.UTF-8 ;;
        esac
        out="$screens/$lang-${scale}x"
        home=$(mktemp -d)
        mkdir -p "$out"
        LANG=$locale LC_ALL=$locale LANGUAGE= QT_SCALE_FACTOR=$scale \
            XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" \
            XDG_RUNTIME_DIR="$home" \
            xvfb-run -a -s "-screen 0 $((1280 * scale))x$((900 * scale))x24" \
            "$build/tools/ridelog-gallery" "$out" "$lang" >/dev/null
        rm -rf "$home"
        echo "$out: $(ls "$out" | wc -l) pictures"
    done
done
