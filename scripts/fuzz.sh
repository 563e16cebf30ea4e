#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for the given number of seconds each, starting from the
# seed corpus in fuzz/corpus/<target>. Findings land in build dir/fuzz-findings and fail the run.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/fuzz}
seconds=${2:-30}
# A fixed seed makes every run walk the same inputs, so a finding can be reproduced and a run
# that passed here passes on CI; set GLOWCAST_FUZZ_SEED=0 for a fresh random walk.
seed=${GLOWCAST_FUZZ_SEED:-1}
findings="$build/fuzz-findings"
# The sanitizers' settings of the sanitizer tests (CMakePresets.json), unless given.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
mkdir -p "$findings"

targets=$(find "$build/fuzz" -maxdepth 1 -type f -executable -name '*_fuzz' | sort)
if [ -z "$targets" ]; then
    echo "fuzz: no targets in $build/fuzz"
    exit 1
fi
for target in $targets; do
    name=$(basename "$target")
    work="$build/fuzz-corpus/$name"
    mkdir -p "$work"
    seeds=()
    [ -d "fuzz/corpus/$name" ] && seeds+=("fuzz/corpus/$name")
    echo "fuzz: $name for ${seconds}s"
    QT_QPA_PLATFORM=offscreen "$target" -max_total_time="$seconds" -seed="$seed" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$findings/$name-" "$work" "${seeds[@]}" \
        >"$build/$name.log" 2>&1 || {
        tail -n 40 "$build/$name.log"
        echo "fuzz: $name found a problem; see $findings"
        exit 1
    }
    grep -E '^stat::number_of_executed_units' "$build/$name.log" || true
done
echo "fuzz: every target ran ${seconds}s without a finding"
