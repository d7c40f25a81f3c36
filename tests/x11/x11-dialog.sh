#!/usr/bin/env bash
# Drives the X11 message box from outside the host process, on an Xvfb of its own.
#
#   x11-dialog.sh HOST CLOSER LIBRARY CASE [OUTPUT.png [--press KEY] [HOST OPTIONS...]]
#
# HOST is kvz_x11_host, CLOSER kvz_x11_close, LIBRARY libKVZDebugLib.so. Each case starts
# Xvfb on a free display number, runs the host, finds the dialog with xdotool, checks its
# title, answers it (a key, a click, a close, or the server's or the client's death) and
# checks the prompt's result. Every wait is bounded; the host and Xvfb are killed by pid
# at the end. Exits 77 (skipped) when Xvfb, xdotool or xprop is missing, unless CI is set.
#
# The case "scripts" copies its pictures into the directory
# KVZ_X11_PICTURES names, when it is set. The case "screenshot" saves a picture of the
# dialog to OUTPUT.png (needs imagemagick); the pictures in docs/ are made with it.
set -u

if [ $# -lt 4 ]; then
    echo "usage: $0 HOST CLOSER LIBRARY CASE [OUTPUT.png]" >&2
    exit 64
fi
host=$1
closer=$2
library=$3
case_name=$4
output=${5:-}

# The X11 box, not the Wayland box a desktop session of the person running the tests would
# put first.
unset WAYLAND_DISPLAY WAYLAND_SOCKET

work=$(mktemp -d)
xvfb_pid=
wm_pid=
host_pid=
silent_pid=
keeper_pid=

cleanup() {
    if [ -n "$host_pid" ] && kill -0 "$host_pid" 2>/dev/null; then
        kill -KILL "$host_pid" 2>/dev/null
        wait "$host_pid" 2>/dev/null
    fi
    if [ -n "$keeper_pid" ]; then
        kill -TERM "$keeper_pid" 2>/dev/null
        wait "$keeper_pid" 2>/dev/null
    fi
    if [ -n "$wm_pid" ]; then
        kill -TERM "$wm_pid" 2>/dev/null
        wait "$wm_pid" 2>/dev/null
    fi
    if [ -n "$xvfb_pid" ] && kill -0 "$xvfb_pid" 2>/dev/null; then
        kill -TERM "$xvfb_pid" 2>/dev/null
        kill -CONT "$xvfb_pid" 2>/dev/null # a stopped server acts on the signal only now
        wait "$xvfb_pid" 2>/dev/null
    fi
    if [ -n "$silent_pid" ]; then
        kill -TERM "$silent_pid" 2>/dev/null
        wait "$silent_pid" 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    for log in "$work"/host.out "$work"/host.err "$work"/xvfb.log "$work"/wm.log "$work"/tree.log; do
        if [ -s "$log" ]; then
            echo "--- $log" >&2
            tail -n 20 "$log" >&2
        fi
    done
    exit 1
}

need_tools() {
    local tool
    for tool in "$@"; do
        if ! command -v "$tool" >/dev/null 2>&1; then
            if [ -n "${CI:-}" ]; then
                fail "$tool is missing; CI installs it (tools/debian-packages.txt)"
            fi
            echo "SKIP: $tool is not installed (Debian packages xvfb, xdotool, x11-utils)"
            exit 77
        fi
    done
}

now_ms() { date +%s%3N; }

# Starts Xvfb on a display number it picks itself and sets DISPLAY. The screen is
# 1024x768 unless another size is given. The server keeps going when its last client
# leaves (-noreset), so that the cases do not depend on a reset's timing; with "reset"
# after the size it resets then, as a server started with no options does. xvfb_options
# are passed on.
xvfb_options=()
start_xvfb() {
    local noreset=-noreset
    [ "${2:-}" != reset ] || noreset=
    # shellcheck disable=SC2086 # the option or nothing
    Xvfb -displayfd 3 -screen 0 "${1:-1024x768}x24" -nolisten tcp $noreset "${xvfb_options[@]}" \
        3>"$work/display" >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    local deadline=$(($(now_ms) + 10000))
    until grep -q '^[0-9][0-9]*$' "$work/display" 2>/dev/null; do
        kill -0 "$xvfb_pid" 2>/dev/null || fail "Xvfb did not start"
        [ "$(now_ms)" -lt "$deadline" ] || fail "Xvfb gave no display number within 10 s"
        sleep 0.05
    done
    display_number=$(head -n 1 "$work/display")
    export DISPLAY=":$display_number"
}

# Starts the window manager named (openbox or icewm) and waits until it manages the screen:
# it has set its work area, which both do after the check window, once they take windows
# (openbox drops a window mapped in between).
start_wm() {
    need_tools "$1"
    case $1 in
    openbox) openbox --sm-disable >"$work/wm.log" 2>&1 & ;;
    icewm) icewm >"$work/wm.log" 2>&1 & ;;
    *) fail "unknown window manager $1" ;;
    esac
    wm_pid=$!
    local deadline=$(($(now_ms) + 10000))
    until xprop -root _NET_SUPPORTING_WM_CHECK _NET_WORKAREA 2>/dev/null | grep -c '^_NET_[A-Z_]*(' | grep -qx 2; do
        kill -0 "$wm_pid" 2>/dev/null || fail "$1 did not start"
        [ "$(now_ms)" -lt "$deadline" ] || fail "$1 did not manage the screen within 10 s"
        sleep 0.05
    done
}

