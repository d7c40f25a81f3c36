#!/usr/bin/env bash
# The Wayland box as assistive technology sees it: on sway headless (tests/wayland's
# helpers), with a session bus and at-spi2-core's bus launcher run as the compositor's
# user, a pyatspi client (a11y-client.py) finds the box by its caption through
# org.a11y.Bus, reads it, sees the focus move on Tab (wtype) and presses OK through Action;
# the prompt returns 0.
#
#   a11y-wayland.sh HOST [stopped]
#
# With "stopped", the session bus is stopped with SIGSTOP instead: the box comes up and
# answers Return (wtype) at once.
#
# Prints "NOT RUN: ..." and exits 77 where a tool is missing.
set -u
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../wayland/compositor.sh
. "$here/../wayland/compositor.sh"
host=$1
stopped=${2:-}
bus_pids=()

not_run_a11y() {
    echo "NOT RUN: the accessibility tests, $*"
    exit 77
}
for tool in sway swaymsg wtype setpriv dbus-daemon /usr/libexec/at-spi-bus-launcher /usr/bin/python3; do
    command -v "$tool" >/dev/null 2>&1 || not_run_a11y "$tool is missing"
done
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || not_run_a11y "python3-pyatspi is missing"
virtual_pointer=$(dpkg -L libwlroots-examples 2>/dev/null | grep '/virtual-pointer$' | head -n 1)
[ -x "${virtual_pointer:-}" ] || not_run_a11y "virtual-pointer is missing (libwlroots-examples)"

end_buses() {
    local pid
    for pid in "${bus_pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null
        kill -CONT "$pid" 2>/dev/null
    done
    cleanup
}
trap end_buses EXIT

start_sway 1
as_user dbus-daemon --session --fork --print-address=4 --print-pid=5 4>"$wl_home/address" \
    5>"$wl_home/daemon.pid" || fail "no session bus"
bus_pids+=($(cat "$wl_home/daemon.pid"))
export DBUS_SESSION_BUS_ADDRESS
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$wl_home/address")
user_exec /usr/libexec/at-spi-bus-launcher --launch-immediately >"$work/launcher.log" 2>&1 &
bus_pids+=($!)

if [ "$stopped" = stopped ]; then
    sleep 0.5 # the launcher has taken its name on the bus
    kill -STOP "${bus_pids[0]}"
    user_exec setsid timeout -k 2 60 "$host" warn-release >"$work/host.out" 2>"$work/host.err" \
        </dev/null &
    host_pid=$!
    find_window "Assertion Failure"
    pressed=$(now_ms)
    key Return
    wait "$host_pid"
    host_pid=
    kill -CONT "${bus_pids[0]}"
    grep -qx "result=0" "$work/host.out" || fail "the prompt returned: $(cat "$work/host.out")"
    answered=$(($(now_ms) - pressed))
    [ "$answered" -lt 1000 ] || fail "Return answered after $answered ms"
    echo "Return answered in $answered ms on a stopped session bus"
    echo PASS
    exit 0
fi

user_exec /usr/bin/python3 "$here/a11y-client.py" "Assertion Failure" \
    "render/Mesh.cpp, line 217" "wtype -s 200 -k Tab" >"$work/client.log" 2>&1 &
client=$!
bus_pids+=($client)
wait_for "client" 10000 grep -q ready "$work/client.log"
# The host in a session of its own, with no terminal and no DISPLAY.
user_exec setsid timeout -k 2 60 "$host" warn-release >"$work/host.out" 2>"$work/host.err" \
    </dev/null &
host_pid=$!
wait "$client" || fail "the client failed: $(cat "$work/client.log")"
wait "$host_pid"
host_pid=
grep -qx "result=0" "$work/host.out" || fail "the prompt returned: $(cat "$work/host.out")"
[ ! -s "$work/host.err" ] || fail "on the host's standard error: $(cat -v "$work/host.err")"
called=$(sed -n 's/^called=//p' "$work/host.out")
echo "in the tree $(($(sed -n 's/^found=//p' "$work/client.log") - called)) ms after the call"
grep '^event' "$work/client.log"
echo PASS
