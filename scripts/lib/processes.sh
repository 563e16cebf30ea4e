# What the scripts and the whole-program benchmarks share; sourced, not run. Each started process
# goes into pids (`pids+=($!)`); stop_started stops them newest first.
pids=()

stop_started() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill -TERM "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
    pids=()
}

# Waits up to $1 tenths of a second for the command after it to succeed, and says what it waited
# for when it did not.
wait_for() {
    local tenths=$1
    shift
    for _ in $(seq "$tenths"); do
        "$@" && return 0
        sleep 0.1
    done
    echo "$(basename "$0"): timed out waiting for: $*" >&2
    return 1
}

# Starts a Mosquitto broker of its own on a free loopback port, its files in the folder $1, and waits
# until it runs; sets broker_port. Anonymous clients, nothing kept.
start_broker() {
    local dir=$1
    broker_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\n%s' "$broker_port" \
        "$([ "$(id -u)" = 0 ] && echo 'user root')" >"$dir/mosquitto.conf"
    /usr/sbin/mosquitto -c "$dir/mosquitto.conf" >"$dir/mosquitto.log" 2>&1 &
    pids+=($!)
    wait_for 100 grep -q ' running' "$dir/mosquitto.log"
}
