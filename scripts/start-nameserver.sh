#!/bin/sh
# Starts the station-name server for the demo on a free loopback port, in the background.
#
#   eval "$(scripts/start-nameserver.sh BUILD_DIR)"
#
# prints NAMESERVER_URL=http://127.0.0.1:PORT/trfc/ and NAMESERVER_PID=PID; stop the server
# with: kill "$NAMESERVER_PID". The names come from BUILD_DIR/demo/names.sqlite, imported once
# from the public code tables in ../shared/data/codes (or $RIDELOG_CODES_DIR) when they are
# there, and from the sample tables in data/ (which only fill codes the public tables lack).
# Delete the file to import again. Logs: BUILD_DIR/demo/nameserver*.log.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
server="$build/server/ridelog-nameserver"
demo="$build/demo"
database="$demo/names.sqlite"
codes="${RIDELOG_CODES_DIR:-$root/../shared/data/codes}"

if [ ! -x "$server" ]; then
    echo "start-nameserver: $server is not built" >&2
    exit 1
fi
mkdir -p "$demo"

if [ ! -f "$database" ]; then
    set --
    for table in rail_station_codes_current.csv rail_station_codes_2014.csv \
        sfcardfan_all_sheets.csv; do
        [ -f "$codes/$table" ] && set -- "$@" "$codes/$table"
    done
    set -- "$@" "$root/data/sample-names.csv" "$root/data/sample-bus-shops.csv"
    if ! "$server" import --db "$database" "$@" >"$demo/nameserver-import.log" 2>&1; then
        echo "start-nameserver: import failed, see $demo/nameserver-import.log" >&2
        exit 1
    fi
fi

log="$demo/nameserver.log"
: >"$log"
"$server" serve --db "$database" --listen 127.0.0.1:0 >>"$log" 2>&1 &
pid=$!

# The server prints its address once it listens.
tries=0
url=""
while [ -z "$url" ]; do
    url=$(sed -n 's|.*\(http://127\.0\.0\.1:[0-9]*/trfc/\).*|\1|p' "$log" | head -n 1)
    [ -n "$url" ] && break
    if ! kill -0 "$pid" 2>/dev/null || [ "$tries" -ge 100 ]; then
        kill "$pid" 2>/dev/null || true
        echo "start-nameserver: the server did not start, see $log" >&2
        exit 1
    fi
    tries=$((tries + 1))
    sleep 0.1
done

echo "NAMESERVER_URL=$url"
echo "NAMESERVER_PID=$pid"
