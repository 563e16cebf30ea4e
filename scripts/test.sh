#!/usr/bin/env bash
# Builds and runs every test: a normal build, its Debian package installed and removed again, the
# same tests under AddressSanitizer and UndefinedBehaviorSanitizer, then each fuzz target for a
# bounded time (when clang is there). The builds are the presets of CMakePresets.json.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

"$root/scripts/install-deps.sh"

jobs=$(nproc)
fuzz_seconds=${GLOWCAST_FUZZ_SECONDS:-30}

echo "== normal build"
cmake --preset release
cmake --build --preset release -j "$jobs"
ctest --preset release -j "$jobs"

echo "== the Debian package: build, install, check, remove"
"$root/scripts/package-test.sh" build/release

echo "== AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset asan
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"

if command -v clang++ >/dev/null 2>&1; then
    echo "== fuzzing, ${fuzz_seconds}s per target"
    # Only the fuzz targets and what they link; the application itself is not needed here.
    cmake --preset fuzz
    cmake --build --preset fuzz -j "$jobs"
    "$root/scripts/fuzz.sh" build/fuzz "$fuzz_seconds"
else
    echo "== fuzzing skipped: clang++ is not installed"
fi
