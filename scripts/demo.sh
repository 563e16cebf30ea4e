#!/usr/bin/env bash
# Installs what is missing, builds, and shows Glowcast at work: a private session bus, the bridge
# simulator with six lamps, Glowcast pointed at it with a temporary configuration, and the sample
# covers posted one after another. Each cover gives a line with the colour of every lamp, drawn in
# true colour; the simulator's page shows the same lamps live. Ctrl-C stops everything it started.
#
# With --player the covers come from a media player instead: mpv (with mpv-mpris) plays one silent
# track per sample cover, each in a folder of its own with the cover beside it, and Glowcast follows
# the player on the bus as it would follow the user's. The lamps' colours are taken with the vivid
# palette, which gives each lamp a colour of its own; --palette classic shows Glowcast's default one
# (Glowcast itself starts with classic until the "palette" setting says otherwise). It goes with
# --player too.
#
# With --systems Glowcast reaches three lamp systems at once: the first bridge, a second simulated
# bridge (its own bridge id, three lamps), three zigbee2mqtt lamps of the stand-in on a Mosquitto
# broker the demo starts on a free loopback port, and the six lights of the Home Assistant stand-in
# (with an access token of the demo's own) and the four segments of the WLED stand-in. Each cover then
# gives a line per system.
#
# Environment: GLOWCAST_DEMO_INTERVAL  seconds between covers (default 4)
#              GLOWCAST_DEMO_ROUNDS    times through the covers before it stops by itself
#                                      (default 0: until Ctrl-C)
#              GLOWCAST_DEMO_BUILD     build directory (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
interval=${GLOWCAST_DEMO_INTERVAL:-4}
rounds=${GLOWCAST_DEMO_ROUNDS:-0}
lamp_count=6
mode=covers
palette=vivid
systems=no
usage() {
    printf 'usage: %s [--player] [--palette vivid|classic] [--systems]\n' "$0" >&2
    exit 2
}
while [ $# -gt 0 ]; do
    case "$1" in
    --player) mode=player ;;
    --systems) systems=yes ;;
    --palette)
        case "${2:-}" in
        classic | vivid) palette=$2 ;;
        *) usage ;;
        esac
        shift
        ;;
    *) usage ;;
    esac
    shift
done

say() { printf '== %s\n' "$*"; }
die() {
    printf 'demo: %s\n' "$*" >&2
    exit 1
}

./scripts/install-deps.sh

build=${GLOWCAST_DEMO_BUILD:-build/release}
say "building the application, the bridge simulator and the cover poster (release)"
if [ -f "$build/CMakeCache.txt" ]; then
    cmake "$build" >/dev/null
else
    cmake --preset release -B "$build" >/dev/null
fi
targets=(glowcast glowcast-bridge-sim glowcast-post-cover)
[ "$systems" = yes ] && targets+=(glowcastctl glowcast-zigbee2mqtt-sim glowcast-homeassistant-sim
    glowcast-wled-sim)
available=$(ninja -C "$build" -t targets all)
for target in "${targets[@]}"; do
    grep -q "^$target: " <<<"$available" || die "this tree has no build target '$target' yet; the demo needs it"
done
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"
app=$root/$build/src/app/glowcast
sim=$root/$build/tools/glowcast-bridge-sim
poster=$root/$build/tools/glowcast-post-cover
ctl=$root/$build/tools/glowcastctl
z2m_sim=$root/$build/tools/glowcast-zigbee2mqtt-sim
ha_sim=$root/$build/tools/glowcast-homeassistant-sim
wled_sim=$root/$build/tools/glowcast-wled-sim
for program in "$app" "$sim" "$poster"; do
    [ -x "$program" ] || die "$program was not built"
