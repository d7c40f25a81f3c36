#!/usr/bin/env bash
# Drives the Wayland message box from outside the host process, on a compositor of its own.
#
#   wayland-box.sh HOST OWN_HOST CASE [OUTPUT.png SCALE]
#
# HOST is kvz_x11_host (it only calls the library's prompts), OWN_HOST kvz_wl_own_host.
# Each case starts sway headless (or weston), runs the host as the compositor's user in a
# session of its own, with no terminal and no DISPLAY, finds the box in sway's tree,
# answers it (wtype's keys, clicks of a virtual pointer, the compositor stopped or gone)
# and checks what the prompt returned. KVZ_WL_POINTER_KEEPER names the pointer keeper.
# Where a tool is missing, prints "NOT RUN: ..." and exits 77 (skipped).
#
# The case "screenshot" saves the box at the scale given to OUTPUT.png (the pictures in
# docs/ are made with it). The case "figure" is not a test: it times what the host sees
# with no box to answer, the figure before and after the box.
set -u
here=$(dirname "$0")
# shellcheck source=compositor.sh
. "$here/compositor.sh"

if [ $# -lt 3 ]; then
    echo "usage: $0 HOST OWN_HOST CASE [OUTPUT.png SCALE]" >&2
    exit 64
fi
host=$1
own_host=$2
case_name=$3

need_tools sway swaymsg grim wtype weston convert compare identify python3 setpriv

# start_host PROGRAM ARGS...: the host as the compositor's user, in a session of its own
# (so with no terminal; $host_pid leads its process group), stdin /dev/null, with no
# DISPLAY (user_exec); output in host.out and host.err (or the file $host_stderr names).
start_host() {
    user_exec setsid timeout -k 2 60 "$@" >"$work/host.out" 2>"$work/${host_stderr:-host.err}" </dev/null &
    host_pid=$!
}

# Waits for the host to end (at most 10 s) and checks its output holds each line given,
# that no prompt changed errno and that nothing went to its standard error.
expect_host() {
    local deadline=$(($(now_ms) + 10000))
    while kill -0 "$host_pid" 2>/dev/null; do
        [ "$(now_ms)" -lt "$deadline" ] || fail "the host is still waiting 10 s after the answer"
        sleep 0.02
    done
    wait "$host_pid"
    local status=$?
    host_pid=
    ended_at=$(now_ms)
    [ "$status" -eq 0 ] || fail "the host ended with status $status: $(cat "$work/host.out")"
    ! grep -q '^errno=' "$work/host.out" || fail "a prompt changed errno: $(cat "$work/host.out")"
    [ ! -s "$work/host.err" ] || fail "on the host's standard error: $(cat -v "$work/host.err")"
    local line
    for line in "$@"; do
        grep -qx "$line" "$work/host.out" || fail "expected '$line', the host printed: $(cat "$work/host.out")"
    done
}

called_at() { sed -n 's/^called=//p' "$work/host.out" | head -n 1; }

title_of() { if [ "$1" = break-release ]; then echo "Debug Breakpoint"; else echo "Assertion Failure"; fi; }

# find_box PROMPT: waits for the prompt's box, checks that sway floats it (a fixed size,
# not the whole output), and pictures it once drawn into $work/box.png, with the pointer
# (which headless sway draws into the picture) in the output's corner.
find_box() {
    find_window "$(title_of "$1")"
    [ "$W" -lt "$output_width" ] && [ "$H" -lt "$output_height" ] ||
        fail "the box fills the output (${W}x$H): not floated"
    pointer "move 0 0 $output_width $output_height"
    snap "$work/box.png" "$X" "$Y" "$W" "$H"
}

# press_button N: clicks the Nth button (1 = the leftmost) of the box pictured by find_box.
press_button() {
    local wide left right row
    wide=$(identify -format '%w' "$work/box.png")
    read -r left right row < <("$python" "$here/picture.py" buttons "$work/box.png" | sed -n "${1}p")
    [ -n "${row:-}" ] || fail "no button $1 on the box: $("$python" "$here/picture.py" buttons "$work/box.png")"
    # Picture pixels to logical ones: the picture of the box is $wide pixels for W.
    click $((X + (left + right) * W / (2 * wide))) $((Y + row * W / wide))
}

# press_close: clicks the middle of the square at the right end of the caption band, where
# the box draws its close control.
press_close() {
    local wide band
    wide=$(identify -format '%w' "$work/box.png")
    band=$("$python" "$here/picture.py" caption "$work/box.png")
    [ "$band" -ge 10 ] && [ "$band" -lt "$(identify -format '%[fx:floor(h/3)]' "$work/box.png")" ] ||
        fail "no caption band on the box (band of $band rows)"
    click $((X + (2 * wide - band) * W / (2 * wide))) $((Y + band * W / (2 * wide)))
}

# answer ACTION: keys (wtype names), "click:N" (the Nth button from the left) or
# "click:close" (the caption band's close control).
answer() {
    case $1 in
    click:close) press_close ;;
    click:*) press_button "${1#click:}" ;;
    *)
        # shellcheck disable=SC2086 # several keys
        key $1
        ;;
    esac
}

