#!/usr/bin/env bash
# What the background service holds as it works: `glowcast --headless` paired with the bridge simulator
# on loopback (five lamps, all enabled) under a private session bus, measured idle before any cover,
# after a 1400 x 1400 photograph-like PNG posted on the bus, and after a player's cover (the same
# picture, other bytes) fetched over http from loopback. At each point: VmRSS; Pss from smaps_rollup,
# split into file-backed pages (the program and its libraries) and anonymous ones (heap, stacks); and
# the distinct shared libraries (.so files) in /proc/PID/maps. Each build runs twice: with no "mqtt"
# set (the budget), and with "mqtt" naming a Mosquitto of the script's own on loopback, which shows
# what publishing adds. With BEFORE_BUILD_DIR, that build's glowcast runs in the same run beside this
# one's (the simulator, the poster and the player are always this build's). Then, for this build
# after the http cover, where the resident memory lies, by mapping. Prints Markdown. Each point is
# taken 3 s after the event it follows (GLOWCAST_BENCH_SETTLE sets the seconds); GLOWCAST_BENCH_KEEP
# names a folder that keeps the process's smaps at each point.
#
# usage: bench/footprint.sh [BUILD_DIR [BEFORE_BUILD_DIR]]   (default build/release; builds what it needs)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build/release}
before=${2:-}
settle=${GLOWCAST_BENCH_SETTLE:-3}

cmake --build "$build" --target glowcast glowcast-bridge-sim glowcast-post-cover colours_bench art_player >/dev/null
tools=$root/$build/tools
builds=("$root/$build")
labels=("this build")
if [ -n "$before" ]; then
    cmake --build "$before" --target glowcast >/dev/null
    builds=("$(cd "$before" && pwd)" "${builds[@]}")
    labels=("before ($(git -C "$before" rev-parse --short HEAD 2>/dev/null || basename "$before"))" "${labels[@]}")
fi

work=$(mktemp -d /tmp/glowcast-footprint.XXXXXX)
# shellcheck source=scripts/lib/processes.sh
source "$root/scripts/lib/processes.sh"
trap 'stop_started; rm -rf "$work"' EXIT

# The covers: the PNG for the bus, and for http the same PNG with a text chunk before its end, so that it
# is not taken for the cover the lamps show already.
"$root/$build/bench/colours_bench" --write-covers "$work/covers" >/dev/null
mkdir "$work/art"
python3 - "$work/covers/png-1400.png" "$work/art/cover.png" <<'EOF'
import struct, sys, zlib
png = open(sys.argv[1], "rb").read()
text = b"tEXt" + b"Comment\0served over http"
chunk = struct.pack(">I", len(text) - 4) + text + struct.pack(">I", zlib.crc32(text))
open(sys.argv[2], "wb").write(png[:-12] + chunk + png[-12:])
EOF

"$tools/glowcast-bridge-sim" --port 0 --lamps 5 --user alice >"$work/sim.out" 2>/dev/null &
pids+=($!)
(cd "$work/art" && exec python3 -u -m http.server --bind 127.0.0.1 0 >"$work/http.out" 2>&1) &
pids+=($!)
start_broker "$work"
port=$broker_port
wait_for 100 grep -q '^listening on ' "$work/sim.out"
wait_for 100 grep -q 'Serving HTTP on ' "$work/http.out"
bridge=$(sed -n 's/^listening on //p' "$work/sim.out")
art="http://127.0.0.1:$(sed -n 's/.* port \([0-9]*\) .*/\1/p' "$work/http.out" | head -n 1)/cover.png"

puts() { curl -fsS "http://$bridge/sim/requests" | { grep -o '"method":"PUT"' || true; } | wc -l; }
puts_at_least() { [ "$(puts)" -ge "$1" ]; }
mib() { awk -v k="$1" 'BEGIN {printf "%.1f", k / 1024}'; }
# "RSS Pss Pss-file Pss-anon libraries" of process $1, in KiB.
sample() {
    local rss libraries
    rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$1/status")
    libraries=$(awk '$6 ~ /\.so($|\.)/ {print $6}' "/proc/$1/maps" | sort -u | wc -l)
    awk -v rss="$rss" -v libraries="$libraries" '
        /^Pss:/ {pss = $2} /^Pss_File:/ {file = $2} /^Pss_Anon:/ {anon = $2} /^Pss_Shmem:/ {shmem = $2}
        END {print rss, pss, file, anon + shmem, libraries}' "/proc/$1/smaps_rollup"
}
cells() { # a sample as table cells
    local rss pss file anon libraries
    read -r rss pss file anon libraries <<<"$1"
    echo "$(mib "$rss") | $(mib "$pss") ($(mib "$file") + $(mib "$anon")) | $libraries"
}
# Resident memory of process $1 by kind of mapping, largest first: "KiB kind".
by_mapping() {
    awk -v program="$2" '
        /^[0-9a-f]+-[0-9a-f]+ / {
            path = $6
            if (path == program) kind = "the program"
            else if (path ~ /libQt6/) kind = "Qt libraries"
            else if (path ~ /\.so($|\.)/) kind = "other shared libraries"
            else if (path == "[heap]") kind = "heap (main arena)"
            else if (path == "") kind = "anonymous (thread arenas, stacks, large blocks)"
            else if (path == "[stack]") kind = "main thread stack"
            else kind = "other (locale data, vdso)"
        }
        /^Rss:/ {rss[kind] += $2}
        END {for (k in rss) print rss[k], k}' "/proc/$1/smaps" | sort -rn
}
libraries_by_rss() { # the shared libraries of process $1 by resident memory
    awk '/^[0-9a-f]+-[0-9a-f]+ / {path = $6} /^Rss:/ && path ~ /\.so($|\.)/ {rss[path] += $2}
        END {for (p in rss) print rss[p], p}' "/proc/$1/smaps" | sort -rn
}

