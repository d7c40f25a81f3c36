# shellcheck shell=bash
# Helpers for driving a real Wayland compositor from a test, sourced by wayland-box.sh.
#
# Each test gets a scratch directory ($work) and a home of its own inside it for the user
# the compositors run as ($wl_home, with the runtime directory $wl_home/run). Sway refuses
# to run as root, and CI runs as root: there the compositor, its clients and the host under
# test all run as nobody (setpriv), which every Debian machine has; anyone else runs them
# as themselves. Every wait is a poll with a deadline; cleanup (on EXIT) kills by pid
# everything started here.
#
#   start_sway SCALE [WIDTHxHEIGHT]   sway, headless, pixman, no XWayland, one output
#   start_weston_headless             weston's headless backend: an output, no seat
#   start_weston_nested               weston on an Xvfb of its own (its seat fed by X)
#   stop_compositor [KILL]            ends whichever runs; waits for it
#   as_user COMMAND...                runs a command as the compositor's user and client
#   user_exec COMMAND... &            starts one so (its pid in $!)
#   snap OUTPUT X Y W H               a picture of a region of the sway output (grim)
#   key KEY...                        keys to the focused window (wtype, on sway)
#   click X Y [BUTTON]                a click at a point of the sway output (virtual-pointer)
set -u

now_ms() { date +%s%3N; }

work=$(mktemp -d)
chmod 0711 "$work" # the user below reaches its home through it
wl_home=$work/home
compositor_pid=
keeper_pid=
xvfb_pid=
host_pid=

cleanup() {
    stop_host
    if [ -n "$keeper_pid" ]; then
        kill -KILL "$keeper_pid" 2>/dev/null
        wait "$keeper_pid" 2>/dev/null
    fi
    stop_compositor TERM
    if [ -n "$xvfb_pid" ]; then
        kill -TERM "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# The host runs in a session of its own (wayland-box.sh): its whole process group goes.
stop_host() {
    [ -n "$host_pid" ] || return 0
    kill -KILL -- "-$host_pid" 2>/dev/null
    wait "$host_pid" 2>/dev/null
    host_pid=
}

fail() {
    echo "FAIL: $*" >&2
    local log
    for log in "$work"/host.out "$work"/host.err "$work"/compositor.log "$work"/tree.json; do
        if [ -s "$log" ]; then
            echo "--- $log" >&2
            tail -n 20 "$log" >&2
        fi
    done
    exit 1
}

# not_run REASON: the suite cannot run here; CTest counts it as skipped (77).
not_run() {
    echo "NOT RUN: the Wayland box tests, $*"
    exit 77
}

need_tools() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null 2>&1 ||
            not_run "$tool is not installed (Debian packages sway, weston, grim, wtype, libwlroots-examples, wl-clipboard, imagemagick, python3)"
    done
    virtual_pointer=$(dpkg -L libwlroots-examples 2>/dev/null | grep '/virtual-pointer$' | head -n 1)
    [ -x "${virtual_pointer:-}" ] || not_run "virtual-pointer is missing (Debian package libwlroots-examples)"
}

# The user the compositors run as: nobody when we are root, else ourselves.
if [ "$(id -u)" -eq 0 ]; then
    wl_uid=$(id -u nobody 2>/dev/null) || wl_uid=65534
    wl_gid=$(id -g nobody 2>/dev/null) || wl_gid=65534
    wl_become=(setpriv --reuid="$wl_uid" --regid="$wl_gid" --clear-groups --)
else
    wl_become=()
