#!/usr/bin/env bash
# The cover decoder against its floors, as whole processes, for BENCHMARKS.md: CPU time (user +
# system, the median of GLOWCAST_BENCH_RUNS, default 15) of `glowcastctl colours` on the 1400 px PNG
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

# The median CPU milliseconds (user + system) of RUNS runs of the command.
cpu_ms() {
    python3 - "$runs" "$@" <<'PY'
import resource, statistics, subprocess, sys
runs, command = int(sys.argv[1]), sys.argv[2:]
spent = []
for _ in range(runs):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    spent.append((after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime) * 1000)
print(f"{statistics.median(spent):.1f}")
PY
}

png_floor=$(cpu_ms "$1/bench/png_floor" "$work/png-1400.png")
jpeg_floor=$(cpu_ms djpeg -scale 1/8 -outfile /dev/null "$work/jpeg-6000.jpg")
echo "| build | PNG 1400 px: glowcastctl colours | × libspng decode ($png_floor ms) | JPEG 6000 px: glowcastctl colours | × djpeg -scale 1/8 ($jpeg_floor ms) |"
echo "|---|---|---|---|---|"
for build in "$@"; do
    png=$(GLOWCAST_MODULE_DIR=$build/modules cpu_ms "$build/tools/glowcastctl" colours "$work/png-1400.png")
    jpeg=$(GLOWCAST_MODULE_DIR=$build/modules cpu_ms "$build/tools/glowcastctl" colours "$work/jpeg-6000.jpg")
    echo "| $build | $png ms | $(awk -v a="$png" -v b="$png_floor" 'BEGIN {printf "%.2f", a / b}') | $jpeg ms |" \
        "$(awk -v a="$jpeg" -v b="$jpeg_floor" 'BEGIN {printf "%.2f", a / b}') |"
done
