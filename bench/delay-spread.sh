#!/usr/bin/env bash
# The delay against systems of different speeds: `glowcast --headless` colours one lamp on each of three
# bridge simulators that answer a lamp state after 5, 150 and 400 ms (the first bridge and two further
# bridges, stand-ins for a quick zigbee2mqtt, WLED and Home Assistant). For each "delay" (600, then 0)
# it posts covers, alternately red and blue, and takes each system's moment as the time its state
# arrived plus its answer time. Per cover: the spread of the three moments, and the time from the
# notice to the last one. The first 3 covers are not counted: a system's latency counts from its 3rd
# answer. Prints Markdown. GLOWCAST_BENCH_COVERS sets the covers counted (default 50).
#
# usage: bench/delay-spread.sh [BUILD_DIR]   (default build/release; builds what it needs)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build/release}
covers=${GLOWCAST_BENCH_COVERS:-50}
latencies=(5 150 400)

cmake --build "$build" --target glowcast glowcast-bridge-sim glowcast-post-cover >/dev/null
app=$root/$build/src/app/glowcast
sim=$root/$build/tools/glowcast-bridge-sim
poster=$root/$build/tools/glowcast-post-cover

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

# One run: prints one line per counted cover, "spread_ms last_ms".
run() {
    local delay=$1 dir=$work/run addresses=()
    rm -rf "$dir"
    mkdir -p -m 0700 "$dir/config"
    for i in 0 1 2; do
        "$sim" --port 0 --lamps 1 --user alice --bridge-id "024743FFFE00000$i" >"$dir/sim$i.out" 2>/dev/null &
        pids+=($!)
        wait_for 100 grep -qs '^listening on ' "$dir/sim$i.out"
        addresses+=("$(sed -n 's/^listening on //p' "$dir/sim$i.out")")
        curl -fsS -X POST "http://${addresses[$i]}/sim/faults" -d \
            "{\"mode\":\"none\",\"latency_ms\":${latencies[$i]},\"count\":100000,\"path\":\"/state\"}" >/dev/null
    done
    printf '{"username":"alice","lastusedbridgeIP":"%s","delay":%s,"lamps":[{"id":"1","enabled":true},{"id":"bridge-2/1","enabled":true},{"id":"bridge-3/1","enabled":true}],"systems":[{"id":"bridge-2","kind":"bridge","address":"%s","user":"alice"},{"id":"bridge-3","kind":"bridge","address":"%s","user":"alice"}]}\n' \
        "${addresses[0]}" "$delay" "${addresses[1]}" "${addresses[2]}" >"$dir/config/preferences.json"
    dbus-daemon --session --nofork --nopidfile --print-address=3 3>"$dir/bus" >/dev/null 2>&1 &
    pids+=($!)
    wait_for 100 test -s "$dir/bus"
    DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$dir/bus") GLOWCAST_CONFIG_DIR=$dir/config \
        "$app" --headless >"$dir/app.log" 2>&1 &
    pids+=($!)
    wait_for 150 grep -qs 'registering for notifications' "$dir/app.log"
    sleep 3 # the further bridges read their lamps
    DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$dir/bus") python3 - "$poster" "$work" "$delay" "$covers" "${addresses[@]}" <<'EOF'
import json, subprocess, sys, time, urllib.request
poster, work, delay, covers, addresses = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5:]
latency = [0.005, 0.150, 0.400]
def get(address, path):
    return urllib.request.urlopen(f"http://{address}{path}", timeout=5).read()
# Each simulator counts its time from its own start: a request at a known moment gives its origin.
origins = []
for address in addresses:
    before = time.monotonic()
    get(address, "/api/calibrate")
    requests = json.loads(get(address, "/sim/requests"))
    origins.append(before - requests[-1]["time"])
posted = []
for n in range(covers + 3):
    time.sleep(1.5)
    posted.append(time.monotonic())
    subprocess.run([poster, f"{work}/{'red' if n % 2 == 0 else 'blue'}.png"], check=True, stdout=subprocess.DEVNULL)
time.sleep(delay / 1000 + 2)
moments = []
for i, address in enumerate(addresses):
    puts = [r["time"] for r in json.loads(get(address, "/sim/requests")) if r["method"] == "PUT"]
    moments.append([origins[i] + t + latency[i] for t in puts])
for n in range(3, covers + 3):
    start, end = posted[n], posted[n] + 1.5
    cover = [[m for m in system if start <= m - latency[i] < end] for i, system in enumerate(moments)]
    if all(len(c) == 1 for c in cover):
        arrived = [c[0] for c in cover]
        print(round((max(arrived) - min(arrived)) * 1000), round((max(arrived) - start) * 1000))
    else:
        print("missing missing")
EOF
    stop_started
}

p() { # the nearest-rank percentile P of the numbers on stdin
    sort -n | awk -v p="$1" '{ v[NR] = $1 } END { i = int((p * NR + 99) / 100); if (i < 1) i = 1; print v[i] }'
}
echo "| delay | covers | spread: median / 95th percentile / most (ms) | notice to last lamp: median / 95th percentile (ms) |"
echo "|---|---|---|---|"
for delay in 600 0; do
    run "$delay" >"$work/result"
    counted=$(grep -cv missing "$work/result" || true)
    grep -v missing "$work/result" >"$work/ok" || true
    echo "| $delay | $counted of $covers | $(cut -d' ' -f1 "$work/ok" | p 50) / $(cut -d' ' -f1 "$work/ok" | p 95) / $(cut -d' ' -f1 "$work/ok" | p 100) | $(cut -d' ' -f2 "$work/ok" | p 50) / $(cut -d' ' -f2 "$work/ok" | p 95) |"
done
