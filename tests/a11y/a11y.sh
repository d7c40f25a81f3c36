#!/usr/bin/env bash
# The X11 box as assistive technology sees it, on an Xvfb of its own with a session bus,
# at-spi2-core's bus launcher and its registry.
#
#   a11y.sh HOST CASE
#
# HOST is kvz_x11_host. Cases:
#   client   the launcher's bus found through the root window's AT_SPI_BUS: a pyatspi client
#            (a11y-client.py) finds the box by its caption, reads it, sees the focus move on
#            Tab and presses OK through Action; the prompt returns 0
#   session  the same with the root property gone: the box asks org.a11y.Bus on the session bus
#   frozen   the accessibility bus stopped with SIGSTOP: the box comes up and answers Return
#            at once, and lets the bus go within its deadline
#   no_bus   no session bus and no property: the box answers Return at once, with no
#            connection beyond its display's
#   orca     Orca, its speech sent by speech-dispatcher to a file (as text, its sound to an
#            ALSA file): it says the caption, the text and "OK push button" once the box is
#            up, and "Cancel push button" after Tab; Return then answers Cancel
#   figure   not a test: the time from the call to the box on the screen and from Return to
#            the answer, five boxes each with no bus, a live one and a stopped one
# Prints "NOT RUN: the accessibility tests, <reason>" and exits 77 where a tool is missing.
set -u

host=$1
case_name=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
pids=()

