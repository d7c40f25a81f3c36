#!/usr/bin/env bash
# Static checks of the library's own sources (KVZDebugLib/ and its folders below, as
# the Linux build compiles them; the tests are not linted): clang-tidy with the checks in
# .clang-tidy, and cppcheck. Findings are fixed, or suppressed inline with a reason.
# Ends with one line, one count per tool: "N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")/.."

build=build/lint
passed=0
failed=0

echo "=== lint: compile database in $build"
if ! cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKVZ_BUILD_TESTS=OFF \
    -DKVZ_BUILD_EXAMPLES=OFF -DKVZ_BUILD_BENCH=OFF >/dev/null; then
    echo "=== lint: CONFIGURE FAILED"
    echo "0 passed, 2 failed"
    exit 1
fi
# The Wayland protocol code is generated at build time: made first (the files alone, by their
# paths), and not linted itself.
mapfile -t generated < <(ninja -C "$build" -t targets all |
    sed -n 's|^\(KVZDebugLib/wayland-protocols/[^:]*\): CUSTOM_COMMAND$|\1|p')
if [ ${#generated[@]} -eq 0 ] || ! ninja -C "$build" "${generated[@]}" >/dev/null; then
    echo "=== lint: GENERATING THE PROTOCOL CODE FAILED"
    echo "0 passed, 2 failed"
    exit 1
fi
mapfile -t sources < <(sed -n 's/^ *"file": "\(.*\)",\{0,1\}$/\1/p' "$build/compile_commands.json" |
    grep '/KVZDebugLib/' | grep -v "^$PWD/$build/" | sort -u)
echo "=== lint: ${#sources[@]} source files"

report() {
    local tool=$1 status=$2 findings=$3
    if [ "$status" -eq 0 ] && [ "$findings" -eq 0 ]; then
        echo "=== $tool: no findings"
        passed=$((passed + 1))
    else
        echo "=== $tool: FAILED ($findings findings, status $status)"
        failed=$((failed + 1))
    fi
}

log=$(mktemp)
printf '%s\n' "${sources[@]}" |
    xargs -P 2 -n 1 clang-tidy -p "$build" --quiet --warnings-as-errors='*' >"$log" 2>/dev/null
status=$?
grep -E -A 3 ': (warning|error):' "$log"
findings=$(grep -c -E ': (warning|error):' "$log")
report clang-tidy "$status" "$findings"

# cppcheck knows no compiler's predefined macros; name the processor the trap is for.
case $(uname -m) in
    x86_64) arch=-D__x86_64__ ;;
    aarch64) arch=-D__aarch64__ ;;
    i?86) arch=-D__i386__ ;;
    *) arch= ;;
esac
cppcheck --project="$build/compile_commands.json" --std=c++20 $arch -D__linux__ \
    --enable=warning,style,performance,portability --inline-suppr \
    -i"$PWD/$build" --suppress=missingIncludeSystem --suppress=unmatchedSuppression --error-exitcode=1 -q \
    --template='{file}:{line}: {severity} [{id}] {message}' >"$log" 2>&1
status=$?
cat "$log"
findings=$(grep -c -E '^[^ ]+:[0-9]+: ' "$log")
report cppcheck "$status" "$findings"
rm -f "$log"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