done
covers=("$root"/samples/covers/*.png)
[ -e "${covers[0]}" ] || die "no sample covers in samples/covers (samples/covers/generate.py draws them)"

work=$(mktemp -d /tmp/glowcast-demo.XXXXXX)
# shellcheck source=scripts/lib/processes.sh
source "$root/scripts/lib/processes.sh"
bus_pid="" sim_pid="" app_pid="" player_pid="" sim2_pid="" broker_pid="" z2m_pid="" ha_pid="" wled_pid=""

stop() {
    local status=$?
    trap - EXIT INT TERM
    # The application first, with SIGTERM, so that it saves the lamp selection as it quits.
    for pid in "$player_pid" "$app_pid" "$wled_pid" "$ha_pid" "$z2m_pid" "$broker_pid" "$sim2_pid" "$sim_pid" "$bus_pid"; do
        [ -n "$pid" ] || continue
        kill -TERM "$pid" 2>/dev/null || continue
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    printf '\n== stopped; the logs are in %s\n' "$work"
    exit "$status"
}
trap stop EXIT
# The programs below run in sessions of their own, so that Ctrl-C reaches only this script, which
# then stops them in order.
trap 'exit 130' INT
trap 'exit 143' TERM


say "starting a private session bus"
setsid dbus-daemon --session --nofork --nopidfile --print-address=3 3>"$work/bus-address" 2>"$work/bus.log" &
bus_pid=$!
wait_for 100 test -s "$work/bus-address" || die "the session bus did not start (see $work/bus.log)"
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$work/bus-address")
export DBUS_SESSION_BUS_ADDRESS

say "starting the bridge simulator with $lamp_count lamps; its link button presses itself 4 s into pairing"
setsid "$sim" --port 0 --lamps "$lamp_count" --press-after 4 --user demo >"$work/sim.out" 2>"$work/sim.log" &
sim_pid=$!
wait_for 100 grep -q '^listening on ' "$work/sim.out" || die "the simulator did not start (see $work/sim.log)"
address=$(sed -n 's/^listening on //p' "$work/sim.out" | head -n 1)
port=${address##*:}
base="http://127.0.0.1:$port"

# A lamp that is off takes no colour, so the lamps are switched on first, as a user would, with the
# demo's own user name on the bridge.
say "switching the lamps on"
curl -fsS -X PUT -d '{"on":true}' "$base/api/demo/groups/0/action" >/dev/null || die "could not switch the lamps on"

system_list=""
if [ "$systems" = yes ]; then
    [ -x "$z2m_sim" ] || die "$z2m_sim was not built"
    [ -x /usr/sbin/mosquitto ] || die "no Mosquitto broker (/usr/sbin/mosquitto)"
    say "starting a second bridge simulator with 3 lamps and its own bridge id"
    setsid "$sim" --port 0 --lamps 3 --user demo --bridge-id 024743FFFE000002 >"$work/sim2.out" 2>"$work/sim2.log" &
    sim2_pid=$!
    wait_for 100 grep -q '^listening on ' "$work/sim2.out" || die "the second simulator did not start (see $work/sim2.log)"
    address2=$(sed -n 's/^listening on //p' "$work/sim2.out" | head -n 1)
    base2="http://$address2"
    curl -fsS -X PUT -d '{"on":true}' "$base2/api/demo/groups/0/action" >/dev/null || die "could not switch the lamps on"

    broker_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    say "starting a Mosquitto broker on 127.0.0.1:$broker_port and the zigbee2mqtt stand-in with 3 lamps"
    {
        printf 'listener %s 127.0.0.1\npersistence false\nallow_anonymous true\n' "$broker_port"
        [ "$(id -u)" != 0 ] || printf 'user root\n'
    } >"$work/mosquitto.conf"
    setsid /usr/sbin/mosquitto -c "$work/mosquitto.conf" >"$work/mosquitto.log" 2>&1 &
    broker_pid=$!
    wait_for 100 grep -q ' running' "$work/mosquitto.log" || die "the broker did not start (see $work/mosquitto.log)"
    setsid "$z2m_sim" --broker "127.0.0.1:$broker_port" --lamps 3 --record "$work/z2m.record" \
        >"$work/z2m.out" 2>"$work/z2m.log" &
    z2m_pid=$!
    wait_for 100 grep -q '^online ' "$work/z2m.out" || die "the zigbee2mqtt stand-in did not start (see $work/z2m.log)"
    system_list=$(printf '"systems": [{"id": "bridge-2", "kind": "bridge", "address": "%s", "user": "demo"}, ' "$address2")
    say "starting the Home Assistant stand-in with 6 lights and a token of the demo's own"
    [ -x "$ha_sim" ] || die "$ha_sim was not built"
    (umask 077 && head -c 24 /dev/urandom | od -An -tx1 | tr -d ' \n' >"$work/ha.token")
    setsid "$ha_sim" --port 0 --token-file "$work/ha.token" --record "$work/ha.record" \
        >"$work/ha.out" 2>"$work/ha.log" &
    ha_pid=$!
    wait_for 100 grep -q '^listening on ' "$work/ha.out" || die "the Home Assistant stand-in did not start (see $work/ha.log)"
    ha_address=$(sed -n 's/^listening on //p' "$work/ha.out" | head -n 1)
    system_list+=$(printf '{"id": "z2m", "kind": "zigbee2mqtt", "address": "mqtt://127.0.0.1:%s/zigbee2mqtt"}, ' "$broker_port")
    say "starting the WLED stand-in with 4 segments"
    [ -x "$wled_sim" ] || die "$wled_sim was not built"
    setsid "$wled_sim" --port 0 --segments 4 >"$work/wled.out" 2>"$work/wled.log" &
    wled_pid=$!
    wait_for 100 grep -q '^listening on ' "$work/wled.out" || die "the WLED stand-in did not start (see $work/wled.log)"
    wled_base="http://$(sed -n 's/^listening on //p' "$work/wled.out" | head -n 1)"
    system_list+=$(printf '{"id": "ha", "kind": "homeassistant", "address": "http://%s"}, ' "$ha_address")
    system_list+=$(printf '{"id": "wled", "kind": "wled", "address": "%s"}], ' "$wled_base")
    # The stand-in's lamps start off: Glowcast switches each lamp on with its colour.
    system_list+='"switchOn": true, '
fi

# Every lamp enabled, as a user would tick them in the lamp table; no user name, so that Glowcast
# pairs and the push-button window shows until the simulated press.
config=$work/config
mkdir -m 0700 "$config"
if [ "$systems" = yes ]; then
    # The token where glowcastctl systems add homeassistant would have copied it.
    mkdir -m 0700 "$config/systems"
    install -m 0600 "$work/ha.token" "$config/systems/ha.token"
fi
{
    printf '{"lamps": ['
    for i in $(seq "$lamp_count"); do
        [ "$i" -gt 1 ] && printf ', '
        printf '{"id": "%d", "name": "Lamp %d", "enabled": true}' "$i" "$i"
    done
    printf '], %s"palette": "%s"}\n' "$system_list" "$palette"
} >"$config/preferences.json"
chmod 0600 "$config/preferences.json"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    export QT_QPA_PLATFORM=offscreen
    say "no display: Glowcast runs offscreen"
fi
say "starting Glowcast with the $palette palette (its log: $work/glowcast.log)"
GLOWCAST_PORTAL="127.0.0.1:$port" GLOWCAST_CONFIG_DIR="$config" setsid "$app" >"$work/glowcast.out" 2>"$work/glowcast.log" &
app_pid=$!

cat <<EOF

   The simulator's page, with the six lamps:   $base/
   (open it in a browser on this machine; the lamps follow the covers)

EOF

say "waiting for Glowcast to pair and list the lamps"
ready() {
    kill -0 "$app_pid" 2>/dev/null || die "Glowcast ended early; its log: $work/glowcast.log"
    grep -q 'registering for notifications' "$work/glowcast.log"
}
wait_for 900 ready || die "Glowcast did not finish its set-up in 90 s; its log: $work/glowcast.log"

if [ "$systems" = yes ]; then
    say "waiting for the other systems' lamps, and enabling each one as a user would with glowcastctl"
    other_lamps() { GLOWCAST_CONFIG_DIR="$config" "$ctl" lamps | grep -c '/' || true; }
    listed() { [ "$(other_lamps)" -ge 16 ]; }
    wait_for 300 listed || die "the other systems' lamps were not listed; see $work/glowcast.log"
    GLOWCAST_CONFIG_DIR="$config" "$ctl" lamps | awk -F '\t' '$1 ~ /\// && $2 == "off" { print $1 }' |
        while read -r id; do GLOWCAST_CONFIG_DIR="$config" "$ctl" enable "$id" >/dev/null; done
    if systems_table=$(GLOWCAST_CONFIG_DIR="$config" "$ctl" systems 2>/dev/null); then
        printf '%s\n' "$systems_table"
    fi
fi

# The simulator's record of lamp-state requests, counted.
request_count() { curl -fsS "$base/sim/state" | sed -n 's/.*"requests":\([0-9]*\).*/\1/p'; }
requests_reached() {
    local count
    count=$(request_count) || return 1
    [ -n "$count" ] && [ "$count" -ge "$1" ]
}

# One line per cover: the cover's name, then each lamp as a block in its colour and its hex value.
print_lamps() {
    local name=$1 state colours line=""
    state=$(curl -fsS "$base/sim/state") || return 1
    colours=$(grep -o '"colour":"#[0-9a-fA-F]\{6\}"' <<<"$state" | sed 's/.*"#\(......\)"/\1/')
    for hex in $colours; do
        line+=$(printf '\033[48;2;%d;%d;%dm   \033[0m %s ' "0x${hex:0:2}" "0x${hex:2:2}" "0x${hex:4:2}" "$hex")
    done
    printf '%-13s %s\n' "$name" "$line"
}

# A line of lamps: each hex colour as a block in that colour and its value.
print_colours() {
    local label=$1 line="" hex
    shift
    for hex in "$@"; do
        line+=$(printf '\033[48;2;%d;%d;%dm   \033[0m %s ' "0x${hex:0:2}" "0x${hex:2:2}" "0x${hex:4:2}" "$hex")
    done
    printf '%-13s %s\n' "$label" "$line"
}

# The other systems' lines for a cover: the second bridge's lamps from its simulator, and each
# zigbee2mqtt lamp in the colour it was last sent, as the stand-in recorded it, each Home Assistant
# light likewise, and each WLED segment in the colour the stand-in shows.
print_systems() {
    local state
    state=$(curl -fsS "$base2/sim/state") || return 1
    # shellcheck disable=SC2046 # one word per colour
    print_colours "  bridge-2" $(grep -o '"colour":"#[0-9a-fA-F]\{6\}"' <<<"$state" | sed 's/.*"#\(......\)"/\1/')
    # shellcheck disable=SC2046
    print_colours "  zigbee2mqtt" $(python3 "$root/scripts/lib/zigbee2mqtt_colours.py" "$work/z2m.record")
    if [ -e "$work/ha.record" ]; then
        # shellcheck disable=SC2046
        print_colours "  ha" $(python3 "$root/scripts/lib/homeassistant_colours.py" "$work/ha.record")
    fi
    state=$(curl -fsS "$wled_base/json") || return 1
    # shellcheck disable=SC2046
    print_colours "  wled" $(python3 "$root/scripts/lib/wled_colours.py" <<<"$state")
}

print_header() {
    printf '%-13s' "cover"
    for i in $(seq "$lamp_count"); do printf ' Lamp %-4d ' "$i"; done
    printf '\n'
}

if [ "$mode" = player ]; then
    # A little-endian 32-bit number, and a WAV file of $1 seconds of silence at 8 kHz.
    le32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) $((($1 >> 16) & 255)) $((($1 >> 24) & 255)); }
    silence() {
        local bytes=$((8000 * 2 * $1))
        {
            printf 'RIFF'
            printf "$(le32 $((36 + bytes)))"
            printf 'WAVEfmt '
            printf "$(le32 16)\\x01\\x00\\x01\\x00$(le32 8000)$(le32 16000)\\x02\\x00\\x10\\x00data$(le32 "$bytes")"
            head -c "$bytes" /dev/zero
        } >"$2"
    }
    tracks=()
    for cover in "${covers[@]}"; do
        name=$(basename "$cover" .png)
        mkdir -p "$work/music/$name"
        cp "$cover" "$work/music/$name/cover.png" # the player publishes the cover beside the track
        silence "$interval" "$work/music/$name/$name.wav"
        tracks+=("$work/music/$name/$name.wav")
    done
    loops=inf
    seen=$(request_count)
    [ "$rounds" -gt 0 ] && loops=$rounds
    say "mpv plays a ${interval} s silent track per cover; Glowcast follows it on the bus; Ctrl-C stops the demo"
    setsid mpv --no-config --script=/usr/lib/mpv-mpris/mpris.so --no-video --ao=null --loop-playlist="$loops" \
        "${tracks[@]}" >"$work/mpv.log" 2>&1 &
    player_pid=$!
    print_header
    while kill -0 "$player_pid" 2>/dev/null; do
        kill -0 "$app_pid" 2>/dev/null || die "Glowcast ended; its log: $work/glowcast.log"
        count=$(request_count) || count=$seen
        if [ -n "$count" ] && [ "$count" -ge "$((seen + lamp_count))" ]; then
            seen=$count
            # The folder of the cover Glowcast sent last names the track.
            track=$(sed -n 's|.*the cover file://.*/music/\([^/]*\)/cover.png is a .*sending it.*|\1|p' \
                "$work/glowcast.log" | tail -n 1)
            print_lamps "$track"
            if [ "$systems" = yes ]; then
                sleep 1 # the other systems go at their own pace
                print_systems
            fi
        fi
        sleep 0.2
    done
    exit 0
fi

say "posting the covers every ${interval} s; Ctrl-C stops the demo"
print_header
round=0
while :; do
    for cover in "${covers[@]}"; do
        kill -0 "$app_pid" 2>/dev/null || die "Glowcast ended; its log: $work/glowcast.log"
        before=$(request_count)
        "$poster" "$cover" >/dev/null || die "could not post $cover"
        # One lamp-state request per enabled lamp, each after the previous one returned.
        if ! wait_for 150 requests_reached "$((before + lamp_count))"; then
            printf '%-13s (the lamps did not all change within 15 s; see %s)\n' "$(basename "$cover" .png)" \
                "$work/glowcast.log"
        else
            print_lamps "$(basename "$cover" .png)"
        fi
        if [ "$systems" = yes ]; then
            sleep 1 # the other systems go at their own pace
            print_systems
        fi
        sleep "$interval"
    done
    round=$((round + 1))
    [ "$rounds" -gt 0 ] && [ "$round" -ge "$rounds" ] && break
done