# The table of answers: prompt, how it is answered, what it returns. Cancel is the
# second button, OK the first.
answers_table() {
    cat <<'ROWS'
warn-release|Return|0
warn-release|Escape|2
warn-release|Tab Return|2
warn-release|Right space|2
warn-release|click:1|0
warn-release|click:2|2
warn-release|click:close|2
warn-debug|Escape|1
warn-debug|click:1|0
warn-debug|click:2|1
break-release|Return|0
break-release|click:2|2
warn-final|Return|1
warn-final|Escape|1
warn-final|click:1|1
warn-final|click:close|1
ROWS
}

# answers KIND: each row of the table whose answer is of that kind (keys or clicks), each
# a fresh host on one sway; prints how long each box took from the call to its picture.
answers_case() {
    start_sway 1
    local prompt action result buttons times=()
    while IFS='|' read -r prompt action result; do
        case $1:$action in keys:click:* | clicks:[!c]*) continue ;; esac
        start_host "$host" "$prompt" --check-process
        find_box "$prompt"
        times+=("$((found_at - $(called_at)))")
        buttons=$("$python" "$here/picture.py" buttons "$work/box.png" | wc -l)
        if [ "$prompt" = warn-final ]; then
            [ "$buttons" -eq 1 ] || fail "an OK-only box shows $buttons buttons"
        else
            [ "$buttons" -eq 2 ] || fail "an OK/Cancel box shows $buttons buttons"
        fi
        answer "$action"
        expect_host "result=$result" "process=kept" # the locale and the signals as they were
    done < <(answers_table)
    echo "every row answered as expected; call to box in the tree, ms: ${times[*]}"
}

# Ten prompts at once on ten threads: the box in focus is answered, five with Return and
# five with Escape, until all ten have.
threads_case() {
    start_sway 1
    start_host "$host" warn-release --threads 10
    local deadline=$(($(now_ms) + 20000)) answered=0 count
    until [ "$(windows "Assertion Failure" | wc -l)" -ge 10 ]; do
        [ "$(now_ms)" -lt "$deadline" ] ||
            fail "ten boxes did not come up within 20 s ($(windows "Assertion Failure" | wc -l) did)"
        sleep 0.05
    done
    while [ "$answered" -lt 10 ]; do
        count=$(windows "Assertion Failure" | awk '$5 == 1' | wc -l)
        if [ "$count" -eq 0 ]; then
            [ "$(now_ms)" -lt "$deadline" ] || fail "no box in focus after $answered answers"
            sleep 0.05
            continue
        fi
        if [ "$answered" -lt 5 ]; then key Return; else key Escape; fi
        answered=$((answered + 1))
        until [ "$(grep -c '^result=' "$work/host.out")" -ge "$answered" ]; do
            [ "$(now_ms)" -lt "$deadline" ] || fail "no result for answer $answered"
            sleep 0.02
        done
    done
    expect_host
    [ "$(grep -cx 'result=0' "$work/host.out")" -eq 5 ] && [ "$(grep -cx 'result=2' "$work/host.out")" -eq 5 ] ||
        fail "expected five 0s and five 2s, the host printed: $(cat "$work/host.out")"
    echo "ten boxes up at once, each answered"
}