# Kills Xvfb at once, as a crash would, and removes the files it leaves behind.
kill_xvfb() {
    kill -KILL "$xvfb_pid"
    wait "$xvfb_pid" 2>/dev/null
    xvfb_pid=
    local lock="/tmp/.X$display_number-lock"
    rm -f "/tmp/.X11-unix/X$display_number" "$lock"
}

# The host runs in a session of its own, with no terminal to fall back on, with the
# environment host_env adds.
host_env=()
start_host() {
    timeout -k 2 60 setsid env "${host_env[@]}" "$host" "$@" >"$work/host.out" 2>"$work/host.err" </dev/null &
    host_pid=$!
}

# Waits for the host to end (at most 10 s) and checks its output holds each line given.
expect_host() {
    local deadline=$(($(now_ms) + 10000))
    while kill -0 "$host_pid" 2>/dev/null; do
        [ "$(now_ms)" -lt "$deadline" ] || fail "the host is still waiting 10 s after the answer"
        sleep 0.05
    done
    wait "$host_pid"
    local status=$?
    host_pid=
    [ "$status" -eq 0 ] || fail "the host ended with status $status: $(cat "$work/host.out")"
    ! grep -q '^errno=' "$work/host.out" || fail "a prompt changed errno: $(cat "$work/host.out")"
    local line
    for line in "$@"; do
        grep -qx "$line" "$work/host.out" || fail "expected '$line', the host printed: $(cat "$work/host.out")"
    done
}

# Finds the visible window named exactly $1 (at most 10 s, looking every 10 ms), sets
# $found to its id and $mapped_at to when it was seen (now_ms).
find_window() {
    local deadline=$(($(now_ms) + 10000))
    for (( ; ; )); do
        found=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1)
        if [ -n "$found" ]; then
            mapped_at=$(now_ms)
            return
        fi
        [ -z "$host_pid" ] || kill -0 "$host_pid" 2>/dev/null || fail "the host ended before showing '$1'"
        if [ "$(now_ms)" -ge "$deadline" ]; then
            xwininfo -root -tree >"$work/tree.log" 2>&1
            fail "no window '$1' within 10 s"
        fi
        sleep 0.01
    done
}

# Finds the dialog, checks its title and that it took the keyboard focus, and sets $dialog.
find_dialog() {
    local title=$1
    find_window "$title"
    dialog=$found
    [ "$(xdotool getwindowname "$dialog")" = "$title" ] || fail "window name is not '$title'"
    local names
    names=$(xprop -id "$dialog" _NET_WM_NAME WM_NAME)
    grep -qxF "_NET_WM_NAME(UTF8_STRING) = \"$title\"" <<<"$names" || fail "bad _NET_WM_NAME: $names"
    grep -qxF "WM_NAME(STRING) = \"$title\"" <<<"$names" || fail "bad WM_NAME: $names"
    local deadline=$(($(now_ms) + 5000))
    until [ "$(xdotool getwindowfocus -f 2>/dev/null)" = "$dialog" ]; do
        [ "$(now_ms)" -lt "$deadline" ] || fail "the dialog did not take the keyboard focus"
        sleep 0.05
    done
}

click_button() {
    find_window "$1"
    xdotool mousemove --window "$found" 10 10 || fail "cannot move the pointer onto '$1'"
    xdotool click 1 || fail "cannot click '$1'"
}

# answer ACTION: answers the dialog found by find_dialog.
answer() {
    case $1 in
    enter) xdotool key Return ;;
    escape) xdotool key Escape ;;
    tab_enter) xdotool key Tab Return ;;
    click_ok) click_button OK ;;
    click_cancel) click_button Cancel ;;
    destroy) xdotool windowclose "$dialog" ;;
    delete)
        xprop -id "$dialog" WM_PROTOCOLS | grep -q WM_DELETE_WINDOW ||
            fail "WM_DELETE_WINDOW is not among the dialog's protocols"
        "$closer" "$dialog" || fail "cannot send WM_DELETE_WINDOW"
        ;;
    client_killed) xdotool windowkill "$dialog" ;;
    server_killed) kill_xvfb ;;
    server_stopped) kill -STOP "$xvfb_pid" ;;
    *) fail "unknown action $1" ;;
    esac
}

# dialog_case PROMPT TITLE ACTION RESULT [HOST OPTIONS...]
dialog_case() {
    local prompt=$1 title=$2 action=$3 result=$4
    shift 4
    need_tools Xvfb xdotool xprop
    start_xvfb
    start_host "$prompt" "$@"
    find_dialog "$title"
    if [ "$prompt" = warn-final ]; then
        [ -z "$(xdotool search --name '^Cancel$' 2>/dev/null)" ] || fail "an OK-only box has a Cancel button"
    fi
    answer "$action"
    expect_host "result=$result"
}

# Measures the dialog for the host options given into $width and $height, checking it is
# centred on the 1024x768 screen, then answers it.
measure() {
    start_host warn-release "$@"
    find_dialog "Assertion Failure"
    # shellcheck disable=SC2034 # all set by getwindowgeometry --shell
    local X Y WIDTH HEIGHT SCREEN WINDOW
    eval "$(xdotool getwindowgeometry --shell "$dialog")"
    local dx=$((X + WIDTH / 2 - 512)) dy=$((Y + HEIGHT / 2 - 384))
    if [ "${dx#-}" -gt 1 ] || [ "${dy#-}" -gt 1 ]; then
        fail "not centred: ${WIDTH}x$HEIGHT at $X,$Y for options '$*'"
    fi
    xdotool key Return
    expect_host "result=0"
    width=$WIDTH
    height=$HEIGHT
}

