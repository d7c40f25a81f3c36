#!/usr/bin/env bash
# A prompt in a privileged process shows no desktop box: a copy of a test host that links
# nothing of the desktop is given a harmless file capability (so the kernel marks it
# AT_SECURE) and run by an ordinary user whose DISPLAY names an Xvfb that user can reach.
#
#   privileged.sh PLAIN_HOST LIBRARY
#
# 1. The plain copy, as that user: its box comes up on the Xvfb and is answered (the user
#    reaches the server, and the host loads the desktop libraries for its box).
# 2. The copy with the capability, with no terminal: "not shown" at once, no desktop
#    library in its address space.
# 3. The same under strace (run by root, so the capability is still granted): no
#    connect() at all.
# 4. The same on a terminal (a pseudo-terminal): the terminal prompt asks and Enter
#    answers OK.
# Needs root (to give the capability and to become the user); exits 77 (skipped) where it
# is not root or a tool is missing, unless CI is set.
set -u

host=${1:?usage: privileged.sh PLAIN_HOST LIBRARY}
library=${2:?usage: privileged.sh PLAIN_HOST LIBRARY}
user=nobody
work=$(mktemp -d)
xvfb_pid=
host_pid=

cleanup() {
    [ -z "$host_pid" ] || { kill -KILL "$host_pid" 2>/dev/null; wait "$host_pid" 2>/dev/null; }
    [ -z "$xvfb_pid" ] || { kill -TERM "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; }
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    for log in "$work"/*.out "$work"/*.err "$work"/trace; do
        [ -s "$log" ] && { echo "--- $log" >&2; tail -n 20 "$log" >&2; }
    done
    exit 1
}

skip() {
    [ -z "${CI:-}" ] || fail "$* (CI runs as root with tools/debian-packages.txt installed)"
    echo "SKIP: $*"
    exit 77
}

[ "$(id -u)" -eq 0 ] || skip "not root: cannot give a file capability or become $user"
for tool in Xvfb xdotool setcap setpriv strace python3; do
    command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
done
id "$user" >/dev/null 2>&1 || fail "no user $user"

now_ms() { date +%s%3N; }

# The copies and the library they load live where the user may run them, whatever folder
# the build lies in.
chmod 755 "$work"
cp "$host" "$work/plain"
cp "$host" "$work/capable"
cp "$library" "$work/libKVZDebugLib.so"
chmod 644 "$work/libKVZDebugLib.so"
lib=$work/libKVZDebugLib.so
setcap cap_net_bind_service+ep "$work/capable" || fail "setcap failed"

as_user() {
    setpriv --reuid="$user" --regid="$(id -g "$user")" --clear-groups \
        env -i PATH=/usr/bin:/bin HOME="$work" DISPLAY="$DISPLAY" "$@"
}

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" \
    >"$work/xvfb.err" 2>&1 &
xvfb_pid=$!
deadline=$(($(now_ms) + 10000))
until grep -q '^[0-9][0-9]*$' "$work/display" 2>/dev/null; do
    [ "$(now_ms)" -lt "$deadline" ] || fail "Xvfb gave no display number within 10 s"
    sleep 0.05
done
export DISPLAY=":$(head -n 1 "$work/display")"

# expect FILE LINE...: each line is in the file.
expect() {
    local file=$1 line
    shift
    for line in "$@"; do
        grep -qx "$line" "$file" || fail "expected '$line' in $file: $(cat "$file")"
    done
}

# 1. The plain copy's box, answered with Enter.
as_user setsid -w timeout -k 1 30 "$work/plain" "$lib" warn-final >"$work/plain.out" 2>"$work/plain.err" \
    </dev/null &
host_pid=$!
deadline=$(($(now_ms) + 10000))
until window=$(xdotool search --onlyvisible --name '^Assertion Failure$' 2>/dev/null | head -n 1) &&
    [ -n "$window" ]; do
    kill -0 "$host_pid" 2>/dev/null || fail "the plain host ended without a box"
    [ "$(now_ms)" -lt "$deadline" ] || fail "the plain host showed no box within 10 s"
    sleep 0.05
done
xdotool windowfocus --sync "$window" key Return
wait "$host_pid"
host_pid=
expect "$work/plain.out" "secure=0" "result=1"
! grep -qx "desktop=none" "$work/plain.out" || fail "the plain host's box loaded no desktop library"

# 2. The capable copy with no terminal.
started=$(now_ms)
as_user setsid -w timeout -k 1 30 "$work/capable" "$lib" warn-final >"$work/capable.out" \
    2>"$work/capable.err" </dev/null
elapsed=$(($(now_ms) - started))
expect "$work/capable.out" "secure=1" "result=0" "desktop=none"
[ "$elapsed" -lt 2000 ] || fail "the privileged prompt took $elapsed ms to answer \"not shown\""
[ -z "$(xdotool search --name '^Assertion Failure$' 2>/dev/null)" ] || fail "a box came up"

# 3. Under strace: not one connection.
strace -f -qq -o "$work/trace" -e trace=connect,socket,openat -u "$user" \
    env -i HOME="$work" DISPLAY="$DISPLAY" setsid -w "$work/capable" "$lib" warn-final \
    >"$work/traced.out" 2>"$work/traced.err" </dev/null
expect "$work/traced.out" "secure=1" "result=0" "desktop=none"
! grep -E 'connect\(|socket\(' "$work/trace" || fail "the privileged host made a connection"

# 4. On a terminal: the terminal prompt asks, and Enter answers OK (0).
python3 "$(dirname "$0")/on-terminal.py" "$work/terminal.out" \
    setpriv --reuid="$user" --regid="$(id -g "$user")" --clear-groups \
    env -i HOME="$work" DISPLAY="$DISPLAY" "$work/capable" "$lib" warn-release ||
    fail "the terminal prompt did not ask or did not end: $(cat -v "$work/terminal.out")"
expect "$work/terminal.out" "secure=1" "result=0" "desktop=none"
echo "PASS: privileged (no box, no connection, no desktop library; terminal prompt answered)"
