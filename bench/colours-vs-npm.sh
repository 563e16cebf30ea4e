#!/usr/bin/env bash
# Cover analysis figures for BENCHMARKS.md, in one run on one machine:
#   - cover bytes -> colour list (glowcast), and the decoding floor (libjpeg-turbo at 1/8 scale,
#     libpng full decode), from colours_bench (Google Benchmark, median of 9 repetitions);
#   - every time is processor time (the machine is shared; wall time would count others' work);
#   - extract-colors and colorthief from the npm registry on the same files (decoded with sharp,
#     extraction call timed alone, warm, median), installed into build/npm-peers (never committed);
#   - peak resident memory of `glowcastctl colours FILE` on each file.
# Usage: bench/colours-vs-npm.sh [BUILD_DIR]   (default build/bench: an optimised build with benchmarks)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/bench}
covers=build/colour-covers
peers=build/npm-peers

if [ ! -x "$build/bench/colours_bench" ] || [ ! -x "$build/tools/glowcastctl" ]; then
    cmake --preset release -B "$build" -DGLOWCAST_TESTS=OFF -DGLOWCAST_BENCHMARKS=ON >/dev/null
    cmake --build "$build" -j2 --target colours_bench glowcastctl
fi

"$build/bench/colours_bench" --write-covers "$covers" >/dev/null

if [ ! -d "$peers/node_modules/extract-colors" ] || [ ! -d "$peers/node_modules/colorthief" ] ||
    [ ! -d "$peers/node_modules/sharp" ]; then
    mkdir -p "$peers"
    [ -f "$peers/package.json" ] || echo '{"name":"glowcast-peers","private":true}' >"$peers/package.json"
    (cd "$peers" && npm install --no-audit --no-fund colorthief@3.5.0 extract-colors@4.2.1 sharp@0.35.6 >/dev/null)
fi
cp bench/colours_peers.mjs "$peers/"

echo "glowcast and the floor (colours_bench) ..." >&2
"$build/bench/colours_bench" --benchmark_out="$covers/glowcast.json" --benchmark_out_format=json >/dev/null 2>&1
echo "npm peers ..." >&2
(cd "$peers" && node colours_peers.mjs "$OLDPWD/$covers"/jpeg-640.jpg "$OLDPWD/$covers"/jpeg-3000.jpg \
    "$OLDPWD/$covers"/jpeg-6000.jpg "$OLDPWD/$covers"/png-1400.png) >"$covers/peers.jsonl"
echo "peak memory ..." >&2
for file in jpeg-640.jpg jpeg-3000.jpg jpeg-6000.jpg png-1400.png; do
    python3 - "$build/tools/glowcastctl" "$covers/$file" <<'PY'
import json, resource, subprocess, sys
subprocess.run([sys.argv[1], "colours", sys.argv[2]], check=True, stdout=subprocess.DEVNULL)
print(json.dumps({"cover": sys.argv[2].rsplit("/", 1)[-1],
                  "peakKiB": resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss}))
PY
done >"$covers/rss.jsonl"

python3 - "$covers" <<'PY'
import json, os, sys
covers = sys.argv[1]
bench = json.load(open(os.path.join(covers, "glowcast.json")))
files = {0: "jpeg-640.jpg", 1: "jpeg-3000.jpg", 2: "jpeg-6000.jpg", 3: "png-1400.png"}
ours, floor = {}, {}
for b in bench["benchmarks"]:
    if b.get("aggregate_name") != "median":
        continue
    name, arg = b["run_name"].split("/")[:2]
    # Processor time: the machine is shared, and wall time would count other people's builds.
    (ours if name == "coverToColours" else floor)[files[int(arg)]] = b["cpu_time"]
peers = {}
for line in open(os.path.join(covers, "peers.jsonl")):
    r = json.loads(line)
    peers[(r["cover"], r["library"])] = r["medianMs"]
rss = {json.loads(l)["cover"]: json.loads(l)["peakKiB"] for l in open(os.path.join(covers, "rss.jsonl"))}
print("| Cover | File size | Glowcast: bytes to colours | Floor | Glowcast / floor | extract-colors | colorthief | "
      "fastest peer / Glowcast | colorthief / Glowcast | (sharp decode, not counted) | Peak RSS `glowcastctl colours` |")
print("|---|---|---|---|---|---|---|---|---|---|---|")
for f in files.values():
    size = os.path.getsize(os.path.join(covers, f))
    e, c, d = peers[(f, "extract-colors")], peers[(f, "colorthief")], peers[(f, "sharp decode")]
    print(f"| {f} | {size / 1048576:.2f} MiB | {ours[f]:.2f} ms | {floor[f]:.2f} ms | {ours[f] / floor[f]:.2f}x | "
          f"{e:.1f} ms | {c:.1f} ms | {min(e, c) / ours[f]:.1f}x | {c / ours[f]:.1f}x | {d:.1f} ms | "
          f"{rss[f] / 1024:.1f} MiB |")
print()
print("load average at the end:", open("/proc/loadavg").read().split()[:3])
PY
