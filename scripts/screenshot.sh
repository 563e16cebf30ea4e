#!/usr/bin/env bash
# Takes the picture of the main window shown in the README (docs/screenshot.png): Glowcast under
# Xvfb with a private session bus and the bridge simulator, after one sample cover.
#
# usage: scripts/screenshot.sh [BUILD_DIR] [COVER]   (defaults: build/release, samples/covers/01-ember.png)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build/release}
cover=${2:-samples/covers/01-ember.png}
out=$root/docs/screenshot.png

if [ -z "${GLOWCAST_SCREENSHOT_UNDER_XVFB:-}" ]; then
    export GLOWCAST_SCREENSHOT_UNDER_XVFB=1
    exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$@"
fi

work=$(mktemp -d /tmp/glowcast-screenshot.XXXXXX)
# shellcheck source=scripts/lib/processes.sh
source "$root/scripts/lib/processes.sh"
trap stop_started EXIT


dbus-daemon --session --nofork --nopidfile --print-address=3 3>"$work/bus-address" 2>/dev/null &
pids+=($!)
wait_for 100 test -s "$work/bus-address"
export DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$work/bus-address")

"$build/tools/glowcast-bridge-sim" --port 0 --lamps 6 --user alice >"$work/sim.out" 2>/dev/null &
pids+=($!)
wait_for 100 grep -q '^listening on ' "$work/sim.out"
address=$(sed -n 's/^listening on //p' "$work/sim.out")

mkdir -m 0700 "$work/config"
cat >"$work/config/preferences.json" <<JSON
{"username": "alice", "lastusedbridgeIP": "$address", "lamps": [
 {"id": "1", "name": "Lamp 1", "enabled": true}, {"id": "2", "name": "Lamp 2", "enabled": true},
 {"id": "3", "name": "Lamp 3", "enabled": false}, {"id": "4", "name": "Lamp 4", "enabled": true},
 {"id": "5", "name": "Lamp 5", "enabled": true}, {"id": "6", "name": "Lamp 6", "enabled": true}]}
JSON

rm -f "$out"
GLOWCAST_CONFIG_DIR="$work/config" "$build/src/app/glowcast" --window-picture "$out" 2>"$work/glowcast.log" &
app=$!
pids+=($app)
wait_for 300 grep -q 'registering for notifications' "$work/glowcast.log"
"$build/tools/glowcast-post-cover" "$cover" >/dev/null
all_lamps_coloured() { [ "$(curl -fsS "http://$address/sim/requests" | grep -o '"method":"PUT"' | wc -l)" -ge 5 ]; }
wait_for 300 all_lamps_coloured
sleep 1
kill -USR1 "$app"
wait_for 100 test -s "$out"
echo "screenshot: saved $out"