keep() { [ -z "${GLOWCAST_BENCH_KEEP:-}" ] || cp "/proc/$1/smaps" "$GLOWCAST_BENCH_KEEP/$2.smaps"; }
fetched() { grep -F "$art" "$1" | grep -q 'sending it to the lamps'; }

# One run of glowcast $1 ("" or "mqtt" as $2): prints three lines of samples, idle, after the bus cover,
# after the http cover; leaves the process's smaps and maps in $work/$3.*.
run() {
    local app=$1 mqtt=$2 dir=$work/$3 first=${#pids[@]} pid count
    mkdir -m 0700 "$dir" "$dir/config"
    local lamps="" id
    for id in 1 2 3 4 5; do lamps+="${lamps:+,}{\"id\":\"$id\",\"name\":\"Lamp $id\",\"enabled\":true}"; done
    printf '{"username":"alice","lastusedbridgeIP":"%s","lamps":[%s]%s}\n' "$bridge" "$lamps" \
        "${mqtt:+,\"mqtt\":\"mqtt://127.0.0.1:$port\"}" >"$dir/config/preferences.json"
    dbus-daemon --session --nofork --nopidfile --print-address=3 3>"$dir/bus" >/dev/null 2>&1 &
    pids+=($!)
    wait_for 100 test -s "$dir/bus"
    local bus
    bus=$(head -n 1 "$dir/bus")
    curl -fsS -X DELETE "http://$bridge/sim/requests" >/dev/null
    DBUS_SESSION_BUS_ADDRESS=$bus GLOWCAST_CONFIG_DIR=$dir/config "$app/src/app/glowcast" --headless 2>"$dir/log" &
    pid=$!
    pids+=("$pid")
    wait_for 300 grep -q 'registering for notifications' "$dir/log"
    [ -z "$mqtt" ] || wait_for 100 grep -q 'mqtt: Home Assistant finds Glowcast' "$dir/log"
    sleep "$settle"
    sample "$pid"
    keep "$pid" "$3-idle"
    count=$(puts)
    DBUS_SESSION_BUS_ADDRESS=$bus "$tools/glowcast-post-cover" "$work/covers/png-1400.png" >/dev/null
    wait_for 100 puts_at_least $((count + 5))
    sleep "$settle"
    sample "$pid"
    keep "$pid" "$3-bus"
    DBUS_SESSION_BUS_ADDRESS=$bus "$root/$build/bench/art_player" footprint "$art" >"$dir/player.out" &
    pids+=($!)
    wait_for 100 fetched "$dir/log"
    sleep "$settle"
    sample "$pid"
    keep "$pid" "$3-http"
    by_mapping "$pid" "$(readlink "/proc/$pid/exe")" >"$dir.by-mapping"
    libraries_by_rss "$pid" >"$dir.libraries"
    stop_from "$first"
}
# Stops the processes started from index $1 of pids on, newest first.
stop_from() {
    while [ "${#pids[@]}" -gt "$1" ]; do
        kill -TERM "${pids[-1]}" 2>/dev/null || true
        wait "${pids[-1]}" 2>/dev/null || true
        unset 'pids[-1]'
    done
}

echo "| glowcast --headless | mqtt | idle: RSS | Pss (file + anon) | libraries | after a bus cover: RSS | Pss (file + anon) | libraries | after an http cover: RSS | Pss (file + anon) | libraries |"
echo "|---|---|---|---|---|---|---|---|---|---|---|"
for i in "${!builds[@]}"; do
    for mqtt in "" mqtt; do
        run "${builds[i]}" "$mqtt" "run-$i${mqtt:+-mqtt}" >"$work/samples"
        mapfile -t samples <"$work/samples"
        echo "| ${labels[i]} | ${mqtt:-none} | $(cells "${samples[0]}") | $(cells "${samples[1]}") | $(cells "${samples[2]}") |"
    done
done

last=$work/run-$((${#builds[@]} - 1))
echo
echo "This build with no mqtt after the http cover, resident memory by mapping:"
echo
echo "| mapping | RSS |"
echo "|---|---|"
while read -r kib kind; do echo "| $kind | $(mib "$kib") MiB |"; done <"$last.by-mapping"
echo
echo "Its shared libraries, largest first ($(wc -l <"$last.libraries") in all):"
echo
head -n 40 "$last.libraries" | awk '{printf "%s %.0f KiB", (NR > 1 ? "," : ""), $1; n = split($2, parts, "/"); printf " %s", parts[n]} END {print ""}'
echo
echo "What mqtt adds, libraries mapped with it and not without: $(comm -13 \
    <(awk '{print $2}' "$last.libraries" | sort) <(awk '{print $2}' "$last-mqtt.libraries" | sort) |
    xargs -r -n 1 basename | tr '\n' ' ')"
