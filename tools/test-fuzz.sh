#!/usr/bin/env bash
# Builds the formatter's libFuzzer target (the fuzz preset: clang, ASan, UBSan, in
# build/fuzz) and runs it for a bounded time, starting from the seeds in fuzz/corpus.
# New inputs it finds go to build/fuzz/corpus, a failing input to build/fuzz/artifacts,
# and the run's log to build/fuzz/last-run.log.
# Ends with one line: "1 passed, 0 failed" or "0 passed, 1 failed".
#
#   tools/test-fuzz.sh [SECONDS]      (default 60, or KVZ_FUZZ_SECONDS)
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-${KVZ_FUZZ_SECONDS:-60}}

verdict() {
    if [ "$1" -eq 0 ]; then
        echo "1 passed, 0 failed"
    else
        echo "0 passed, 1 failed"
    fi
    exit "$1"
}

echo "=== fuzz: configure, build"
if ! cmake --preset fuzz >/dev/null || ! cmake --build --preset fuzz -j2; then
    echo "=== fuzz: BUILD FAILED"
    verdict 1
fi

fuzzer=build/fuzz/fuzz/kvz_format_fuzzer
mkdir -p build/fuzz/corpus build/fuzz/artifacts
log=build/fuzz/last-run.log
echo "=== fuzz: $fuzzer for ${seconds}s"
# -timeout: no single input may take more than 10 s (a hang is a failure, not a figure).
"$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix=build/fuzz/artifacts/ build/fuzz/corpus fuzz/corpus >"$log" 2>&1
status=$?
grep -E '^(INFO: seed corpus|#[0-9]+[[:space:]]+(INITED|DONE))|^Done |^stat::number_of_executed_units|^format fuzzer' "$log"
if [ $status -ne 0 ]; then
    echo "=== fuzz: FAILED (status $status); the end of its log:"
    tail -n 40 "$log"
    ls build/fuzz/artifacts/ 2>/dev/null | sed 's|^|    artifact: build/fuzz/artifacts/|'
    echo "    the whole log: $log"
fi
verdict $status
