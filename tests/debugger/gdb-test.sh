#!/usr/bin/env bash
# gdb in batch mode: each empty-slot entry point stops once, in its own frame, and the
# host exits normally after continue.
set -u
tracee=$1
log=$(mktemp)
trap 'rm -f "$log"' EXIT
setsid -w timeout 60 gdb -nx -batch \
    -ex run -ex 'bt 1' -ex continue -ex 'bt 1' -ex continue -ex 'bt 1' -ex continue \
    --args "$tracee" forward </dev/null >"$log" 2>&1
cat "$log"
fail=0
check() {
    if ! grep -qE "$1" "$log"; then
        echo "gdb-test: FAIL: no line matching: $1"
        fail=1
    fi
}
[ "$(grep -c 'received signal SIGTRAP' "$log")" -eq 3 ] || { echo "gdb-test: FAIL: expected 3 SIGTRAP stops"; fail=1; }
check '^#0 .*_AssertFailed \('
check '^#0 .*_AssertFailedEx \('
check '^#0 .*_EnterSafeMode \('
check '^results: 0 0 0$'
check 'exited normally'
exit $fail
