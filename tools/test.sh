#!/usr/bin/env bash
# Installs what is missing and runs every test: the Linux build, the sanitizer builds,
# the AArch64 build (under qemu-aarch64, and on an AArch64 kernel under
# qemu-system-aarch64) and the Windows builds under Wine. Ends with one line:
# "N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh || exit 1

# Warnings are errors in CI.
if [ -n "${CI:-}" ]; then
    export KVZ_WERROR=ON
fi

passed=0
failed=0
suites_failed=()

run_ctest_preset() {
    local preset=$1
    echo "=== $preset: configure, build, test"
    if ! cmake --preset "$preset" >/dev/null || ! cmake --build --preset "$preset" -j2; then
        echo "=== $preset: BUILD FAILED"
        failed=$((failed + 1))
        suites_failed+=("$preset (build)")
        return
    fi
    local log
    log=$(mktemp)
    ctest --preset "$preset" -j2 2>&1 | tee "$log"
    local total bad
    total=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\2/p' "$log" | tail -1)
    bad=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -1)
    rm -f "$log"
    if [ -z "$total" ]; then
        failed=$((failed + 1))
        suites_failed+=("$preset (no tests ran)")
        return
    fi
    passed=$((passed + total - bad))
    failed=$((failed + bad))
    [ "$bad" -eq 0 ] || suites_failed+=("$preset")
}

for preset in linux asan tsan aarch64; do
    run_ctest_preset "$preset"
done

# Further suites each print their own "N passed, N failed" line last.
for suite in tools/test-aarch64.sh tools/test-windows.sh tools/test-reproducible.sh tools/test-fuzz.sh \
    tools/lint.sh; do
    echo "=== $suite"
    if [ ! -x "$suite" ]; then
        echo "=== $suite: MISSING (not found or not executable)"
        failed=$((failed + 1))
        suites_failed+=("$suite (missing)")
        continue
    fi
    log=$(mktemp)
    "$suite" 2>&1 | tee "$log"
    status=${PIPESTATUS[0]}
    line=$(grep -E '^[0-9]+ passed, [0-9]+ failed' "$log" | tail -1)
    rm -f "$log"
    if [ -n "$line" ]; then
        passed=$((passed + $(echo "$line" | cut -d' ' -f1)))
        failed=$((failed + $(echo "$line" | cut -d' ' -f3)))
    fi
    if [ "$status" -ne 0 ] || [ -z "$line" ]; then
        suites_failed+=("$suite")
        [ -n "$line" ] || failed=$((failed + 1))
    fi
done

echo
[ ${#suites_failed[@]} -eq 0 ] || echo "failing: ${suites_failed[*]}"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ ${#suites_failed[@]} -eq 0 ]