# gone HOW: the compositor stopped (SIGSTOP) or ended (SIGTERM) with a box up: the prompt
# ends as closed, within the host's wait.
gone_case() {
    local prompt result started
    for prompt in warn-release:2 warn-final:1; do
        result=${prompt#*:} prompt=${prompt%:*}
        start_sway 1
        start_host "$host" "$prompt"
        find_box "$prompt"
        started=$(now_ms)
        if [ "$1" = stopped ]; then kill -STOP "$compositor_pid"; else kill -TERM "$compositor_pid"; fi
        expect_host "result=$result"
        echo "$prompt: compositor $1, the prompt returned $result after $((ended_at - started)) ms"
        stop_compositor KILL
    done
}

# magnified PICTURE FILTER SCALE OUTPUT: a 1x picture magnified as a compositor shows a
# buffer of scale 1 on a scaled output, by repeating pixels (point) or smoothed (triangle).
magnified() { convert "$1" -filter "$2" -resize "$(awk -v s="$3" 'BEGIN { print s * 100 }')%" "$4"; }

# sharp SCALE PICTURE: whether the picture's text is drawn at that scale, measured against
# the box at scale 1 ($hard_1 hard edges): more than 0.6 times SCALE times the 1x hard
# edges (a smoothed magnification blurs them away) and, at 2, 2x2 blocks that are not mostly
# one repeated pixel (as a magnification by repeating pixels gives).
sharp() {
    local hard uniform
    read -r hard uniform < <("$python" "$here/picture.py" edges "$2")
    awk -v h="$hard" -v one="$hard_1" -v s="$1" -v u="$uniform" \
        'BEGIN { exit !(h > 0.6 * s * one && (s != 2 || u < 0.8)) }'
}

# scales: at output scales 1.5 and 2 the box is about that many times the size, in pixels,
# of the box at 1, and its text is sharp, where the box at 1 magnified (both ways) is not:
# the same measure rejects those, so it is one that can tell.
scales_case() {
    local scale w h base_w base_h ratio filter
    for scale in 1 1.5 2; do
        start_sway "$scale"
        start_host "$host" warn-release --sample
        find_box warn-release
        cp "$work/box.png" "$work/box-$scale.png"
        key Escape
        expect_host "result=2"
        stop_compositor TERM
        read -r w h < <(identify -format '%w %h' "$work/box-$scale.png")
        echo "scale $scale: ${w}x$h pixels; hard edges, uniform 2x2 blocks: $("$python" "$here/picture.py" edges "$work/box-$scale.png")"
        if [ "$scale" = 1 ]; then
            base_w=$w base_h=$h
            read -r hard_1 _ < <("$python" "$here/picture.py" edges "$work/box-1.png")
            continue
        fi
        ratio=$(awk -v a="$w" -v b="$base_w" -v c="$h" -v d="$base_h" 'BEGIN { printf "%.3f %.3f", a / b, c / d }')
        awk -v r="$ratio" -v s="$scale" 'BEGIN { split(r, x, " "); exit !(x[1] > s * 0.93 && x[1] < s * 1.07 && x[2] > s * 0.93 && x[2] < s * 1.07) }' ||
            fail "at scale $scale the box is $ratio times as wide and high as at 1"
        for filter in point triangle; do
            magnified "$work/box-1.png" "$filter" "$scale" "$work/$filter-$scale.png"
            echo "  scale 1 magnified ($filter): $("$python" "$here/picture.py" edges "$work/$filter-$scale.png")"
        done
        sharp "$scale" "$work/box-$scale.png" || fail "at scale $scale the text is not drawn sharp"
        # At 1.5 a magnification by repeating pixels keeps its hard edges: only at 2 can the
        # measure tell it.
        ! sharp "$scale" "$work/triangle-$scale.png" || fail "the measure passes a smoothed magnification"
        [ "$scale" != 2 ] || ! sharp "$scale" "$work/point-$scale.png" ||
            fail "the measure passes a magnification by repeating pixels"
    done
    [ -z "${KVZ_WL_PICTURES:-}" ] || cp "$work"/box-*.png "$KVZ_WL_PICTURES"
}

# pointer: a drag on the caption band moves the box by as much as the pointer moved; the
# wheel scrolls a tall text (the picture changes) and the box still answers Return. The
# pointer moves on once the box has asked sway to move it (libwayland's WAYLAND_DEBUG shows
# the request), as a person's hand is slower than that: sway starts no move for a button
# already released.
pointer_case() {
    start_sway 1
    host_stderr=debug.log start_host env WAYLAND_DEBUG=client "$host" warn-release --short-lines 380
    find_box warn-release
    local x0=$X y0=$Y band wide
    wide=$(identify -format '%w' "$work/box.png")
    band=$("$python" "$here/picture.py" caption "$work/box.png")
    pointer "move $((X + 20)) $((Y + band / 2)) $output_width $output_height" "press 272"
    wait_for "move request from the box" 5000 grep -q 'xdg_toplevel@[0-9]*\.move(' "$work/debug.log"
    as_user swaymsg -t get_version >/dev/null # sway has read the request by its answer
    pointer "move $((X + 120)) $((Y + band / 2 + 60)) $output_width $output_height" "release 272"
    local deadline=$(($(now_ms) + 5000))
    for (( ; ; )); do
        find_window "Assertion Failure"
        [ "$X" -eq $((x0 + 100)) ] && [ "$Y" -eq $((y0 + 60)) ] && break
        [ "$(now_ms)" -lt "$deadline" ] || fail "the drag moved the box from $x0,$y0 to $X,$Y, not by 100,60"
        sleep 0.05
    done
    # The pointer rests over the text before either picture, so that only the wheel differs.
    pointer "move $((X + W / 2)) $((Y + H / 2)) $output_width $output_height"
    snap "$work/top.png" "$X" "$Y" "$W" "$H"
    pointer "axis 0 60"
    snap "$work/wheel.png" "$X" "$Y" "$W" "$H"
    local scrolled
    scrolled=$(compare -metric AE "$work/top.png" "$work/wheel.png" null: 2>&1 | cut -d' ' -f1)
    [ "$scrolled" -gt 100 ] || fail "the wheel did not scroll ($scrolled pixels changed)"
    key Return
    expect_host "result=0"
    echo "dragged by 100,60 to $X,$Y; the wheel changed $scrolled pixels; the box of $wide pixels answered"
}

# copy: Ctrl+C puts the box's copy text (as the X11 box copies it) on the clipboard, read
# back with wl-paste, even after a paster closed its pipe unread; the text goes with the box.
copy_case() {
    need_tools wl-paste
    start_sway 1
    local rule=--------------------------- expected pasted types deadline
    expected=$(printf '%s\n%s\n%s\n%s\n%s\n%s\n%s\n%s\n%s' "$rule" "Assertion Failure" "$rule" \
        "render/Mesh.cpp, line 217 : Index out of range" \
        "שלום עולם 2024 مرحبا بالعالم" \
        " Press OK to continue or CANCEL to report this error." "$rule" "OK   Cancel   " "$rule")
    start_host "$host" warn-release --script rtl
    find_box warn-release
    key ctrl+c
    deadline=$(($(now_ms) + 5000))
    until pasted=$(as_user timeout 5 wl-paste -n -t 'text/plain;charset=utf-8' 2>/dev/null); do
        [ "$(now_ms)" -lt "$deadline" ] || fail "nothing to paste after Ctrl+C"
        sleep 0.05
    done
    [ "$pasted" = "$expected" ] || fail "Ctrl+C copied: $pasted"
    types=$(as_user timeout 5 wl-paste -l | sort | tr '\n' ' ')
    # A paster that closes its pipe unread: the box writes into it, and lives on to serve
    # the next paste and to answer.
    [ -n "${KVZ_WL_CLOSED_PASTE:-}" ] || fail "KVZ_WL_CLOSED_PASTE (tests/wayland/CMakeLists.txt) is not set"
    [ "$(as_user timeout 10 "$KVZ_WL_CLOSED_PASTE")" = closed ] || fail "the closed paste did not happen"
    pasted=$(as_user timeout 5 wl-paste -n -t 'text/plain;charset=utf-8') ||
        fail "no paste after a paster closed its pipe"
    [ "$pasted" = "$expected" ] || fail "after a paster closed its pipe: $pasted"
    key Return
    expect_host "result=0"
    ! as_user timeout 5 wl-paste -n >/dev/null 2>&1 || fail "the text outlived the box"
    echo "copied and pasted; offered as: $types"
}

# A host with a Wayland connection of its own, on its main thread, while a prompt is up on
# another: after the answer its connection still makes a round trip.
own_connection_case() {
    start_sway 1
    start_host "$own_host"
    find_box warn-release
    key Return
    expect_host "result=0" "roundtrip=ok"
}

# Weston's headless backend offers an output and no seat: nobody could answer a box, so
# the prompt goes on to the next kind, and with no DISPLAY and no terminal answers at once,
# "not shown" (_WarnFinal's 0).
weston_no_seat_case() {
    start_weston_headless
    local started
    started=$(now_ms)
    start_host "$host" warn-final
    expect_host "result=0"
    echo "weston with no seat: not shown, after $((ended_at - started)) ms"
    [ $((ended_at - started)) -lt 3000 ] || fail "it took $((ended_at - started)) ms"
}

# Whether weston has drawn its background (compositor.sh's colour) across the screen; the
# picture is kept in desktop.png.
desktop_drawn() {
    import -window root "$work/desktop.png" 2>/dev/null &&
        [ "$(convert "$work/desktop.png" -format '%[hex:p{512,384}]' info:)" = 204060 ]
}

pixels_differing() { compare -metric AE -fuzz 10% "$1" "$2" null: 2>&1 | cut -d' ' -f1; }

# Weston with a seat (on an Xvfb of its own; weston draws no decorations for a client):
# the box comes up, drawn with its caption band, and answers Return. Its picture is what
# differs from the empty desktop.
weston_case() {
    start_weston_nested
    # Weston's X window takes the keys while the pointer is over it; the pointer rests in
    # a corner, off the desktop's middle and the box.
    xdotool mousemove 1 1 || fail "xdotool failed"
    wait_for "weston's desktop drawn on the Xvfb" 10000 desktop_drawn
    start_host "$host" warn-release
    local deadline=$(($(now_ms) + 10000)) changed=0
    while [ "$changed" -lt 5000 ]; do
        kill -0 "$host_pid" 2>/dev/null || fail "the host ended with no box"
        [ "$(now_ms)" -lt "$deadline" ] || fail "no box on weston within 10 s"
        sleep 0.1
        import -window root "$work/screen.png" 2>/dev/null || continue
        changed=$(pixels_differing "$work/desktop.png" "$work/screen.png")
    done
    local up=$(($(now_ms) - $(called_at))) region band buttons
    # The box is what changed: its own caption band on top, its two buttons below.
    region=$(convert "$work/desktop.png" "$work/screen.png" -compose difference -composite \
        -fuzz 10% -trim -format '%wx%h%O' info:)
    convert "$work/screen.png" -crop "$region" +repage "$work/box.png" || fail "cannot crop $region"
    band=$("$python" "$here/picture.py" caption "$work/box.png")
    buttons=$("$python" "$here/picture.py" buttons "$work/box.png" | wc -l)
    echo "weston: a box of $region with a caption band of $band rows and $buttons buttons, up $up ms after the call"
    [ "$band" -ge 10 ] && [ "$band" -lt "$(identify -format '%[fx:floor(h/3)]' "$work/box.png")" ] ||
        fail "no caption band on the box on weston"
    [ "$buttons" -eq 2 ] || fail "the box on weston shows $buttons buttons"
    xdotool key Return || fail "xdotool failed"
    expect_host "result=0"
}

# harness: the tools themselves, with stock clients: a window shows in grim's picture,
# wtype's keys and the virtual pointer's clicks reach it on sway.
harness_case() {
    start_sway 1
    start_host stdbuf -oL weston-eventdemo --log-key --log-button
    find_window EventDemo
    snap "$work/demo.png" "$X" "$Y" "$W" "$H"
    local colours
    colours=$(convert "$work/demo.png" -format %k info:)
    [ "$colours" -gt 20 ] || fail "the stock client's window is not in the picture ($colours colours)"
    key Return Escape
    click $((X + W / 2)) $((Y + H / 2))
    wait_for "keys and a click at the stock client" 5000 \
        grep -q 'button: 272, state: released' "$work/host.out"
    grep -q 'unicode: 65293, state: pressed' "$work/host.out" || fail "Return did not arrive"
    grep -q 'unicode: 65307, state: pressed' "$work/host.out" || fail "Escape did not arrive"
    echo "sway: a ${W}x$H window of $colours colours pictured; keys and a click arrived"
}

# screenshot OUTPUT SCALE: the box with the sample text at that output scale, as first
# shown.
screenshot_case() {
    [ $# -eq 2 ] || fail "screenshot needs an output file and a scale"
    start_sway "$2"
    start_host "$host" warn-release --sample
    find_box warn-release
    cp "$work/box.png" "$1"
    key Escape
    expect_host "result=2"
    echo "saved $1 ($(identify -format %wx%h "$1") pixels, scale $2)"
}

# figure: what a host with no terminal and no DISPLAY sees under sway when it calls
# _WarnRelease and nobody answers for 5 s: either the prompt returns by itself (no box;
# its result and time), or a box is drawn (the time from the call), then answered.
figure_case() {
    start_sway 1
    start_host "$host" warn-release
    local deadline=$(($(now_ms) + 5000)) line
    while kill -0 "$host_pid" 2>/dev/null && [ "$(now_ms)" -lt "$deadline" ]; do
        line=$(windows "Assertion Failure" | head -n 1)
        [ -z "$line" ] || break
        sleep 0.01
    done
    if [ -n "$line" ]; then
        find_box warn-release
        echo "figure: a box, in sway's tree $((found_at - $(called_at))) ms after the call"
        key Return
        expect_host "result=0"
    elif ! kill -0 "$host_pid" 2>/dev/null; then
        expect_host
        echo "figure: no box; the prompt returned $(sed -n 's/^result=//p' "$work/host.out") $(($(sed -n 's/^returned=//p' "$work/host.out") - $(called_at))) ms after the call"
    else
        fail "neither a box nor a result within 5 s"
    fi
}

case $case_name in
harness) harness_case ;;
keys | clicks) answers_case "$case_name" ;;
threads) threads_case ;;
stopped | exited) gone_case "$case_name" ;;
scales) scales_case ;;
own_connection) own_connection_case ;;
pointer) pointer_case ;;
copy) copy_case ;;
weston.no_seat) weston_no_seat_case ;;
weston.enter) weston_case ;;
screenshot) screenshot_case "${@:4}" ;;
figure) figure_case ;;
*) fail "unknown case $case_name" ;;
esac
echo "PASS: $case_name"
