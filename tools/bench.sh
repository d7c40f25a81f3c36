#!/usr/bin/env bash
# Builds the benchmark programs (the `bench` preset: Release, build/bench) and runs them,
# then prints each performance target as a ratio of medians measured in this one run,
# the library's way and its baselines side by side. Extra arguments go to the programs
# (e.g. --benchmark_filter=format). KVZ_BENCH_REPETITIONS sets the repetitions (5).
set -euo pipefail
cd "$(dirname "$0")/.."

repetitions=${KVZ_BENCH_REPETITIONS:-5}
cmake --preset bench >/dev/null
cmake --build --preset bench -j2

results=build/bench/results
mkdir -p "$results"
rm -f "$results"/*.json
echo "load before the run: $(cut -d' ' -f1-3 /proc/loadavg)"
for program in kvz_bench_format kvz_bench_exports; do
    echo "=== $program"
    "build/bench/bench/$program" --benchmark_repetitions="$repetitions" \
        --benchmark_enable_random_interleaving=true \
        --benchmark_display_aggregates_only=true \
        --benchmark_out="$results/$program.json" --benchmark_out_format=json "$@" |
        grep -E '_median|^-|^Benchmark' || true
done
echo "load after the run: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
python3 tools/bench-ratios.py "$results"/*.json
