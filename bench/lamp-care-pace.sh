#!/usr/bin/env bash
# Lamp care against a bridge that allows 10 lamp commands a second: `glowcast --headless` colours
# 12 lamps of the simulator (started with --rate-limit 10) for one cover, first with the "pace"
# setting at 10, then with no pace, where the overload back-off has to bring every lamp its colour.
# For each run: whether every lamp took the cover's colour, the 429s the bridge answered, the lamp
# commands sent, and the time from the first lamp command to the last as the bridge received them.
# Each run has a fresh simulator, private session bus and configuration. Prints Markdown.
# GLOWCAST_BENCH_RUNS sets the runs per case (default 5).
#
# usage: bench/lamp-care-pace.sh [BUILD_DIR]   (default build/release; builds what it needs)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build/release}
runs=${GLOWCAST_BENCH_RUNS:-5}
lamps=12

cmake --build "$build" --target glowcast glowcast-bridge-sim glowcast-post-cover >/dev/null
app=$root/$build/src/app/glowcast
sim=$root/$build/tools/glowcast-bridge-sim
poster=$root/$build/tools/glowcast-post-cover

work=$(mktemp -d /tmp/glowcast-pace.XXXXXX)
# shellcheck source=scripts/lib/processes.sh
source "$root/scripts/lib/processes.sh"
trap 'stop_started; rm -rf "$work"' EXIT


# A cover of one colour, pure red: every lamp is sent {"bri":255,"xy":[0.640,0.330]}.
python3 - "$work/red.png" <<'EOF'
import struct, sys, zlib
side = 64
raw = b"".join(b"\0" + b"\xff\x00\x00" * side for _ in range(side))
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", side, side, 8, 2, 0, 0, 0))
png += chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b"")
open(sys.argv[1], "wb").write(png)
EOF

all_red() {
    curl -fsS "http://$address/sim/state" | python3 -c '
import json, sys
lamps = json.load(sys.stdin)["lamps"]
sys.exit(0 if all(l["xy"] == [0.64, 0.33] and l["bri"] == 254 for l in lamps) else 1)'
}

# One run: prints "reached 429s commands span_ms".
run() {
    local pace=$1 dir=$work/run
    rm -rf "$dir"
    mkdir -p -m 0700 "$dir/config"
    "$sim" --port 0 --lamps "$lamps" --user alice --rate-limit 10 >"$dir/sim.out" 2>/dev/null &
    pids+=($!)
    wait_for 100 grep -qs '^listening on ' "$dir/sim.out"
    address=$(sed -n 's/^listening on //p' "$dir/sim.out")
    dbus-daemon --session --nofork --nopidfile --print-address=3 3>"$dir/bus" >/dev/null 2>&1 &
    pids+=($!)
    wait_for 100 test -s "$dir/bus"
    local list="" id
    for id in $(seq "$lamps"); do list+="${list:+,}{\"id\":\"$id\",\"name\":\"Lamp $id\",\"enabled\":true}"; done
    printf '{"username":"alice","lastusedbridgeIP":"%s","lamps":[%s]%s}\n' "$address" "$list" \
        "${pace:+,\"pace\":$pace}" >"$dir/config/preferences.json"
    DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$dir/bus") GLOWCAST_CONFIG_DIR=$dir/config \
        "$app" --headless >"$dir/app.log" 2>&1 &
    pids+=($!)
    wait_for 150 grep -qs 'registering for notifications' "$dir/app.log"
    curl -fsS -X DELETE "http://$address/sim/requests" >/dev/null
    DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$dir/bus") "$poster" "$work/red.png" >/dev/null
    local reached=yes
    wait_for 150 all_red || reached=no
    sleep 0.5 # a resend still under way would show in the counts
    local overloads
    overloads=$(grep -c 'the bridge is overloaded (HTTP 429)' "$dir/app.log" || true)
    curl -fsS "http://$address/sim/requests" | python3 -c '
import json, sys
puts = [r["time"] for r in json.load(sys.stdin) if r["method"] == "PUT"]
print(len(puts), round((max(puts) - min(puts)) * 1000) if puts else 0)' | {
        read -r commands span
        echo "$reached $overloads $commands $span"
    }
    stop_started
}

echo "| case | run | every lamp reached its colour | 429s | lamp commands | first to last command (ms) |"
echo "|---|---|---|---|---|---|"
for pace in 10 ""; do
    for r in $(seq "$runs"); do
        run "$pace" >"$work/result"
        read -r reached overloads commands span <"$work/result"
        echo "| $([ -n "$pace" ] && echo "pace $pace" || echo "no pace") | $r | $reached | $overloads | $commands | $span |"
    done
done
