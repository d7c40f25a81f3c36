#!/usr/bin/env bash
# strace traces but is no debugger: it hands the trap signal back. The host must survive
# the trap and carry on as if nobody were there.
set -u
tracee=$1
out=$(setsid -w timeout 60 strace -f -o /dev/null "$tracee" forward </dev/null)
status=$?
echo "host printed: $out (status $status)"
[ $status -eq 0 ] || { echo "strace-test: FAIL: host ended with status $status"; exit 1; }
[ "$out" = "results: 0 0 0" ] || { echo "strace-test: FAIL: unexpected output"; exit 1; }