# Two threads of one host put up a box each; both are answered, one after the other.
two_threads_case() {
    need_tools Xvfb xdotool xprop
    start_xvfb
    start_host warn-release --threads 2 --own-handlers
    local deadline=$(($(now_ms) + 10000)) windows
    for (( ; ; )); do
        windows=$(xdotool search --onlyvisible --name '^Assertion Failure$' 2>/dev/null)
        [ "$(wc -l <<<"$windows")" -lt 2 ] || break
        [ "$(now_ms)" -lt "$deadline" ] || fail "two boxes did not come up within 10 s"
        sleep 0.05
    done
    local window
    for window in $windows; do
        xdotool windowfocus "$window" || fail "cannot focus $window"
        deadline=$(($(now_ms) + 5000))
        until [ "$(xdotool getwindowfocus -f 2>/dev/null)" = "$window" ]; do
            [ "$(now_ms)" -lt "$deadline" ] || fail "$window did not get the focus"
            sleep 0.05
        done
        xdotool key Escape
    done
    expect_host "result=2" "handlers=kept"
    [ "$(grep -cx 'result=2' "$work/host.out")" -eq 2 ] ||
        fail "expected two answers, the host printed: $(cat "$work/host.out")"
}

# Ten threads put up a box each, more than the eight the library keeps up at once: every
# box is shown and answered, five with Enter (0), five with Escape (2), one after the
# other. Each answer waits until every box due is up, since a box takes the focus as it
# comes up.
ten_threads_case() {
    need_tools Xvfb xdotool xprop
    start_xvfb
    start_host warn-release --threads 10
    local answered=0 due windows window deadline=$(($(now_ms) + 60000))
    while [ "$answered" -lt 10 ]; do
        due=$((10 - answered < 8 ? 10 - answered : 8))
        windows=$(xdotool search --onlyvisible --name '^Assertion Failure$' 2>/dev/null)
        if [ "$(grep -c . <<<"$windows")" -ne "$due" ]; then
            [ "$(now_ms)" -lt "$deadline" ] || fail "$answered dialogs answered, $due not up"
            sleep 0.05
            continue
        fi
        window=$(head -n 1 <<<"$windows")
        until [ "$(xdotool getwindowfocus -f 2>/dev/null)" = "$window" ]; do
            [ "$(now_ms)" -lt "$deadline" ] || fail "$window did not get the focus"
            xdotool windowfocus "$window"
            sleep 0.05
        done
        if [ "$answered" -lt 5 ]; then xdotool key Return; else xdotool key Escape; fi
        answered=$((answered + 1))
        # Each answer is one result printed; window ids come back for new boxes.
        until [ "$(grep -c '^result=' "$work/host.out")" -ge "$answered" ]; do
            [ "$(now_ms)" -lt "$deadline" ] || fail "no result for answer $answered"
            sleep 0.05
        done
    done
    expect_host
    [ "$(grep -cx 'result=0' "$work/host.out")" -eq 5 ] && [ "$(grep -cx 'result=2' "$work/host.out")" -eq 5 ] ||
        fail "expected five 0s and five 2s, the host printed: $(cat "$work/host.out")"
}

# bare_server_case ROUNDS THREADS: on a server that resets when its last client leaves
# and that has no client but the host (and xdotool's brief ones), THREADS prompts at
# once, ROUNDS times over, each host a new process: every box comes up and each is
# answered by a click on an OK button, so every prompt returns 0. A box the host could
# not show returns 2 at once, unseen, and fails the case.
bare_server_case() {
    local rounds=$1 threads=$2
    need_tools Xvfb xdotool xprop
    start_xvfb 1024x768 reset
    local round answered due windows button deadline
    for ((round = 1; round <= rounds; round++)); do
        start_host warn-release --threads "$threads"
        answered=0
        # No client of the test's own while the boxes come up: xdotool's connection would
        # keep the server from resetting and so hide what a bare server does.
        deadline=$(($(now_ms) + 500))
        while [ "$(now_ms)" -lt "$deadline" ] && ! grep -q '^result=' "$work/host.out"; do
            sleep 0.02
        done
        deadline=$(($(now_ms) + 30000))
        while [ "$answered" -lt "$threads" ]; do
            ! grep -qx 'result=2' "$work/host.out" ||
                fail "round $round: $(grep -cx 'result=2' "$work/host.out") of $threads prompts returned 2 with no box shown"
            due=$((threads - answered < 8 ? threads - answered : 8))
            windows=$(xdotool search --onlyvisible --name '^Assertion Failure$' 2>/dev/null)
            button=$(xdotool search --onlyvisible --name '^OK$' 2>/dev/null | tail -n 1)
            if [ "$(grep -c . <<<"$windows")" -lt "$due" ] || [ -z "$button" ]; then
                [ "$(now_ms)" -lt "$deadline" ] || fail "round $round: $answered answered, $due boxes not up"
                sleep 0.05
                continue
            fi
            # The boxes lie one on another: the click answers the one on top.
            xdotool mousemove --window "$button" 10 10 click 1 2>/dev/null
            answered=$((answered + 1))
            until [ "$(grep -c '^result=' "$work/host.out")" -ge "$answered" ]; do
                [ "$(now_ms)" -lt "$deadline" ] || fail "round $round: no result for click $answered"
                sleep 0.02
            done
        done
        expect_host
        [ "$(grep -cx 'result=0' "$work/host.out")" -eq "$threads" ] ||
            fail "round $round: expected $threads 0s, the host printed: $(cat "$work/host.out")"
    done
    echo "$rounds rounds of $threads prompts, each box shown and answered by its click"
}

