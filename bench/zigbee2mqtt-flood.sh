#!/usr/bin/env bash
# `glowcast --headless` under a flood of zigbee2mqtt device lists: a broker client (the zigbee2mqtt
# stand-in) publishes a list of DEVICES devices with every device renamed, every MS ms, ROUNDS times,
# on a Mosquitto of its own on loopback; the first bridge is the bridge simulator. Measures the peak
# resident memory of glowcast, the slowest `glowcastctl status` during the flood and the first after
# it, the seconds until the newest names are in the lamp table, and the seconds from SIGTERM to its
# end. Prints Markdown.
#
# usage: bench/zigbee2mqtt-flood.sh [BUILD_DIR] [DEVICES] [MS] [ROUNDS]
#        (default build/release 5000 10 800: 2.4 MB lists for 8 s; builds what it needs)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build/release}
devices=${2:-5000}
interval=${3:-10}
rounds=${4:-800}

cmake --build "$build" --target glowcast glowcastctl glowcast-bridge-sim glowcast-zigbee2mqtt-sim >/dev/null
app=$root/$build/src/app/glowcast
ctl=$root/$build/tools/glowcastctl
sim=$root/$build/tools/glowcast-bridge-sim
standin=$root/$build/tools/glowcast-zigbee2mqtt-sim

work=$(mktemp -d /tmp/glowcast-flood.XXXXXX)
# shellcheck source=scripts/lib/processes.sh
source "$root/scripts/lib/processes.sh"
trap 'exec 4>&- || true; stop_started; rm -rf "$work"' EXIT

now() { date +%s.%N; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", b - a}'; }
# Whether less than $2 seconds went by since $1 (a number compare: "7.0" < "600" is false as text).
within() { awk -v a="$1" -v b="$(now)" -v limit="$2" 'BEGIN {exit !(b - a < limit)}'; }

"$sim" --port 0 --lamps 5 --user alice >"$work/sim.out" 2>/dev/null &
pids+=($!)
wait_for 100 grep -q '^listening on ' "$work/sim.out"
bridge=$(sed -n 's/^listening on //p' "$work/sim.out")

start_broker "$work"
port=$broker_port

mkfifo "$work/commands"
"$standin" --broker "127.0.0.1:$port" --lamps "$devices" <"$work/commands" >"$work/standin.out" 2>&1 &
pids+=($!)
exec 4>"$work/commands"
wait_for 300 grep -q '^online ' "$work/standin.out"

dbus-daemon --session --nofork --nopidfile --print-address=3 3>"$work/bus" >/dev/null 2>&1 &
pids+=($!)
wait_for 100 test -s "$work/bus"
export DBUS_SESSION_BUS_ADDRESS
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$work/bus")
mkdir -p -m 0700 "$work/config"
printf '{"username":"alice","lastusedbridgeIP":"%s","systems":[{"id":"z2m","kind":"zigbee2mqtt","address":"mqtt://127.0.0.1:%s"}]}\n' \
    "$bridge" "$port" >"$work/config/preferences.json"
GLOWCAST_CONFIG_DIR=$work/config QT_QPA_PLATFORM=offscreen "$app" --headless 2>"$work/log" &
app_pid=$!
pids+=($app_pid)
lamps_named() { [ "$("$ctl" lamps 2>/dev/null | grep -c -- "$1")" -gt 0 ]; }
wait_for 600 lamps_named 'Desk lamp'
rss_before=$(awk '/^VmRSS:/ {print $2}' "/proc/$app_pid/status")

# Status during the flood: asked over and over, each answer timed.
status_time() {
    local start
    start=$(now)
    timeout 120 "$ctl" status >/dev/null 2>&1 || echo "status failed" >&2
    seconds "$start" "$(now)"
}
flood_start=$(now)
echo "renames $rounds $interval" >&4
slowest=0
asked=0
while ! grep -q "^renamed $rounds" "$work/standin.out"; do
    took=$(status_time)
    asked=$((asked + 1))
    slowest=$(awk -v a="$slowest" -v b="$took" 'BEGIN {print (b > a) ? b : a}')
    within "$flood_start" 600 || break
done
flood_end=$(now)
after=$(status_time)
newest=$(printf ' ~%06d' "$rounds")
# A broker drops what a subscriber does not take in time; when the last list is among it, the newest
# names come only with the next list.
settled="not within 180 s"
while within "$flood_end" 180; do
    if lamps_named "$newest"; then
        settled="$(seconds "$flood_end" "$(now)") s"
        break
    fi
    sleep 0.1
done
peak=$(awk '/^VmHWM:/ {print $2}' "/proc/$app_pid/status")

term_start=$(now)
kill -TERM "$app_pid"
for _ in $(seq 6000); do
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.05
done
quit=$(seconds "$term_start" "$(now)")
kill -0 "$app_pid" 2>/dev/null && quit="over 300"

echo "| devices | every | rounds | flood took | RSS before | peak RSS | slowest Status during ($asked asked) | Status after | newest names in the table after | SIGTERM to end |"
echo "|---|---|---|---|---|---|---|---|---|---|"
echo "| $devices | $interval ms | $rounds | $(seconds "$flood_start" "$flood_end") s | $((rss_before / 1024)) MiB | $((peak / 1024)) MiB | $slowest s | $after s | $settled | $quit s |"
# grep -c says 0 and fails when no line tells of a dropped message: that is no failure of the run.
{ grep -c 'dropped' "$work/log" || true; } | sed 's/^/log lines of dropped messages: /'
{ grep -c 'Outgoing messages are being dropped' "$work/mosquitto.log" || true; } |
    sed 's/^/broker lines of messages dropped for a slow subscriber: /'