fi
mkdir -m 0700 "$wl_home" "$wl_home/run"
[ ${#wl_become[@]} -eq 0 ] || chown -R "$wl_uid:$wl_gid" "$wl_home"

# The compositor's socket, once one runs; clients reach it through this.
wl_display=
wl_swaysock=

# user_exec COMMAND...: becomes the command, run as the user with the compositor's
# environment; started with & it leaves $! the command's own pid. as_user runs it and waits.
user_exec() {
    exec env -u DISPLAY -u WAYLAND_SOCKET HOME="$wl_home" XDG_RUNTIME_DIR="$wl_home/run" \
        ${wl_display:+WAYLAND_DISPLAY=$wl_display} ${wl_swaysock:+SWAYSOCK=$wl_swaysock} \
        "${wl_become[@]}" "$@"
}
as_user() { (user_exec "$@"); }

# wait_for DESCRIPTION MS COMMAND...: polls the command every 20 ms until it succeeds,
# failing after MS milliseconds, or at once should the compositor have died.
wait_for() {
    local what=$1 deadline=$(($(now_ms) + $2))
    shift 2
    until "$@"; do
        [ -z "$compositor_pid" ] || kill -0 "$compositor_pid" 2>/dev/null ||
            fail "the compositor died while waiting for $what"
        [ "$(now_ms)" -lt "$deadline" ] || fail "no $what within $(($2 / 1000)) s"
        sleep 0.02
    done
}

# The socket a compositor made in the runtime directory (its name ends with a digit or is
# the name given).
socket_named() {
    local socket
    for socket in "$wl_home/run/"${1:-wayland-[0-9]*}; do
        if [ -S "$socket" ]; then
            wl_display=${socket##*/}
            return 0
        fi
    done
    return 1
}
sway_answers() { as_user swaymsg -t get_outputs >/dev/null 2>&1; }
sway_ipc_socket() {
    local socket
    for socket in "$wl_home/run/"sway-ipc.*.sock; do
        [ -S "$socket" ] && wl_swaysock=$socket && return 0
    done
    return 1
}
keeper_ready() { grep -qx ready "$work/keeper.out" 2>/dev/null; }

# start_sway SCALE [WIDTHxHEIGHT]: the output is 1920x1080 pixels unless told; windows
# get no border, so a window's rectangle in the tree is its surface. A virtual pointer
# is added and kept, so that clients have a wl_pointer before any click.
start_sway() {
    local scale=$1 size=${2:-1920x1080}
    cat >"$wl_home/sway.conf" <<CONFIG
xwayland disable
output HEADLESS-1 resolution $size position 0 0 scale $scale
default_border none
default_floating_border none
focus_follows_mouse no
CONFIG
    [ ${#wl_become[@]} -eq 0 ] || chown "$wl_uid:$wl_gid" "$wl_home/sway.conf"
    user_exec env WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_HEADLESS_OUTPUTS=1 \
        WLR_LIBINPUT_NO_DEVICES=1 sway -c "$wl_home/sway.conf" >"$work/compositor.log" 2>&1 &
    compositor_pid=$!
    wait_for "Wayland socket from sway" 10000 socket_named
    wait_for "IPC socket from sway" 10000 sway_ipc_socket
    wait_for "answer from sway" 10000 sway_answers
    read -r output_width output_height < <(as_user swaymsg -r -t get_outputs |
        python3 -c 'import json, sys; r = json.load(sys.stdin)[0]["rect"]; print(r["width"], r["height"])')
    [ -n "${KVZ_WL_POINTER_KEEPER:-}" ] || fail "KVZ_WL_POINTER_KEEPER (tests/wayland/CMakeLists.txt) is not set"
    user_exec "$KVZ_WL_POINTER_KEEPER" >"$work/keeper.out" 2>&1 &
    keeper_pid=$!
    wait_for "virtual pointer" 5000 keeper_ready
}

# Weston with no configuration of the user's and no panel, on a socket of its own name;
# extra arguments (the backend first) go to weston, whose environment is as_user's plus
# $weston_env.
weston_env=()
start_weston() {
    printf '[shell]\npanel-position=none\nbackground-color=0xff204060\n' >"$wl_home/weston.ini"
    [ ${#wl_become[@]} -eq 0 ] || chown "$wl_uid:$wl_gid" "$wl_home/weston.ini"
    user_exec env "${weston_env[@]}" weston "$@" --use-pixman --socket=weston-test --idle-time=0 \
        --config="$wl_home/weston.ini" --width=1024 --height=768 >"$work/compositor.log" 2>&1 &
    compositor_pid=$!
    wait_for "Wayland socket from weston" 10000 socket_named weston-test
}

start_weston_headless() { start_weston --backend=headless-backend.so; }

# Weston's headless backend has no seat, so a person could not answer a window there;
# weston's X11 backend on an Xvfb of the test's own has one, fed by xdotool. Clients
# still get no DISPLAY (as_user): only weston talks to X.
start_weston_nested() {
    command -v Xvfb >/dev/null && command -v xdotool >/dev/null ||
        not_run "Xvfb or xdotool is missing, which weston's seat needs here (Debian packages xvfb, xdotool)"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    local deadline=$(($(now_ms) + 10000))
    until grep -q '^[0-9][0-9]*$' "$work/display" 2>/dev/null; do
        kill -0 "$xvfb_pid" 2>/dev/null || fail "Xvfb did not start"
        [ "$(now_ms)" -lt "$deadline" ] || fail "Xvfb gave no display number within 10 s"
        sleep 0.05
    done
    export DISPLAY=":$(head -n 1 "$work/display")"
    weston_env=("DISPLAY=$DISPLAY")
    start_weston --backend=x11-backend.so
}

# windows TITLE: a line "X Y WIDTH HEIGHT FOCUSED" (logical coordinates, FOCUSED 1 or 0)
# for each window on sway's output with that title, the focused one first; the tree is
# kept in $work/tree.json for a failure's report.
windows() {
    as_user swaymsg -r -t get_tree >"$work/tree.json" 2>/dev/null || return 0
    python3 - "$1" "$work/tree.json" <<'PYTHON'
import json, sys
title, found = sys.argv[1], []
def walk(node):
    if node.get("name") == title and node.get("pid") and node.get("visible", True):
        r = node["rect"]
        found.append((0 if node.get("focused") else 1, r["x"], r["y"], r["width"], r["height"]))
    for child in node.get("nodes", []) + node.get("floating_nodes", []):
        walk(child)
walk(json.load(open(sys.argv[2])))
for unfocused, x, y, w, h in sorted(found):
    print(x, y, w, h, 1 - unfocused)
PYTHON
}

# find_window TITLE: waits (10 s) for a window of that title on sway and sets X Y W H to
# its rectangle, the focused one where there are several; fails should the host end first.
find_window() {
    local deadline=$(($(now_ms) + 10000)) line
    for (( ; ; )); do
        line=$(windows "$1" | head -n 1)
        if [ -n "$line" ]; then
            read -r X Y W H _ <<<"$line"
            found_at=$(now_ms)
            return
        fi
        [ -z "$host_pid" ] || kill -0 "$host_pid" 2>/dev/null || fail "the host ended before showing '$1'"
        [ "$(now_ms)" -lt "$deadline" ] || fail "no window '$1' within 10 s"
        sleep 0.02
    done
}

# stop_compositor [KILL]: TERM (or KILL) to the compositor, even a stopped one, and waits
# at most 5 s before killing it outright.
stop_compositor() {
    [ -n "$compositor_pid" ] || return 0
    kill "-${1:-TERM}" "$compositor_pid" 2>/dev/null
    kill -CONT "$compositor_pid" 2>/dev/null
    local deadline=$(($(now_ms) + 5000))
    while kill -0 "$compositor_pid" 2>/dev/null && [ "$(now_ms)" -lt "$deadline" ]; do
        sleep 0.02
    done
    kill -KILL "$compositor_pid" 2>/dev/null
    wait "$compositor_pid" 2>/dev/null
    compositor_pid=
    if [ -n "$keeper_pid" ]; then
        kill -KILL "$keeper_pid" 2>/dev/null
        wait "$keeper_pid" 2>/dev/null
        keeper_pid=
    fi
}

# snap OUTPUT X Y W H: grim's picture of the region (in the output's logical coordinates),
# at the output's scale; taken again until two in a row agree, so that a window still
# being drawn is not pictured half done.
snap() {
    local output=$1 region="$2,$3 $4x$5" deadline=$(($(now_ms) + 5000))
    as_user grim -g "$region" - >"$work/snap-a.png" || fail "grim failed"
    for (( ; ; )); do
        sleep 0.1
        as_user grim -g "$region" - >"$work/snap-b.png" || fail "grim failed"
        cmp -s "$work/snap-a.png" "$work/snap-b.png" && break
        [ "$(now_ms)" -lt "$deadline" ] || fail "the picture of $region kept changing for 5 s"
        mv "$work/snap-b.png" "$work/snap-a.png"
    done
    mv "$work/snap-b.png" "$output"
}

# key KEY...: wtype presses each key (xkb names) after a pause, without which a virtual
# keyboard's first key can be lost.
key() {
    local args=(-s 200) one
    for one in "$@"; do
        case $one in
        ctrl+*) args+=(-M ctrl -k "${one#ctrl+}" -m ctrl) ;;
        shift+*) args+=(-M shift -k "${one#shift+}" -m shift) ;;
        *) args+=(-k "$one") ;;
        esac
    done
    as_user wtype "${args[@]}" || fail "wtype failed on $*"
}

# click X Y [BUTTON]: moves the pointer to the point (logical coordinates of the sway
# output, $output_width x $output_height) and clicks the button (Linux input code; left
# unless told).
click() {
    local button=${3:-272}
    as_user "$virtual_pointer" absolute "$1" "$2" "$output_width" "$output_height" &&
        as_user "$virtual_pointer" button "$button" press &&
        as_user "$virtual_pointer" button "$button" release || fail "virtual-pointer failed"
}