# Listens as a display that takes connections and never answers, on the abstract local
# socket of a free display number and on its TCP port on 127.0.0.1; sets $silent_number.
start_silent_display() {
    python3 -c '
import socket, sys, time
for number in range(800, 900):
    try:
        local = socket.socket(socket.AF_UNIX)
        local.bind("\0/tmp/.X11-unix/X%d" % number)
        tcp = socket.socket()
        tcp.bind(("127.0.0.1", 6000 + number))
    except OSError:
        continue
    local.listen(8)
    tcp.listen(8)
    print(number, flush=True)
    time.sleep(120)
    sys.exit(0)
sys.exit(1)
' >"$work/silent" 2>&1 &
    silent_pid=$!
    local deadline=$(($(now_ms) + 10000))
    until grep -q '^[0-9][0-9]*$' "$work/silent" 2>/dev/null; do
        kill -0 "$silent_pid" 2>/dev/null || fail "the silent display did not start: $(cat "$work/silent")"
        [ "$(now_ms)" -lt "$deadline" ] || fail "the silent display did not start within 10 s"
        sleep 0.05
    done
    silent_number=$(head -n 1 "$work/silent")
}

# fallback_case KIND: a display the box cannot use (a stopped server, one that never
# answers, a host holding a grab) sends _WarnFinal to the next kind of box; with no
# terminal it answers 0, "not shown", instead of waiting.
fallback_case() {
    need_tools Xvfb
    local displays="" options=()
    case $1 in
    stopped)
        start_xvfb
        kill -STOP "$xvfb_pid"
        displays=$DISPLAY
        ;;
    silent)
        start_silent_display
        displays=":$silent_number 127.0.0.1:$silent_number"
        ;;
    grab_input | grab_server)
        start_xvfb
        displays=$DISPLAY
        options=(--grab "${1#grab_}")
        ;;
    esac
    local display started status
    for display in $displays; do
        started=$(now_ms)
        env DISPLAY="$display" timeout -k 1 20 setsid -w "$host" warn-final "${options[@]}" \
            >"$work/host.out" 2>"$work/host.err" </dev/null
        status=$?
        [ "$status" -eq 0 ] || fail "DISPLAY '$display': status $status"
        grep -qx "result=0" "$work/host.out" ||
            fail "DISPLAY '$display': expected 0 (not shown), got $(cat "$work/host.out")"
        ! grep -q '^errno=' "$work/host.out" || fail "DISPLAY '$display': errno changed: $(cat "$work/host.out")"
        echo "DISPLAY '$display': not shown, after $(($(now_ms) - started)) ms"
    done
}

layout_case() {
    need_tools Xvfb xdotool xprop
    start_xvfb
    measure
    local short_width=$width short_height=$height
    measure --lines 5
    local tall_width=$width tall_height=$height
    measure --long
    local long_width=$width long_height=$height
    local added=$((tall_height - short_height)) line_height=$(((tall_height - short_height) / 5))
    # Each line feed adds one line of the same height; the width stays.
    [ "$tall_width" -eq "$short_width" ] || fail "line feeds changed the width: $short_width -> $tall_width"
    if [ $((added % 5)) -ne 0 ] || [ "$line_height" -lt 10 ]; then
        fail "five line feeds added $added pixels"
    fi
    # About 700 characters with no line feed: wrapped to a readable width (not the whole
    # screen), over several lines.
    if [ "$long_width" -le "$short_width" ] || [ "$long_width" -gt 640 ]; then
        fail "long text: width $long_width (short text: $short_width)"
    fi
    [ $((long_height - short_height)) -ge $((8 * line_height)) ] ||
        fail "long text: height $long_height (short text: $short_height)"
    # A desktop at twice the resolution (Xft.dpi 192) gets text, margins and buttons of
    # about twice the size.
    xprop -root -format RESOURCE_MANAGER 8s -set RESOURCE_MANAGER "Xft.dpi:	192" ||
        fail "cannot set Xft.dpi"
    measure
    if [ $((width * 10)) -lt $((short_width * 17)) ] || [ $((height * 10)) -lt $((short_height * 17)) ]; then
        fail "at 192 dpi ${width}x$height, at 96 dpi ${short_width}x$short_height"
    fi
    echo "96 dpi: ${short_width}x$short_height, 192 dpi: ${width}x$height"
}

# shoot OUTPUT KEYS RESULT [HOST OPTIONS...]: pictures the warn-release dialog the host
# options give into OUTPUT, sets $shot_size to its WIDTHxHEIGHT, answers it with KEYS and
# checks the result.
shoot() {
    local output=$1 keys=$2 result=$3
    shift 3
    start_host warn-release "$@"
    find_dialog "Assertion Failure"
    # shellcheck disable=SC2034 # all set by getwindowgeometry --shell
    local X Y WIDTH HEIGHT SCREEN WINDOW
    eval "$(xdotool getwindowgeometry --shell "$dialog")"
    xdotool mousemove 0 0
    sleep 0.3
    import -window root -crop "${WIDTH}x$HEIGHT+$X+$Y" +repage "$output" || fail "import failed"
    # shellcheck disable=SC2086 # one key or several
    xdotool key $keys
    expect_host "result=$result"
    shot_size=${WIDTH}x$HEIGHT
}

# snap OUTPUT: pictures the dialog found by find_dialog, once drawn, and sets WIDTH and
# HEIGHT to its size.
snap() {
    # shellcheck disable=SC2034 # all set by getwindowgeometry --shell
    local X Y SCREEN WINDOW
    eval "$(xdotool getwindowgeometry --shell "$dialog")"
    sleep 0.3
    import -window root -crop "${WIDTH}x$HEIGHT+$X+$Y" +repage "$1" || fail "import failed"
}

