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
