#!/usr/bin/env bash
# The delay against systems of different speeds: `glowcast --headless` colours one lamp on each of four
# systems at once: the first bridge (the simulator), zigbee2mqtt (its stand-in, through a Mosquitto of
# the script's own), WLED (its stand-in taking 150 ms to apply a state) and Home Assistant (its
# stand-in taking 400 ms). For each run it posts covers, alternately red and blue, and takes each
# system's moment as the time its lamp changed: the stand-ins' lines as they print them, stamped as
# they come, and the simulator's requests on the same clock. Per cover: the spread of the four
# moments, and the time from the notice to the last one. The first 3 covers are not counted: a
# system's latency counts from its 3rd answer. Runs "delay" 600 and 0 with this build's glowcast, and
# 0 with BEFORE_BUILD_DIR's (a build from before the setting) when given. Prints Markdown.
# GLOWCAST_BENCH_COVERS sets the covers counted (default 50); GLOWCAST_BENCH_RAW names a folder that
# keeps each run's lines.
#
# usage: bench/delay-spread.sh [BUILD_DIR [BEFORE_BUILD_DIR]]   (default build/release; builds what it needs)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build/release}
before=${2:-}
covers=${GLOWCAST_BENCH_COVERS:-50}

cmake --build "$build" --target glowcast glowcastctl glowcast-bridge-sim glowcast-post-cover \
    glowcast-zigbee2mqtt-sim glowcast-wled-sim glowcast-homeassistant-sim >/dev/null
tools=$root/$build/tools
if [ -n "$before" ]; then
    cmake --build "$before" --target glowcast >/dev/null
fi

work=$(mktemp -d /tmp/glowcast-delay.XXXXXX)
# shellcheck source=scripts/lib/processes.sh
source "$root/scripts/lib/processes.sh"
trap 'stop_started; rm -rf "$work"' EXIT

python3 - "$work" <<'EOF'
import struct, sys, zlib
for name, pixel in (("red", b"\xff\x00\x00"), ("blue", b"\x00\x00\xff")):
    raw = b"".join(b"\0" + pixel * 32 for _ in range(32))
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 32, 32, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b"")
    open(f"{sys.argv[1]}/{name}.png", "wb").write(png)
EOF

# Each line read, after the wall-clock time it came at.
stamp() { while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done; }
listening() { sed -n 's/^[0-9.]* listening on //p' "$1"; }
ready() { [ "$("$tools/glowcastctl" systems | grep -c $'\tready')" = "$1" ]; }

# One run of glowcast $1 with "delay" $2: prints one line per counted cover, "spread_ms last_ms" and each
# system's moment after the notice.
run() {
    local app=$1 delay=$2 dir=$work/run
    rm -rf "$dir"
    mkdir -m 0700 "$dir" "$dir/config" "$dir/config/systems"
    "$tools/glowcast-bridge-sim" --port 0 --lamps 1 --user alice >"$dir/sim.out" 2>/dev/null &
    pids+=($!)
    start_broker "$dir"
    local port=$broker_port
    (umask 077 && echo "bench-token" >"$dir/config/systems/ha.token")
    "$tools/glowcast-homeassistant-sim" --port 0 --lights 1 --latency 400 --token-file "$dir/config/systems/ha.token" \
        > >(stamp >"$dir/ha.out") 2>/dev/null &
    pids+=($!)
    "$tools/glowcast-wled-sim" --port 0 --segments 1 --latency 150 > >(stamp >"$dir/wled.out") 2>/dev/null &
    pids+=($!)
    "$tools/glowcast-zigbee2mqtt-sim" --broker "127.0.0.1:$port" --lamps 1 > >(stamp >"$dir/z2m.out") 2>/dev/null &
    pids+=($!)
    wait_for 100 grep -qs 'online zigbee2mqtt' "$dir/z2m.out"
    wait_for 100 grep -qs '^listening on ' "$dir/sim.out"
    wait_for 100 grep -qs ' listening on ' "$dir/ha.out"
    wait_for 100 grep -qs ' listening on ' "$dir/wled.out"
    local bridge
    bridge=$(sed -n 's/^listening on //p' "$dir/sim.out")
    printf '{"username":"alice","lastusedbridgeIP":"%s","delay":%s,"lamps":[%s],"systems":[%s]}\n' "$bridge" "$delay" \
        '{"id":"1","enabled":true},{"id":"z2m/0x00124b0000000001","enabled":true},{"id":"wled/0","enabled":true},{"id":"ha/light.living_room","enabled":true}' \
        "{\"id\":\"z2m\",\"kind\":\"zigbee2mqtt\",\"address\":\"mqtt://127.0.0.1:$port\"},{\"id\":\"wled\",\"kind\":\"wled\",\"address\":\"http://$(listening "$dir/wled.out")\"},{\"id\":\"ha\",\"kind\":\"homeassistant\",\"address\":\"http://$(listening "$dir/ha.out")\"}" \
        >"$dir/config/preferences.json"
    dbus-daemon --session --nofork --nopidfile --print-address=3 3>"$dir/bus" >/dev/null 2>&1 &
    pids+=($!)
    wait_for 100 test -s "$dir/bus"
    export DBUS_SESSION_BUS_ADDRESS GLOWCAST_CONFIG_DIR=$dir/config
    DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$dir/bus")
    "$app" --headless >"$dir/app.log" 2>&1 &
    pids+=($!)
    wait_for 150 grep -qs 'registering for notifications' "$dir/app.log"
    wait_for 150 ready 3
    python3 - "$tools/glowcast-post-cover" "$work" "$dir" "$delay" "$covers" "$bridge" <<'EOF'
import json, subprocess, sys, time, urllib.request
poster, work, run, delay, covers, bridge = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5]), sys.argv[6]
def get(path):
    return urllib.request.urlopen(f"http://{bridge}{path}", timeout=5).read()
