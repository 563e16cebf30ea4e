#!/usr/bin/env bash
# Builds and runs every test: the checks of the sources (formatting, the tests' share of the code),
# a normal build, its two Debian packages checked by lintian, installed and removed again, the same
# tests under AddressSanitizer and UndefinedBehaviorSanitizer, then each fuzz target for a bounded time (when
# clang is there). The builds are the presets of CMakePresets.json.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

"$root/scripts/install-deps.sh"

jobs=$(nproc)
fuzz_seconds=${GLOWCAST_FUZZ_SECONDS:-30}

# The aim is a third of the code at most; the ceiling is lowered as the tests are folded towards it.
ceiling=35
echo "== the sources: clang-format, and tests, fuzz targets and test support at most $ceiling % of the code"
sources=$(git ls-files '*.cpp' '*.cc' '*.h' '*.hpp')
# shellcheck disable=SC2086
clang-format --dry-run -Werror $sources
# Non-blank lines that are not only a comment. Tests are the files under a tests/, test/ or fuzz/ folder
# and those named *_test.* or test_*; test support is tests/support/, shared with the benches and fuzz
# targets. Both count against the ceiling. The stand-ins for the services that cannot run here (Home
# Assistant, WLED, zigbee2mqtt) and the benches are shown on a line of their own and count as code, as
# the simulator and the other tools do.
lines() { xargs -r cat | grep -cvE '^\s*(//.*)?$' || true; }
all_lines=$(printf '%s\n' "$sources" | lines)
support_lines=$(printf '%s\n' "$sources" | grep -E '^tests/support/' | lines)
test_only_lines=$(printf '%s\n' "$sources" | grep -iE '(^|/)(tests?|fuzz)/|_test\.|test_' | grep -vE '^tests/support/' | lines)
aside_lines=$(printf '%s\n' "$sources" | grep -E '^(bench/|tools/(homeassistant|wled|zigbee2mqtt)_sim/)' | lines)
test_lines=$((test_only_lines + support_lines))
code_lines=$((all_lines - test_lines))
echo "tests and fuzz targets: $test_only_lines lines"
echo "test support: $support_lines lines"
echo "stand-ins and benches: $aside_lines lines (counted as code)"
echo "code: $code_lines lines; tests and test support together: $test_lines lines ($((test_lines * 100 / code_lines)) %)"
if [ $((test_lines * 100)) -gt $((code_lines * ceiling)) ]; then
    echo "the tests, fuzz targets and test support are more than $ceiling % of the code: fold cases into tables, test each"
    echo "behaviour once at the lowest layer that shows it"
    exit 1
fi

echo "== the core's folders: each includes others one way only, no chain of includes over seven files"
python3 "$root/scripts/core-layers.py"

echo "== normal build"
cmake --preset release
cmake --build --preset release -j "$jobs"
ctest --preset release -j "$jobs"

echo "== the Debian packages: build, lintian, install, check, remove"
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
