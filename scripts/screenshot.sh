#!/bin/sh
# Takes docs/screenshot.png: Ridelog under Xvfb, with Japanese fonts, after the sample commuter
# card was read from the simulated reader. Needs xvfb-run, ImageMagick's import and
# fonts-ipafont-gothic.
#
#   scripts/screenshot.sh [BUILD_DIR]
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}
if [ -z "${DISPLAY:-}" ] || [ "${RIDELOG_SCREENSHOT_IN_XVFB:-}" != 1 ]; then
    RIDELOG_SCREENSHOT_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 640x400x24" "$0" "$build"
fi

shot="$PWD/$build/screenshot"
rm -rf "$shot"
mkdir -p "$shot/cards" "$shot/data" "$shot/config"
export XDG_DATA_HOME="$shot/data" XDG_CONFIG_HOME="$shot/config"
# Names from the demo's station-name server, when it can be started.
server_args=""
NAMESERVER_PID=""
if server=$(scripts/start-nameserver.sh "$build"); then
    eval "$server"
    server_args="--name-server=$NAMESERVER_URL"
fi
# The window where a first start puts it: (20, 20), 540 pixels wide.
"$build/src/app/ridelog" "--reader=virtual:$shot/cards" $server_args &
ridelog=$!
sleep 2
cp data/sample-cards/commuter.card "$shot/cards/.commuter.part"
mv "$shot/cards/.commuter.part" "$shot/cards/commuter.card"
sleep 3
import -window root -crop 540x278+20+20 +repage docs/screenshot.png
kill "$ridelog"
wait "$ridelog" 2>/dev/null || true
if [ -n "$NAMESERVER_PID" ]; then
    kill "$NAMESERVER_PID" 2>/dev/null || true
fi
echo "docs/screenshot.png written"
