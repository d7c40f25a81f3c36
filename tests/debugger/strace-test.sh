#!/usr/bin/env bash
# strace traces but is no debugger: it hands the trap signal back. The host must survive
# the trap and carry on as if nobody were there, also on a thread that blocks every signal.
set -u
tracee=$1
fail=0
for mode in forward blocked; do
    out=$(setsid -w timeout 60 strace -f -o /dev/null "$tracee" "$mode" </dev/null)
    status=$?
    echo "$mode: host printed: $out (status $status)"
    [ $status -eq 0 ] || { echo "strace-test: FAIL: $mode: host ended with status $status"; fail=1; }
    [ "$out" = "results: 0 0 0" ] || { echo "strace-test: FAIL: $mode: unexpected output"; fail=1; }
done
exit $fail