# How many pixels two pictures differ in; every pixel when their sizes differ.
pixels_differing() {
    local size_a size_b
    size_a=$(identify -format %wx%h "$1") size_b=$(identify -format %wx%h "$2")
    if [ "$size_a" != "$size_b" ]; then
        echo 1000000
        return
    fi
    compare -metric AE -fuzz 10% "$1" "$2" null: 2>&1 | cut -d' ' -f1
}

colours() { convert "$1" -format %k info:; }

# Boxes in other scripts, each pictured with its text and with U+FFFD in place of each
# character beyond ASCII (the marks with their marks left out): the pictures must differ,
# as they would not were the text drawn as U+FFFD; combining marks take no room of their
# own. The text is anti-aliased, and the host's locale and signals are left as they were.
scripts_case() {
    need_tools Xvfb xdotool xprop import compare convert identify
    start_xvfb
    local script real replaced differ
    for script in cjk rtl astral marks; do
        shoot "$work/$script.png" Return 0 --script "$script" --check-process
        grep -qx "process=kept" "$work/host.out" || fail "$script: the locale or signals changed"
        real=$shot_size
        shoot "$work/$script-replaced.png" Return 0 --script "$script" --replaced
        replaced=$shot_size
        differ=$(pixels_differing "$work/$script.png" "$work/$script-replaced.png")
        echo "$script: $real, with U+FFFD $replaced, $differ pixels differ"
        [ "$differ" -gt 100 ] || fail "$script: drawn as with U+FFFD ($differ pixels differ)"
        if [ "$script" = marks ] && [ "$real" != "$replaced" ]; then
            fail "combining marks took room of their own: $real, without them $replaced"
        fi
    done
    [ "$(colours "$work/cjk.png")" -ge 20 ] || fail "the text is not anti-aliased"
    [ -z "${KVZ_X11_PICTURES:-}" ] || cp "$work"/*.png "$KVZ_X11_PICTURES"
}

# Where fontconfig cannot be loaded (a libfontconfig.so.1 without its functions first on
# the library path) or finds no font (its own FONTCONFIG_FILE naming an empty
# configuration), the box cannot draw its text: no window comes up and the next kind of
# box is shown. With no terminal that is "not shown", answered at once with nothing on
# standard error; on a terminal the terminal prompt asks, and Enter answers it.
no_fonts_case() {
    need_tools Xvfb xdotool xprop python3
    [ -n "${KVZ_NO_FONTCONFIG_DIR:-}" ] || fail "KVZ_NO_FONTCONFIG_DIR (tests/x11/CMakeLists.txt) is not set"
    start_xvfb
    printf '<?xml version="1.0"?>\n<fontconfig></fontconfig>\n' >"$work/no-fonts.conf"
    local setup started elapsed
    for setup in no_fontconfig no_fonts; do
        if [ "$setup" = no_fontconfig ]; then
            host_env=("LD_LIBRARY_PATH=$KVZ_NO_FONTCONFIG_DIR")
        else
            host_env=("FONTCONFIG_FILE=$work/no-fonts.conf")
        fi
        started=$(now_ms)
        setsid -w timeout -k 1 20 env "${host_env[@]}" "$host" warn-release >"$work/host.out" \
            2>"$work/host.err" </dev/null
        elapsed=$(($(now_ms) - started))
        grep -qx "result=2" "$work/host.out" || fail "$setup: $(cat "$work/host.out")"
        [ ! -s "$work/host.err" ] || fail "$setup, on standard error: $(cat -v "$work/host.err")"
        [ "$elapsed" -lt 3000 ] || fail "$setup: \"not shown\" took $elapsed ms"
        [ -z "$(xdotool search --name '^Assertion Failure$' 2>/dev/null)" ] || fail "$setup: a box came up"
        on_terminal "$work/terminal.out" env "${host_env[@]}" "$host" warn-release ||
            fail "$setup: the terminal prompt did not ask or did not end: $(cat -v "$work/terminal.out")"
        grep -qx "result=0" "$work/terminal.out" || fail "$setup, on a terminal: $(cat -v "$work/terminal.out")"
        [ -z "$(xdotool search --name '^Assertion Failure$' 2>/dev/null)" ] || fail "$setup: a box came up"
        echo "$setup: not shown in $elapsed ms with no terminal; the terminal prompt on one"
    done
    host_env=()
}

# on_terminal OUTPUT COMMAND...: runs the command on a terminal of its own, answers its
# prompt ("[OK") with Enter, and saves what it wrote in OUTPUT.
on_terminal() { python3 "$(dirname "${BASH_SOURCE[0]}")/on-terminal.py" "$@"; }

no_display_case() {
    command -v setsid >/dev/null || fail "setsid (util-linux) is missing"
    unset DISPLAY
    local display prompt expected started elapsed
    # No DISPLAY, an empty one, and one naming a server that is not there.
    local unused=700
    while [ -e "/tmp/.X11-unix/X$unused" ] || [ -e "/tmp/.X$unused-lock" ]; do
        unused=$((unused + 1))
    done
    for display in unset "" ":$unused"; do
        for prompt in warn-release:2 warn-debug:1 break-release:2 warn-final:0; do
            expected=${prompt#*:}
            prompt=${prompt%:*}
            started=$(now_ms)
            if [ "$display" = unset ]; then
                env -u DISPLAY setsid -w timeout -k 1 10 "$host" "$prompt" >"$work/host.out" 2>"$work/host.err" </dev/null
            else
                env DISPLAY="$display" setsid -w timeout -k 1 10 "$host" "$prompt" >"$work/host.out" 2>"$work/host.err" </dev/null
            fi
            local status=$?
            elapsed=$(($(now_ms) - started))
            [ "$status" -eq 0 ] || fail "$prompt with DISPLAY '$display': status $status"
            grep -qx "result=$expected" "$work/host.out" ||
                fail "$prompt with DISPLAY '$display': expected $expected, got $(cat "$work/host.out")"
            [ "$elapsed" -lt 3000 ] || fail "$prompt with DISPLAY '$display' took $elapsed ms"
        done
    done
}

no_link_dependency_case() {
    local needed
    needed=$(readelf -d "$library" | grep NEEDED) || fail "readelf found no NEEDED entries"
    if grep -qiE 'libX|fontconfig|freetype|fribidi|harfbuzz' <<<"$needed"; then
        fail "the library links X or its fonts at load time: $needed"
    fi
}

# screenshot: the dialog of the host options given after OUTPUT.png (the sample text when
# none), pictured as it first appears or, after --press KEY, once the key has gone to it.
screenshot_case() {
    [ -n "$output" ] || fail "screenshot needs an output file"
    need_tools Xvfb xdotool xprop import
    start_xvfb 1920x1080
    local press=
    if [ "${1:-}" = --press ]; then
        press=$2
        shift 2
    fi
    [ $# -gt 0 ] || set -- --sample
    start_host warn-release "$@"
    find_dialog "Assertion Failure"
    # Leave the pointer off the dialog so that it is pictured as it first appears.
    xdotool mousemove 0 0
    [ -z "$press" ] || xdotool key "$press"
    snap "$output"
    xdotool key Escape
    expect_host "result=2"
    echo "saved $output (${WIDTH}x$HEIGHT dialog)"
}

# keys WM: under a window manager, key rows as in the Windows box, each a fresh box.
keys_case() {
    need_tools Xvfb xdotool xprop
    start_xvfb
    start_wm "$1"
    local row prompt keys result title
    while IFS='|' read -r prompt keys result; do
        title="Assertion Failure"
        start_host "$prompt"
        find_dialog "$title"
        # shellcheck disable=SC2086 # several keys
        xdotool key --delay 30 $keys
        expect_host "result=$result"
    done <<'ROWS'
warn-release|Right Return|2
warn-release|Right Left Return|0
warn-release|Left space|2
warn-release|Tab Tab space|0
warn-release|shift+Tab Return|2
warn-release|Down Return|2
warn-release|Down Up Return|0
warn-release|Escape|2
warn-final|Right space|1
warn-final|Escape|1
ROWS
    echo "$1: every key row answered as expected"
}

# The first row of a dialog's picture that is the band along the bottom (#E0E0E0 at its
# left edge).
band_top() { convert "$1" -crop 1x+1+0 +repage -depth 8 txt:- | awk -F'[,:]' '/#E0E0E0/ { print $2; exit }'; }

# last_line PICTURE HEIGHT OUTPUT: the left of the HEIGHT rows above the band of a picture.
last_line() {
    local top
    top=$(band_top "$1")
    [ -n "$top" ] && [ "$top" -ge "$2" ] || fail "no band in $1"
    convert "$1" -crop "240x$2+0+$((top - $2))" +repage "$3"
}

# tall WM: a detail of 380 one-letter lines gives a box that fits the screen, its buttons in
# view; End brings the closing question into view as the last line, where a box with a
# short detail shows it; Home and the wheel scroll back and forth.
tall_case() {
    need_tools Xvfb xdotool xprop import compare convert identify
    start_xvfb
    start_wm "$1"
    start_host warn-release
    find_dialog "Assertion Failure"
    snap "$work/short.png"
    xdotool key Return
    expect_host "result=0"
    start_host warn-release --short-lines 380
    find_dialog "Assertion Failure"
    local mapped
    mapped=$(mapped_ms)
    snap "$work/top.png"
    [ "$HEIGHT" -le 768 ] || fail "a ${WIDTH}x$HEIGHT box on a 1024x768 screen"
    xdotool key End
    snap "$work/end.png"
    xdotool key Home
    snap "$work/home.png"
    xdotool mousemove --window "$dialog" 40 40 click --repeat 4 5
    snap "$work/wheel.png"
    xdotool key Escape
    expect_host "result=2"
    local end_vs_short top_vs_short home_vs_top wheel_vs_top strip
    # The short box shows two lines, so half the height above its band is the last line
    # with the margin below it; the tall box's last line in view sits there too.
    strip=$(($(band_top "$work/short.png") / 2))
    last_line "$work/end.png" "$strip" "$work/end-corner.png"
    last_line "$work/top.png" "$strip" "$work/top-corner.png"
    last_line "$work/short.png" "$strip" "$work/short-corner.png"
    end_vs_short=$(pixels_differing "$work/end-corner.png" "$work/short-corner.png")
    top_vs_short=$(pixels_differing "$work/top-corner.png" "$work/short-corner.png")
    home_vs_top=$(pixels_differing "$work/home.png" "$work/top.png")
    wheel_vs_top=$(pixels_differing "$work/wheel.png" "$work/top.png")
    echo "$1: ${WIDTH}x$HEIGHT, mapped $mapped ms after the call; last line vs a short box's: at the top $top_vs_short, after End $end_vs_short pixels differ; Home vs first view $home_vs_top, wheel vs first view $wheel_vs_top"
    [ -z "${KVZ_DEBUG_PICS:-}" ] || cp "$work"/*.png "$KVZ_DEBUG_PICS"
    [ "$end_vs_short" -eq 0 ] || fail "after End the closing question is not the last line shown"
    [ "$top_vs_short" -gt 100 ] || fail "the closing question shows before scrolling"
    [ "$home_vs_top" -eq 0 ] || fail "Home did not scroll back to the top"
    [ "$wheel_vs_top" -gt 100 ] || fail "the wheel did not scroll"
    [ -z "${KVZ_X11_PICTURES:-}" ] || cp "$work"/end.png "$KVZ_X11_PICTURES/tall-end.png"
}

# paste [TARGET]: what the clipboard holds, as xclip reads it (UTF8_STRING unless a target
# is named); fails as xclip does when nothing holds it.
paste() { timeout 5 xclip -o -selection clipboard ${1:+-t "$1"}; }

# copied KEYS: presses the keys in the dialog and sets $pasted to what the clipboard then
# holds, once the box has taken it (within 5 s).
copied() {
    xdotool key "$1"
    local deadline=$(($(now_ms) + 5000))
    until pasted=$(paste 2>/dev/null); do
        [ "$(now_ms)" -lt "$deadline" ] || fail "nothing to paste after $1"
        sleep 0.05
    done
}

# copy WM: Ctrl+C and Ctrl+Insert copy the box as the Windows box does, in UTF-8 and as
# Latin-1 STRING; the text goes with the box, unless a clipboard manager runs, which then
# still serves it.
copy_case() {
    need_tools Xvfb xdotool xprop xclip
    [ -n "${KVZ_X11_KEEPER:-}" ] || fail "KVZ_X11_KEEPER (tests/x11/CMakeLists.txt) is not set"
    start_xvfb
    start_wm "$1"
    local rule=--------------------------- expected latin1 pasted started
    expected=$(printf '%s\n%s\n%s\n%s\n%s\n%s\n%s\n%s\n%s' "$rule" "Assertion Failure" "$rule" \
        "render/Mesh.cpp, line 217 : Index out of range" \
        "שלום עולם 2024 مرحبا بالعالم" \
        " Press OK to continue or CANCEL to report this error." "$rule" "OK   Cancel   " "$rule")
    latin1=$(LC_ALL=C.UTF-8 sed -e 's/[^ -~]/?/g' <<<"$expected") # each character beyond Latin-1 is a '?'
    start_host warn-release --script rtl
    find_dialog "Assertion Failure"
    copied ctrl+c
    [ "$pasted" = "$expected" ] || fail "Ctrl+C copied: $pasted"
    [ "$(paste TARGETS | sort | tr '\n' ' ')" = "STRING TARGETS TIMESTAMP UTF8_STRING " ] ||
        fail "the targets offered: $(paste TARGETS)"
    pasted=$(paste STRING)
    [ "$pasted" = "$latin1" ] || fail "STRING: $pasted"
    xdotool key Return
    expect_host "result=0"
    ! paste >/dev/null 2>&1 || fail "with no clipboard manager the text outlived the box"
    "$KVZ_X11_KEEPER" >"$work/keeper.out" 2>&1 &
    keeper_pid=$!
    local deadline=$(($(now_ms) + 5000))
    until grep -qx ready "$work/keeper.out"; do
        [ "$(now_ms)" -lt "$deadline" ] || fail "the clipboard manager did not start"
        sleep 0.05
    done
    start_host warn-release --script rtl
    find_dialog "Assertion Failure"
    copied ctrl+Insert
    [ "$pasted" = "$expected" ] || fail "Ctrl+Insert copied: $pasted"
    started=$(now_ms)
    xdotool key Escape
    expect_host "result=2"
    pasted=$(paste) || fail "the clipboard manager did not keep the text"
    [ "$pasted" = "$expected" ] || fail "the clipboard manager kept: $pasted"
    echo "$1: copied, pasted as UTF8_STRING and STRING; kept by the manager, the box closed in $(($(now_ms) - started)) ms"
}

# mapped_ms: how long after the host's call the dialog found by find_dialog was on screen.
mapped_ms() { echo $((mapped_at - $(sed -n 's/^called=//p' "$work/host.out" | head -n 1))); }

# shaping: Arabic is drawn joined, as its presentation forms are, not as its letters kept
# apart by zero-width non-joiners; Devanagari conjuncts form, unlike the letters kept
# apart. Each is pictured too without HarfBuzz and FriBidi (stand-ins first on the library
# path), and the call to the mapped window is timed with and without them.
shaping_case() {
    need_tools Xvfb xdotool xprop import compare convert identify
    [ -n "${KVZ_NO_TEXT_DIR:-}" ] || fail "KVZ_NO_TEXT_DIR (tests/x11/CMakeLists.txt) is not set"
    start_xvfb
    local script shaped=() plain=() run
    for script in arabic arabic-forms arabic-apart devanagari devanagari-apart mixed; do
        host_env=()
        shoot "$work/$script.png" Return 0 --script "$script"
        shaped+=("$(mapped_ms)")
        host_env=("LD_LIBRARY_PATH=$KVZ_NO_TEXT_DIR")
        shoot "$work/$script-plain.png" Return 0 --script "$script"
        plain+=("$(mapped_ms)")
        host_env=()
    done
    local forms apart unjoined_apart conjunct unshaped
    forms=$(pixels_differing "$work/arabic.png" "$work/arabic-forms.png")
    apart=$(pixels_differing "$work/arabic.png" "$work/arabic-apart.png")
    unjoined_apart=$(pixels_differing "$work/arabic-plain.png" "$work/arabic-apart-plain.png")
    conjunct=$(pixels_differing "$work/devanagari.png" "$work/devanagari-apart.png")
    unshaped=$(pixels_differing "$work/devanagari-plain.png" "$work/devanagari-apart-plain.png")
    echo "Arabic shaped vs its presentation forms: $forms pixels differ, vs its letters apart: $apart"
    echo "Arabic without HarfBuzz vs its letters apart (both unshaped): $unjoined_apart pixels differ"
    echo "Devanagari shaped vs its letters apart: $conjunct pixels differ; without HarfBuzz: $unshaped"
    echo "call to mapped window, ms, with HarfBuzz and FriBidi: ${shaped[*]}; without: ${plain[*]}"
    # 1000000: the pictures' sizes differ, which says nothing of the text.
    [ "$apart" -gt 100 ] && [ "$apart" -lt 1000000 ] && [ $((forms * 4)) -lt "$apart" ] ||
        fail "Arabic is not drawn joined ($forms pixels from its forms, $apart from its letters apart)"
    [ "$conjunct" -gt 50 ] && [ "$conjunct" -lt 1000000 ] ||
        fail "the Devanagari conjuncts did not form ($conjunct pixels differ)"
    [ -z "${KVZ_X11_PICTURES:-}" ] || cp "$work"/*.png "$KVZ_X11_PICTURES"
}

# A server that admits only the holder of its cookie (-auth): the box comes up where
# XAUTHORITY names the cookie (the probe sends it, as Xlib does) and is answered; with no
# cookie the server refuses, and the prompt answers "not shown" with nothing on the
# host's standard error (Xlib would print the server's reason there).
authority_case() {
    need_tools Xvfb xdotool xprop xauth mcookie
    local cookie
    cookie=$(mcookie)
    xauth -q -f "$work/server.auth" add :0 . "$cookie" 2>/dev/null || fail "xauth cannot write the server's file"
    xvfb_options=(-auth "$work/server.auth")
    start_xvfb
    xauth -q -f "$work/client.auth" add "$DISPLAY" . "$cookie" 2>/dev/null || fail "xauth cannot write the cookie"
    export XAUTHORITY=$work/client.auth
    start_host warn-final
    find_dialog "Assertion Failure"
    answer enter
    expect_host "result=1"
    export XAUTHORITY=$work/none
    setsid -w timeout -k 1 20 "$host" warn-final >"$work/host.out" 2>"$work/host.err" </dev/null
    grep -qx "result=0" "$work/host.out" || fail "without the cookie: $(cat "$work/host.out")"
    [ ! -s "$work/host.err" ] || fail "without the cookie, on standard error: $(cat -v "$work/host.err")"
}

case $case_name in
authority) authority_case ;;
release.enter) dialog_case warn-release "Assertion Failure" enter 0 ;;
release.escape) dialog_case warn-release "Assertion Failure" escape 2 ;;
release.click_ok) dialog_case warn-release "Assertion Failure" click_ok 0 ;;
release.click_cancel) dialog_case warn-release "Assertion Failure" click_cancel 2 ;;
release.destroy) dialog_case warn-release "Assertion Failure" destroy 2 ;;
release.delete) dialog_case warn-release "Assertion Failure" delete 2 ;;
release.client_killed) dialog_case warn-release "Assertion Failure" client_killed 2 ;;
release.server_killed)
    dialog_case warn-release "Assertion Failure" server_killed 2 --own-handlers
    grep -qx "handlers=kept" "$work/host.out" || fail "the host's X error handlers were not put back"
    ;;
release.handlers_kept)
    dialog_case warn-release "Assertion Failure" click_ok 0 --own-handlers
    grep -qx "handlers=kept" "$work/host.out" || fail "the host's X error handlers were not put back"
    ;;
debug.escape) dialog_case warn-debug "Assertion Failure" escape 1 ;;
break.enter) dialog_case break-release "Debug Breakpoint" enter 0 ;;
break.click_cancel) dialog_case break-release "Debug Breakpoint" click_cancel 2 ;;
final.enter) dialog_case warn-final "Assertion Failure" enter 1 ;;
final.escape) dialog_case warn-final "Assertion Failure" escape 1 ;;
final.click_ok) dialog_case warn-final "Assertion Failure" click_ok 1 ;;
final.destroy) dialog_case warn-final "Assertion Failure" destroy 1 ;;
final.delete) dialog_case warn-final "Assertion Failure" delete 1 ;;
final.server_killed) dialog_case warn-final "Assertion Failure" server_killed 1 ;;
release.server_stopped) dialog_case warn-release "Assertion Failure" server_stopped 2 ;;
release.tab_enter) dialog_case warn-release "Assertion Failure" tab_enter 2 ;;
release.two_threads) two_threads_case ;;
release.ten_threads) ten_threads_case ;;
release.bare_server) bare_server_case 24 1 ;;
release.bare_server_ten) bare_server_case 6 10 ;;
fallback.stopped | fallback.silent | fallback.grab_input | fallback.grab_server) fallback_case "${case_name#fallback.}" ;;
layout) layout_case ;;
scripts) scripts_case ;;
no_fonts) no_fonts_case ;;
no_display) no_display_case ;;
no_link_dependency) no_link_dependency_case ;;
screenshot) screenshot_case "${@:6}" ;;
keys@openbox | keys@icewm) keys_case "${case_name#keys@}" ;;
tall@openbox | tall@icewm) tall_case "${case_name#tall@}" ;;
copy@openbox | copy@icewm) copy_case "${case_name#copy@}" ;;
shaping) shaping_case ;;
*) fail "unknown case $case_name" ;;
esac
echo "PASS: $case_name"
