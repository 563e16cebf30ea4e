#!/usr/bin/env bash
# The cover decoder against its floors, as whole processes, for BENCHMARKS.md: CPU time (user +
# system, the median of GLOWCAST_BENCH_RUNS rounds, default 15, each command run once a round in
# turn) of `glowcastctl colours` on the 1400 px PNG
# beside a process that only decodes it whole with libspng (png_floor), and on the 6000 px JPEG beside
# `djpeg -scale 1/8`. Every build dir given is measured in the same run, so that an older build can
# stand beside this one. What the service holds after a cover is bench/footprint.sh's.
#
# usage: bench/decoder-floor.sh BUILD_DIR...   (each with glowcastctl built; the first also with
#        colours_bench and png_floor; needs djpeg from libjpeg-turbo-progs)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${GLOWCAST_BENCH_RUNS:-15}
work=$(mktemp -d /tmp/glowcast-decoder-floor.XXXXXX)
trap 'rm -rf "$work"' EXIT
"$1/bench/colours_bench" --write-covers "$work" >/dev/null

# Runs each command in turn, RUNS rounds, so that a slow spell of the machine falls on all of them
# alike; prints the median CPU milliseconds (user + system) of each, one a line, in order. The
# commands are given one to an argument, their words split at spaces.
cpu_ms() {
    python3 - "$runs" "$@" <<'PY'
import resource, statistics, subprocess, sys
runs, commands = int(sys.argv[1]), [c.split(" ") for c in sys.argv[2:]]
spent = [[] for _ in commands]
for _ in range(runs):
    for command, times in zip(commands, spent):
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        times.append((after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime) * 1000)
for times in spent:
    print(f"{statistics.median(times):.1f}")
PY
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

# The floor, then each build's glowcastctl colours on the cover, all in one round-robin.
measure() {
    local floor=$1 cover=$2 commands=()
    commands=("$floor")
    for build in "${builds[@]}"; do
        commands+=("env GLOWCAST_MODULE_DIR=$build/modules $build/tools/glowcastctl colours $work/$cover")
    done
    cpu_ms "${commands[@]}"
}
builds=("$@")
mapfile -t times_png < <(measure "$1/bench/png_floor $work/png-1400.png" png-1400.png)
mapfile -t times_jpeg < <(measure "djpeg -scale 1/8 -outfile /dev/null $work/jpeg-6000.jpg" jpeg-6000.jpg)
echo "| build | PNG 1400 px: glowcastctl colours | × libspng decode (${times_png[0]} ms) | JPEG 6000 px: glowcastctl colours | × djpeg -scale 1/8 (${times_jpeg[0]} ms) |"
echo "|---|---|---|---|---|"
index=1
for build in "$@"; do
    png=${times_png[$index]}
    jpeg=${times_jpeg[$index]}
    echo "| $build | $png ms | $(ratio "$png" "${times_png[0]}") | $jpeg ms | $(ratio "$jpeg" "${times_jpeg[0]}") |"
    index=$((index + 1))
done
