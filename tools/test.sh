#!/usr/bin/env bash
# Installs what is missing and runs every test: the Linux build, the sanitizer builds,
# the AArch64 build (under qemu-aarch64, and on an AArch64 kernel under
# qemu-system-aarch64), the Windows builds under Wine, and the demo on a fresh Debian root.
# A suite whose packages could not be installed is not run, and says why; a suite that ran
# and failed fails the command. Ends with one line listing the suites that did not run,
# then "N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")/.."

passed=0
failed=0
suites_failed=()
not_run=()

# The packages, group by group (tools/debian-packages.txt); a group that could not be
# equipped is listed in $equip with apt's reason.
equip=$(mktemp)
trap 'rm -f "$equip"' EXIT
tools/install-deps.sh --status "$equip"
case $? in
0) ;;
2) failed=$((failed + 1)) && suites_failed+=("install-deps (a package name no source knows)") ;;
*) failed=$((failed + 1)) && suites_failed+=("install-deps") ;;
esac

# Warnings are errors in CI.
if [ -n "${CI:-}" ]; then
    export KVZ_WERROR=ON
fi

# Whether the groups a suite needs were equipped; if not, it is noted as not run.
equipped() { # suite group...
    local suite=$1 group reason
    shift
    for group in "$@"; do
        reason=$(awk -F'\t' -v g="$group" '$1 == g { print $2 }' "$equip")
        if [ -n "$reason" ]; then
            echo "=== $suite: NOT RUN: its packages ([$group]) could not be installed: $reason"
            not_run+=("$suite ([$group] not installed)")
            return 1
        fi
    done
}

run_ctest_preset() { # preset group...
    local preset=$1
    shift
    equipped "$preset" "$@" || return
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
    # A test that finds what it needs missing skips, saying why ("NOT RUN: reason", or
    # GoogleTest's message after "Skipped"): it is listed as not run, with the reasons, and
    # not counted as passed.
    local skipped count reasons
    skipped=$(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (Skipped)$/\1/p' "$log" | sed 's/  *#.*$//')
    rm -f "$log"
    if [ -n "$skipped" ]; then
        count=$(wc -l <<<"$skipped")
        reasons=$(awk '/^NOT RUN:/ { sub(/^NOT RUN: */, ""); print; after = 0; next }
                       after { if ($0 != "") print; after = 0 } / Skipped$/ { after = 1 }' \
            "build/$preset/Testing/Temporary/LastTest.log" 2>/dev/null | sort -u | paste -sd ';' -)
        not_run+=("$preset: $count skipped ($(paste -sd ' ' - <<<"$skipped")): ${reasons:-no reason given}")
        [ -z "$total" ] || total=$((total - count))
    fi
    if [ -z "$total" ]; then
        failed=$((failed + 1))
        suites_failed+=("$preset (no tests ran)")
        return
    fi
    passed=$((passed + total - bad))
    failed=$((failed + bad))
    [ "$bad" -eq 0 ] || suites_failed+=("$preset")
}

# A further suite prints its own "N passed, N failed" line last, and a "NOT RUN: reason"
# line for any part of it that could not run here.
run_suite() { # script group...
    local suite=$1
    shift
    equipped "$suite" "$@" || return
    echo "=== $suite"
    if [ ! -x "$suite" ]; then
        echo "=== $suite: MISSING (not found or not executable)"
        failed=$((failed + 1))
        suites_failed+=("$suite (missing)")
        return
    fi
    local log status line reason
    log=$(mktemp)
    "$suite" 2>&1 | tee "$log"
    status=${PIPESTATUS[0]}
    line=$(grep -E '^[0-9]+ passed, [0-9]+ failed' "$log" | tail -1)
    while IFS= read -r reason; do
        not_run+=("$suite (${reason:0:200})")
    done < <(sed -n 's/.*NOT RUN: //p' "$log")
    rm -f "$log"
    if [ -n "$line" ]; then
        passed=$((passed + $(echo "$line" | cut -d' ' -f1)))
        failed=$((failed + $(echo "$line" | cut -d' ' -f3)))
    fi
    if [ "$status" -ne 0 ] || [ -z "$line" ]; then
        suites_failed+=("$suite")
        [ -n "$line" ] || failed=$((failed + 1))
    fi
}

for preset in linux asan tsan; do
    run_ctest_preset "$preset" build core
done
run_ctest_preset aarch64 build core aarch64
run_suite tools/test-aarch64.sh build aarch64 aarch64-kernel fresh-root
run_suite tools/test-windows.sh build mingw wine
run_suite tools/test-reproducible.sh build core mingw
run_suite tools/test-fuzz.sh build fuzz
run_suite tools/lint.sh build lint
run_suite tools/test-fresh.sh fresh-root

echo
[ ${#suites_failed[@]} -eq 0 ] || echo "failing: ${suites_failed[*]}"
if [ ${#not_run[@]} -eq 0 ]; then
    echo "not run: none, every suite ran"
else
    echo "not run: $(printf '%s; ' "${not_run[@]}" | sed 's/; $//')"
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ ${#suites_failed[@]} -eq 0 ]
