#!/usr/bin/env bash
# The service's footprint, timed from the outside: idle memory and CPU of `glowcast --headless`
# beside the windowed program (offscreen) in the same run, and the time from starting
# `glowcast --headless` to the first lamp colour with the bridge known and covers posted from the
# start. Each program has a private session bus of its own and the bridge simulator on loopback.
# Prints Markdown. GLOWCAST_BENCH_COVER names another cover; GLOWCAST_BENCH_RUNS the number of
# starts timed (default 7).
#
# usage: bench/service-footprint.sh [BUILD_DIR]   (default build/release; builds what it needs)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build/release}
runs=${GLOWCAST_BENCH_RUNS:-7}

cmake --build "$build" --target glowcast glowcast-window glowcast-bridge-sim glowcast-post-cover colours_bench >/dev/null
app=$root/$build/src/app/glowcast
sim=$root/$build/tools/glowcast-bridge-sim
poster=$root/$build/tools/glowcast-post-cover

work=$(mktemp -d /tmp/glowcast-footprint.XXXXXX)
# A photograph-like 640 x 640 JPEG, as album art mostly is (a PNG cover makes Qt ask every image
# plugin whether it reads it, which maps them all).
"$root/$build/bench/colours_bench" --write-covers "$work/covers" >/dev/null
cover=${GLOWCAST_BENCH_COVER:-$work/covers/jpeg-640.jpg}
# shellcheck source=scripts/lib/processes.sh
source "$root/scripts/lib/processes.sh"
trap 'stop_started; rm -rf "$work"' EXIT


"$sim" --port 0 --lamps 5 --user alice >"$work/sim.out" 2>/dev/null &
pids+=($!)
wait_for 100 grep -q '^listening on ' "$work/sim.out"
address=$(sed -n 's/^listening on //p' "$work/sim.out")

# A private bus whose address goes to $bus.
start_bus() {
    dbus-daemon --session --nofork --nopidfile --print-address=3 3>"$1/bus" >/dev/null 2>&1 &
    pids+=($!)
    wait_for 100 test -s "$1/bus"
    bus=$(head -n 1 "$1/bus")
}

# A configuration in $1 with the bridge known and every lamp enabled.
configure() {
    mkdir -p -m 0700 "$1/config"
    local lamps="" id
    for id in 1 2 3 4 5; do lamps+="${lamps:+,}{\"id\":\"$id\",\"name\":\"Lamp $id\",\"enabled\":true}"; done
    printf '{"username":"alice","lastusedbridgeIP":"%s","lamps":[%s]}\n' "$address" "$lamps" >"$1/config/preferences.json"
}

puts() { curl -fsS "http://$address/sim/requests" | grep -o '"method":"PUT"' | wc -l; }
puts_at_least() { [ "$(puts)" -ge "$1" ]; }
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
rss_kib() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }
pss_kib() { awk '/^Pss:/ {print $2}' "/proc/$1/smaps_rollup"; }

# Starts one program ($2...) in directory $1, waits for its set-up and one cover, lets it settle,
# then prints "RSS-after-set-up RSS PSS CPU%" for it.
measure() {
    local dir=$1
    shift
    mkdir -p "$dir"
    configure "$dir"
    start_bus "$dir"
    DBUS_SESSION_BUS_ADDRESS=$bus GLOWCAST_CONFIG_DIR=$dir/config QT_QPA_PLATFORM=offscreen "$@" 2>"$dir/log" &
    local pid=$!
    pids+=($pid)
    wait_for 300 grep -q 'registering for notifications' "$dir/log"
    sleep 1
    local after_set_up
    after_set_up=$(rss_kib "$pid")
    curl -fsS -X DELETE "http://$address/sim/requests" >/dev/null
    DBUS_SESSION_BUS_ADDRESS=$bus "$poster" "$cover" >/dev/null
    wait_for 100 puts_at_least 5
    sleep 5
    local before
    before=$(ticks "$pid")
    sleep 10
    local after
    after=$(ticks "$pid")
    local hz
    hz=$(getconf CLK_TCK)
    echo "$after_set_up $(rss_kib "$pid") $(pss_kib "$pid") $(awk -v d=$((after - before)) -v hz="$hz" 'BEGIN {printf "%.2f", 100 * d / hz / 10}')"
    kill -TERM "$pid"
    wait "$pid" 2>/dev/null || true
}

mib() { awk -v k="$1" 'BEGIN {printf "%.1f", k / 1024}'; }

echo "| program | RSS after set-up | RSS after a cover, idle | PSS after a cover | CPU over 10 s idle |"
echo "|---|---|---|---|---|"
measure "$work/headless" "$app" --headless >"$work/headless.txt"
read -r s r p c <"$work/headless.txt"
echo "| \`glowcast --headless\` | $(mib "$s") MiB | $(mib "$r") MiB | $(mib "$p") MiB | $c % |"
measure "$work/window" "$app" >"$work/window.txt"
read -r s r p c <"$work/window.txt"
echo "| \`glowcast\` (window, offscreen) | $(mib "$s") MiB | $(mib "$r") MiB | $(mib "$p") MiB | $c % |"

# Start to first colour: a marker request on the simulator's clock, then glowcast --headless and a
# cover posted over and over until the first lamp-state request arrives.
times=()
for run in $(seq "$runs"); do
    dir=$work/start-$run
    mkdir -p "$dir"
    configure "$dir"
    start_bus "$dir"
    curl -fsS -X DELETE "http://$address/sim/requests" >/dev/null
    curl -fsS "http://$address/api/alice/lights/1" >/dev/null # the marker
    DBUS_SESSION_BUS_ADDRESS=$bus GLOWCAST_CONFIG_DIR=$dir/config "$app" --headless 2>"$dir/log" &
    pid=$!
    pids+=($pid)
    for _ in $(seq 300); do
        DBUS_SESSION_BUS_ADDRESS=$bus "$poster" "$cover" >/dev/null 2>&1 || true
        puts_at_least 1 && break
    done
    times+=("$(curl -fsS "http://$address/sim/requests" | python3 -c '
import json, sys
records = json.load(sys.stdin)
marker = records[0]["time"]
first = next(r["time"] for r in records if r["method"] == "PUT")
print(round((first - marker) * 1000))')")
    kill -TERM "$pid"
    wait "$pid" 2>/dev/null || true
done
sorted=$(printf '%s\n' "${times[@]}" | sort -n)
echo
echo "Start of \`glowcast --headless\` to the first lamp-state request, $runs runs: median" \
    "$(sed -n "$(((runs + 1) / 2))p" <<<"$sorted") ms, range $(head -n 1 <<<"$sorted")–$(tail -n 1 <<<"$sorted") ms" \
    "(each: $(tr '\n' ' ' <<<"$sorted"| sed 's/ $//') ms)."