cleanup() {
    local pid
    for pid in "${pids[@]}"; do
        kill -CONT "$pid" 2>/dev/null
        kill -TERM "$pid" 2>/dev/null
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null
    done
    # speech-dispatcher, which Orca started, has a pid file in the runtime folder.
    local speech=${XDG_RUNTIME_DIR:-/nonexistent}/speech-dispatcher/pid/speech-dispatcher.pid
    if [ -s "$speech" ]; then
        kill -TERM "$(cat "$speech")" 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    for log in "$work"/*.log "$work"/host.out; do
        [ -s "$log" ] && { echo "--- $log" >&2; tail -n 30 "$log" >&2; }
    done
    exit 1
}

now_ms() { date +%s%3N; }

for tool in Xvfb xdotool xprop dbus-daemon /usr/libexec/at-spi-bus-launcher /usr/bin/python3; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "NOT RUN: the accessibility tests, $tool is missing"
        exit 77
    fi
done
if ! /usr/bin/python3 -c 'import pyatspi' 2>/dev/null; then
    echo "NOT RUN: the accessibility tests, python3-pyatspi is missing"
    exit 77
fi

# Xvfb keeps the root window's properties when its last client goes (-noreset).
start_xvfb() {
    exec 3>"$work/display"
    Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 1024x768x24 >"$work/xvfb.log" 2>&1 &
    pids+=($!)
    exec 3>&-
    local deadline=$(($(now_ms) + 10000))
    until [ -s "$work/display" ]; do
        [ "$(now_ms)" -lt "$deadline" ] || fail "Xvfb gave no display number"
        sleep 0.05
    done
    export DISPLAY=:$(head -n 1 "$work/display")
}

start_buses() {
    mkdir -m 700 "$work/run"
    export XDG_RUNTIME_DIR=$work/run
    dbus-daemon --session --fork --print-address=4 --print-pid=5 4>"$work/address" \
        5>"$work/daemon.pid" || fail "no session bus"
    pids+=($(cat "$work/daemon.pid"))
    export DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$work/address")
    /usr/libexec/at-spi-bus-launcher --launch-immediately >"$work/launcher.log" 2>&1 &
    launcher=$!
    pids+=($launcher)
    local deadline=$(($(now_ms) + 10000))
    until xprop -root AT_SPI_BUS 2>/dev/null | grep -q unix:; do
        [ "$(now_ms)" -lt "$deadline" ] || fail "the launcher set no AT_SPI_BUS"
        sleep 0.05
    done
}

run_host() {
    "$host" warn-release >"$work/host.out" 2>"$work/host.log" &
    host_pid=$!
    pids+=($host_pid)
}

# spoken TEXT MS: waits until the speech file has a line holding the text.
spoken() {
    local deadline=$(($(now_ms) + $2))
    until grep -qF "$1" "$work/spoken.txt" 2>/dev/null; do
        [ "$(now_ms)" -lt "$deadline" ] || fail "Orca did not say '$1' within $2 ms"
        sleep 0.05
    done
}

# Orca with speech-dispatcher's generic module writing each text it is given to
# $work/spoken.txt, in a home of its own.
start_orca() {
    export HOME=$work/home
    local config=$HOME/.config/speech-dispatcher
    mkdir -p "$config/modules"
    printf '%s\n' 'AddModule "tofile" "sd_generic" "tofile.conf"' 'DefaultModule tofile' \
        'LanguageDefaultModule "en" "tofile"' 'AudioOutputMethod "alsa"' >"$config/speechd.conf"
    cat >"$config/modules/tofile.conf" <<CONFIG
GenericExecuteSynth "printf '%s\\\\n' \\'\$DATA\\' >> $work/spoken.txt"
GenericCmdDependency "printf"
AddVoice "en" "MALE1" "plain"
DefaultVoice "plain"
GenericLanguage "en" "english" "utf-8"
CONFIG
    printf 'pcm.!default { type file slave.pcm "null" file "%s" format "raw" }\n' \
        "$work/speech.raw" >"$HOME/.asoundrc"
    /usr/bin/python3 /usr/bin/orca --replace --debug-file="$work/orca.log" >"$work/orca.out" 2>&1 &
    pids+=($!)
    spoken "Screen reader on" 20000
}

wait_window() {
    local deadline=$(($(now_ms) + 10000))
    until xdotool search --onlyvisible --name '^Assertion Failure$' >/dev/null 2>&1; do
        [ "$(now_ms)" -lt "$deadline" ] || fail "no box within 10 s"
        sleep 0.02
    done
}

wait_result() { # $1: the result wanted; $2: milliseconds it may take
    local deadline=$(($(now_ms) + $2))
    until grep -q '^result=' "$work/host.out"; do
        [ "$(now_ms)" -lt "$deadline" ] || fail "no result within $2 ms"
        sleep 0.01
    done
    grep -qx "result=$1" "$work/host.out" || fail "the prompt returned $(grep result= "$work/host.out")"
    # The host ends well, and nothing (libdbus's warnings above all) went to its stderr.
    wait "$host_pid" || fail "the host ended with status $?"
    # (A sanitizer build's summary of the suppressions it used is not the library's.)
    local said
    said=$(grep -v -e '^-*$' -e '^Suppressions used:' -e '^ *count *bytes template' \
        -e '^ *[0-9]\+ \+[0-9]\+ [^ ]\+$' "$work/host.log")
    [ -z "$said" ] || fail "on the host's standard error: $(head -c 2000 "$work/host.log")"
}

sockets() { # the host's open sockets
    ls -l /proc/"$host_pid"/fd 2>/dev/null | grep -c 'socket:'
}

case "$case_name" in
client | session)
    start_xvfb
    start_buses
    [ "$case_name" = session ] && xprop -root -remove AT_SPI_BUS
    /usr/bin/python3 "$here/a11y-client.py" "Assertion Failure" "render/Mesh.cpp, line 217" \
        >"$work/client.log" 2>&1 &
    client=$!
    pids+=($client)
    deadline=$(($(now_ms) + 10000))
    until grep -q ready "$work/client.log"; do
        [ "$(now_ms)" -lt "$deadline" ] || fail "the client did not start"
        sleep 0.05
    done
    run_host
    wait "$client" || fail "the client failed"
    wait_result 0 3000
    called=$(sed -n 's/^called=//p' "$work/host.out")
    found=$(sed -n 's/^found=//p' "$work/client.log")
    echo "in the tree $((found - called)) ms after the call"
    grep '^event' "$work/client.log"
    ;;
frozen)
    start_xvfb
    start_buses
    bus=$(pgrep -P "$launcher" dbus-daemon) || fail "the launcher's bus is not running"
    kill -STOP "$bus"
    # Answered at once.
    run_host
    wait_window
    pressed=$(now_ms)
    xdotool key Return
    wait_result 0 1000
    echo "Return answered in $(($(now_ms) - pressed)) ms on a stopped bus"
    # Left up: the bus is let go at the deadline, the box still answers.
    run_host
    wait_window
    # While up: the display's, and towards the bus our own connection, libdbus's to the
    # box's relay and the relay's end of it.
    up=$(sockets)
    sleep 2
    later=$(sockets)
    [ "$up" -eq 4 ] && [ "$later" -eq 1 ] || fail "sockets: $up while up, $later after 2 s"
    pressed=$(now_ms)
    xdotool key Return
    wait_result 0 1000
    echo "sockets: $up while up, $later after 2 s; Return then answered in $(($(now_ms) - pressed)) ms"
    ;;
no_bus)
    unset DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS
    start_xvfb
    run_host
    wait_window
    [ "$(sockets)" -eq 1 ] || fail "$(sockets) sockets open without a bus"
    pressed=$(now_ms)
    xdotool key Return
    wait_result 0 1000
    echo "Return answered in $(($(now_ms) - pressed)) ms without a bus"
    ;;
orca)
    for tool in /usr/bin/orca speech-dispatcher /usr/lib/speech-dispatcher-modules/sd_generic; do
        if ! command -v "$tool" >/dev/null 2>&1; then
            echo "NOT RUN: the accessibility tests, $tool is missing (orca, speech-dispatcher)"
            exit 77
        fi
    done
    start_xvfb
    start_buses
    start_orca
    run_host
    spoken "OK push button" 10000
    grep -qF "Assertion Failure" "$work/spoken.txt" || fail "Orca did not say the caption"
    grep -qF "render/Mesh.cpp, line 217 : Index out of range" "$work/spoken.txt" ||
        fail "Orca did not say the text"
    xdotool key Tab
    spoken "Cancel push button" 5000
    xdotool key Return
    wait_result 2 3000
    grep -q "SPEECH OUTPUT: 'OK push button" "$work/orca.log" || fail "not in Orca's own log"
    sed 's/^/said: /' "$work/spoken.txt"
    ;;
figure)
    unset DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS
    start_xvfb
    for bus in none live stopped; do
        [ "$bus" = live ] && start_buses
        [ "$bus" = stopped ] && kill -STOP "$(pgrep -P "$launcher" dbus-daemon)"
        shown=() answered=()
        for run in 1 2 3 4 5; do
            run_host
            wait_window
            up=$(now_ms)
            shown+=($((up - $(sed -n 's/^called=//p' "$work/host.out"))))
            xdotool key Return
            wait_result 0 5000
            answered+=($(($(now_ms) - up)))
        done
        echo "bus $bus: call to box on screen ${shown[*]} ms; Return to answer ${answered[*]} ms"
    done
    ;;
*)
    echo "unknown case $case_name" >&2
    exit 64
    ;;
esac
echo PASS
