#!/bin/bash
# How long Ridelog lives after its window is closed with Escape: the time from the key to the
# window leaving the screen (the state and the names are written before it goes) and from then
# to the end of the process. Two setups, each RUNS times under Xvfb:
#   gallery  the 30-card database of ridelog-gallery, its commuter card (2,183 entries) on the
#            reader, five of its newest entries not stored yet (so the read stores and a backup
#            is written)
#   sample   an empty database and data/sample-cards/commuter.card on the reader
# The station-name server of the demo answers when it is built; built-in names otherwise.
#
#   bench/exit-delay.sh [BUILD_DIR] [RUNS]
#
# Needs xvfb-run, xdotool, xwininfo (x11-utils) and sqlite3.
set -eu
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
runs=${2:-10}
root=$PWD
cmake --build "$build" --target ridelog ridelog-gallery ridelog_builtin_names ridelog-nameserver >/dev/null
work=$(mktemp -d)
chmod 700 "$work"
trap 'rm -rf "$work"' EXIT

server=""
if [ -x "$build/server/ridelog-nameserver" ] && out=$(scripts/start-nameserver.sh "$build"); then
    eval "$out"
    server="--name-server=$NAMESERVER_URL"
    trap 'kill "$NAMESERVER_PID" 2>/dev/null; rm -rf "$work"' EXIT
fi

# The gallery's database, before its commuter card is read: made once, copied for every run.
gallery="$work/gallery"
mkdir -p "$gallery"
LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 XDG_DATA_HOME="$gallery/data" XDG_CONFIG_HOME="$gallery/config" \
    XDG_RUNTIME_DIR="$work" xvfb-run -a "$build/tools/ridelog-gallery" "$work/pictures" ja \
    >/dev/null 2>&1
trfc="Tanpopo/Hotaru/Trfc"
sqlite3 "$gallery/data/$trfc/ekdb.sqlite" "DELETE FROM \"2012E44A0B1C2D3E4\" WHERE seq IN \
    (SELECT seq FROM \"2012E44A0B1C2D3E4\" ORDER BY seq DESC LIMIT 5);"
rm -rf "$gallery/data/$trfc/backups" "$gallery/config"

# One run: HOME_DIR CARD_DIR; prints "KEY_TO_GONE GONE_TO_EXIT" in milliseconds.
measure() {
    home=$1 cards=$2
    XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" XDG_RUNTIME_DIR="$work" \
        LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 \
        "$build/src/app/ridelog" "--reader=virtual:$cards" $server >/dev/null 2>&1 &
    pid=$!
    window=""
    for _ in $(seq 100); do
        window=$(xdotool search --pid $pid --onlyvisible 2>/dev/null | head -1) || true
        [ -n "$window" ] && break
        sleep 0.1
    done
    sleep 3 # the read, the names and the backup are done by then
    xdotool windowfocus --sync "$window" 2>/dev/null || true
    pressed=$(date +%s%N)
    xdotool key Escape
    gone=""
    while kill -0 $pid 2>/dev/null; do
        if [ -z "$gone" ] && ! xwininfo -id "$window" 2>/dev/null | grep -q IsViewable; then
            gone=$(date +%s%N)
        fi
        sleep 0.005
    done
    wait $pid || echo "ridelog ended with $?" >&2
    ended=$(date +%s%N)
    [ -n "$gone" ] || gone=$ended
    echo "$(((gone - pressed) / 1000000)) $(((ended - gone) / 1000000))"
}

summary() {
    sort -n | awk '{ v[NR] = $1 } END { printf "min %d, median %d, max %d ms", v[1], v[int((NR + 1) / 2)], v[NR] }'
}

export -f measure
for setup in gallery sample; do
    results="$work/$setup.txt"
    : >"$results"
    for _ in $(seq "$runs"); do
        home="$work/home"
        rm -rf "$home"
        if [ $setup = gallery ]; then
            cp -a "$gallery" "$home"
            cards="$home/data/gallery-cards"
        else
            mkdir -p "$home/data" "$home/cards"
            cp "$root/data/sample-cards/commuter.card" "$home/cards/"
            cards="$home/cards"
        fi
        xvfb-run -a bash -c "$(declare -f measure); work=$work build=$build server='$server' measure $home $cards" >>"$results"
    done
    echo "$setup ($runs runs): Escape to window gone: $(cut -d' ' -f1 "$results" | summary);" \
        "window gone to process end: $(cut -d' ' -f2 "$results" | summary)"
done
