#!/usr/bin/env bash
# Builds and runs every test: a normal build, its Debian package installed and removed again, the
# same tests under AddressSanitizer and UndefinedBehaviorSanitizer, then each fuzz target for a
# bounded time (when clang is there).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

"$root/scripts/install-deps.sh"

jobs=$(nproc)
fuzz_seconds=${GLOWCAST_FUZZ_SECONDS:-30}

echo "== normal build"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/release -j "$jobs"
ctest --test-dir build/release --output-on-failure -j "$jobs" --timeout 300

echo "== the Debian package: build, install, check, remove"
"$root/scripts/package-test.sh" build/release

echo "== AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DGLOWCAST_SANITIZE=ON -DGLOWCAST_BENCHMARKS=OFF
cmake --build build/asan -j "$jobs"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1"
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir build/asan --output-on-failure -j "$jobs" --timeout 600

if command -v clang++ >/dev/null 2>&1; then
    echo "== fuzzing, ${fuzz_seconds}s per target"
    cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
        -DGLOWCAST_FUZZ=ON -DGLOWCAST_TESTS=OFF -DGLOWCAST_BENCHMARKS=OFF
    # Only the fuzz targets and what they link; the application itself is not needed here.
    fuzz_targets=$(ninja -C build/fuzz -t targets all | sed -n 's/^fuzz\/\([a-z_]*_fuzz\): .*/\1/p' | sort -u)
    cmake --build build/fuzz -j "$jobs" --target $fuzz_targets
    "$root/scripts/fuzz.sh" build/fuzz "$fuzz_seconds"
else
    echo "== fuzzing skipped: clang++ is not installed"
fi