# The simulator counts its time from its own start: a request at a known moment gives its origin, to
# within half the quickest of a few round trips (the first also loads what urllib needs).
trips = []
for _ in range(6):
    before = time.time()
    get("/api/calibrate")
    after = time.time()
    trips.append((after - before, (before + after) / 2 - json.loads(get("/sim/requests"))[-1]["time"]))
origin = min(trips[1:])[1]
posted = []
for n in range(covers + 3):
    time.sleep(1.5)
    posted.append(time.time())
    subprocess.run([poster, f"{work}/{'red' if n % 2 == 0 else 'blue'}.png"], check=True, stdout=subprocess.DEVNULL)
time.sleep(delay / 1000 + 2)
def stamped(name, marker):
    return [float(line.split(" ", 1)[0]) for line in open(f"{run}/{name}.out") if marker in line]
moments = [[origin + r["time"] for r in json.loads(get("/sim/requests")) if r["method"] == "PUT"],
           stamped("z2m", "/set "), stamped("wled", " POST "), stamped("ha", " turn_on ")]
for n in range(3, covers + 3):
    start = posted[n]
    cover = [[m for m in system if start <= m < start + 1.5] for system in moments]
    if all(len(c) == 1 for c in cover):
        arrived = [c[0] for c in cover]
        print(round((max(arrived) - min(arrived)) * 1000), round((max(arrived) - start) * 1000),
              *(round((m - start) * 1000) for m in arrived))
    else:
        print("missing")
EOF
    stop_started
}

p() { # the nearest-rank percentile P of the numbers on stdin
    sort -n | awk -v p="$1" '{ v[NR] = $1 } END { i = int((p * NR + 99) / 100); if (i < 1) i = 1; print v[i] }'
}
row() { # the table's row for a run's lines
    local label=$1 lines=$2 counted
    [ -z "${GLOWCAST_BENCH_RAW:-}" ] || cp "$lines" "$GLOWCAST_BENCH_RAW/${label//[ ,]/_}.txt"
    counted=$(grep -cv missing "$lines" || true)
    grep -v missing "$lines" >"$work/ok" || true
    column() { cut -d' ' -f"$1" "$work/ok" | p "$2"; }
    echo "| $label | $counted of $covers | $(column 1 50) / $(column 1 95) / $(column 1 100) |" \
        "$(column 2 50) / $(column 2 95) | $(column 3 50) / $(column 4 50) / $(column 5 50) / $(column 6 50) |"
}
echo "| glowcast, delay | covers | spread: median / 95th percentile / most (ms) | notice to last lamp: median / 95th percentile (ms) | each system after the notice, median: bridge / zigbee2mqtt / WLED / Home Assistant (ms) |"
echo "|---|---|---|---|---|"
for delay in 600 0; do
    run "$root/$build/src/app/glowcast" "$delay" >"$work/result"
    row "this build, $delay" "$work/result"
done
if [ -n "$before" ]; then
    run "$(cd "$before" && pwd)/src/app/glowcast" 0 >"$work/result"
    row "before the setting, 0" "$work/result"
fi
