#!/bin/sh
# Starts Ridelog with its data kept under the build folder, so a demo never touches the
# user's own history.
set -eu
build=${1:-build}
demo="$build/demo"
mkdir -p "$demo/data" "$demo/config"
export XDG_DATA_HOME="$PWD/$demo/data"
export XDG_CONFIG_HOME="$PWD/$demo/config"
exec "$build/src/app/ridelog"
