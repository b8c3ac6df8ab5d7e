#!/bin/sh
# Starts Ridelog on the simulated reader with its data kept under the build folder, so a demo
# never touches the user's own history, and puts a sample card on the reader a moment later.
#
#   scripts/run-demo.sh [BUILD_DIR] [SAMPLE_CARD]
#
# While it runs, put another card on or take it off from a second terminal:
#   cp data/sample-cards/student.card build/demo/cards/.c.part && mv build/demo/cards/.c.part build/demo/cards/card.card
#   rm build/demo/cards/*.card
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}
card=${2:-data/sample-cards/commuter.card}
demo="$PWD/$build/demo"
cards="$demo/cards"
mkdir -p "$demo/data" "$demo/config" "$cards"
export XDG_DATA_HOME="$demo/data"
export XDG_CONFIG_HOME="$demo/config"

# Start from an empty reader: a card left over from the last demo would be read at start.
rm -f "$cards"/*.card

# The station-name server for the demo on a free loopback port; without it Ridelog still
# works and shows the codes instead of the names.
server_args=""
NAMESERVER_PID=""
if [ -x scripts/start-nameserver.sh ]; then
    if server=$(scripts/start-nameserver.sh "$build"); then
        eval "$server"
        server_args="--name-server=$NAMESERVER_URL"
        echo "Station-name server at $NAMESERVER_URL"
    else
        echo "No station-name server: the list shows codes instead of names."
    fi
fi

cleanup() {
    if [ -n "$NAMESERVER_PID" ]; then
        kill "$NAMESERVER_PID" 2>/dev/null || true
    fi
}
trap cleanup EXIT INT TERM

"$build/src/app/ridelog" "--reader=virtual:$cards" $server_args &
ridelog_pid=$!

# Put the sample card on the reader once the window is up: written under a hidden temporary
# name, then renamed, so the reader never sees half a file.
sleep 2
if [ -f "$card" ] && kill -0 "$ridelog_pid" 2>/dev/null; then
    cp "$card" "$cards/.sample.part"
    mv "$cards/.sample.part" "$cards/$(basename "$card")"
    echo "Put $(basename "$card") on the simulated reader ($cards)."
fi

wait "$ridelog_pid"
