#!/usr/bin/env bash
# gdb in batch mode: each empty-slot entry point, and each prompt, stops once, in its own
# frame, and the host exits normally after the continues. Headless, the prompts answer at
# once after their stop.
set -u
tracee=$1
log=$(mktemp)
trap 'rm -f "$log"' EXIT
fail=0
# mode, the exports it stops in (in order), what the host then prints
cases=(
    "forward _AssertFailed,_AssertFailedEx,_EnterSafeMode results: 0 0 0"
    "prompts _WarnDebug,_WarnRelease,_BreakRelease,_WarnFinal results: 1 2 2 0"
)
for case in "${cases[@]}"; do
    read -r mode stops output <<<"$case"
    IFS=, read -r -a names <<<"$stops"
    commands=(-ex run)
    for _ in "${names[@]}"; do
        commands+=(-ex 'bt 1' -ex continue)
    done
    setsid -w timeout 60 gdb -nx -batch "${commands[@]}" --args "$tracee" "$mode" \
        </dev/null >"$log" 2>&1
    echo "=== gdb: $tracee $mode"
    cat "$log"
    # The innermost frame of each stop, in order.
    seen=$(sed -n 's/^#0 .* in \([A-Za-z_]*\) (.*/\1/p; s/^#0  \([A-Za-z_]*\) (.*/\1/p' "$log" |
        paste -sd,)
    traps=$(grep -c 'received signal SIGTRAP' "$log")
    if [ "$seen" != "$stops" ] || [ "$traps" -ne ${#names[@]} ]; then
        echo "gdb-test: FAIL: $mode: $traps SIGTRAP stops in [$seen], expected [$stops]"
        fail=1
    fi
    for line in "^$output\$" 'exited normally'; do
        grep -qE "$line" "$log" || { echo "gdb-test: FAIL: $mode: no line matching: $line"; fail=1; }
    done
done
exit $fail
