#!/usr/bin/env bash
# The palette figures for BENCHMARKS.md, in one run on one machine:
#   - classic and vivid as the program runs them, beside colorthief 3.5.0 and Material Color
#     Utilities 0.4.0 from the npm registry (installed into build/npm-palette, never committed), on
#     photographs from Debian packages, cropped square to 1000 x 1000, and on drawn covers, N = 3 and 5
#     (palette_bench and palette_refs.mjs);
#   - processor time of cover bytes to five colours, classic and vivid (colours_bench, median of 9).
# Needs the Debian packages mate-backgrounds and lomiri-wallpapers-16.04 (the photographs).
# Usage: bench/palette-vs-npm.sh [BUILD_DIR]   (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
covers=build/palette-covers
refs=build/npm-palette

photos=(/usr/share/backgrounds/mate/nature/*.jpg)
mapfile -t lomiri < <(dpkg -L lomiri-wallpapers-16.04 2>/dev/null | grep -E '\.jpg$' || true)
if [ ! -f /usr/share/backgrounds/mate/nature/Aqua.jpg ] || [ "${#lomiri[@]}" -eq 0 ]; then
    echo "needs the photographs: apt-get install mate-backgrounds lomiri-wallpapers-16.04" >&2
    exit 1
fi
cmake --build "$build" -j2 --target palette_bench colours_bench >/dev/null

if [ ! -d "$refs/node_modules/colorthief" ] || [ ! -d "$refs/node_modules/@material/material-color-utilities" ]; then
    mkdir -p "$refs"
    [ -f "$refs/package.json" ] || echo '{"name":"glowcast-palette-refs","private":true,"type":"module"}' >"$refs/package.json"
    (cd "$refs" && npm install --no-audit --no-fund colorthief@3.5.0 @material/material-color-utilities@0.4.0 \
        sharp@0.35.6 >/dev/null)
fi
cp bench/palette_refs.mjs "$refs/"

rm -rf "$covers"
QT_QPA_PLATFORM=offscreen "$build/bench/palette_bench" prepare "$covers" "${photos[@]}" "${lomiri[@]}"
echo "references ..." >&2
(cd "$refs" && node palette_refs.mjs "$OLDPWD/$covers") >"$covers/refs.jsonl"
echo "palettes ..." >&2
QT_QPA_PLATFORM=offscreen "$build/bench/palette_bench" measure "$covers" "$covers/refs.jsonl"
echo
echo "speed ..." >&2
"$build/bench/colours_bench" --benchmark_filter='coverTo' 2>/dev/null | awk '/median/ {print $1, $4, $5, $7}'
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
