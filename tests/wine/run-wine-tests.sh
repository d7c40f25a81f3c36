#!/bin/sh
# Runs the Wine tests of one or more Windows build trees (the win32 and win64 presets) in a
# Wine prefix and on an X server of their own, and cleans both up afterwards.
#
#   tests/wine/run-wine-tests.sh [--screenshot FILE] <build-dir>...
#
# The prefix is made afresh in build/wine-prefix (KVZ_WINE_PREFIX overrides it); Xvfb
# runs on a free display. With --screenshot, the demo's _WarnRelease box of the first
# build tree that Wine can run is also captured in FILE (PNG). KVZ_CTEST_ARGS adds
# arguments to ctest (-V to see everything the hosts print, -R to pick tests).
set -eu

root=$(cd "$(dirname "$0")/../.." && pwd)
shot=
if [ "${1:-}" = --screenshot ]; then
    shot=$(realpath -m "$2")
    shift 2
fi
if [ $# -eq 0 ]; then
    echo "usage: $0 [--screenshot FILE] <build-dir>..." >&2
    exit 2
fi

missing=
for tool in wine wineboot wineserver Xvfb ctest timeout; do
    command -v "$tool" >/dev/null 2>&1 || missing="$missing $tool"
done
if [ -n "$shot" ] && ! command -v import >/dev/null 2>&1; then
    missing="$missing import"
fi
if [ -n "$missing" ]; then
    echo "FAILED: missing:$missing" >&2
    echo "  Debian: apt-get install wine wine32:i386 wine64 xvfb imagemagick" >&2
    echo "  (after dpkg --add-architecture i386 && apt-get update)" >&2
    exit 1
fi

export WINEPREFIX="${KVZ_WINE_PREFIX:-$root/build/wine-prefix}"
export WINEARCH=win64             # runs 32- and 64-bit programs alike
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=" # no Mono or Gecko installer prompts
unset WINESERVER WINELOADER

# 32-bit programs need Wine's 32-bit loader (Debian wine32:i386), and a kernel that can
# execute them: some are built without IA-32 emulation, and the loader then fails with
# "Exec format error" (exit 126). Where either is missing, every program goes through
# Wine's 64-bit loader, through a `wine` of our own first on PATH (wineboot and the tests'
# emulator call it by name), and 32-bit build trees are checked from their files only,
# with the reason said. Elsewhere nothing changes.
wine32_loader=${KVZ_WINE_LOADER32:-/usr/lib/wine/wine}
wine64_loader=${KVZ_WINE_LOADER64:-/usr/lib/wine/wine64}
only64=
shims=
if [ -x "$wine64_loader" ]; then
    rc=0
    if [ -x "$wine32_loader" ]; then
        "$wine32_loader" --version >/dev/null 2>&1 || rc=$?
        [ $rc -ne 126 ] || only64="this kernel cannot execute 32-bit programs"
    else
        only64="32-bit Wine is not installed (Debian wine32:i386)"
    fi
    if [ -n "$only64" ]; then
        shims=$(mktemp -d)
        for name in wine wine-stable; do
            printf '#!/bin/sh\nexec "%s" "$@"\n' "$wine64_loader" >"$shims/$name"
            chmod +x "$shims/$name"
        done
        export PATH="$shims:$PATH" WINELOADER="$wine64_loader"
    fi
fi

# Whether a build tree is a 32-bit one: its module's file format.
is_32bit_tree() {
    objdump -f "$1/bin/KVZDebugLib.dll" 2>/dev/null | grep -q 'file format pei-i386'
}

xvfb_pid=
cleanup() {
    status=$?
    [ -z "$shims" ] || rm -rf "$shims"
    # Ends every Wine process of this prefix, the tests' own and Wine's services alike.
    if [ -d "$WINEPREFIX" ]; then
        timeout 30 wineserver -k 2>/dev/null || true
        timeout 30 wineserver -w 2>/dev/null || true
    fi
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    exit $status
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# An X server of our own, on whichever display is free.
display_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
xvfb_pid=$!
i=0
while [ ! -s "$display_file" ] && [ $i -lt 100 ]; do
    if ! kill -0 "$xvfb_pid" 2>/dev/null; then
        break
    fi
    sleep 0.1
    i=$((i + 1))
done
if [ ! -s "$display_file" ]; then
    rm -f "$display_file"
    echo "FAILED: Xvfb did not start" >&2
    exit 1
fi
export DISPLAY=":$(head -n 1 "$display_file")"
rm -f "$display_file"
echo "X server: Xvfb on $DISPLAY (pid $xvfb_pid)"

# A fresh prefix, made once for the whole run.
if [ -d "$WINEPREFIX" ]; then
    timeout 30 wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
fi
mkdir -p "$(dirname "$WINEPREFIX")"
echo "Wine prefix: $WINEPREFIX ($(wine --version 2>/dev/null || echo 'wine --version failed'))"
if ! timeout 300 wineboot --init </dev/null >/dev/null 2>&1; then
    echo "FAILED: wineboot --init did not finish" >&2
    exit 1
fi
timeout 120 wineserver -w 2>/dev/null || true
# One server for the whole run, rather than one started and stopped for every test.
wineserver -p
# Without a window manager (Xvfb has none), Wine waits up to two seconds for each managed
# window to be withdrawn; unmanaged windows close at once and Wine draws their title bars.
timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
    </dev/null >/dev/null 2>&1

status=0
passed=0
failed=0
for dir in "$@"; do
    dir=$(realpath "$dir")
    labels=
    if [ -n "$only64" ] && is_32bit_tree "$dir"; then
        echo "NOT RUN: the 32-bit Wine tests, $only64: $dir is checked" \
            "statically only; not run:" \
            "$(ctest --test-dir "$dir" -N -LE static -FA '.*' 2>/dev/null | sed -n 's/^ *Test *#[0-9]*: //p' | tr '\n' ' ')"
        labels="-L static"
    else
        # A program that cannot start (a 32-bit one without wine32, say) says so here, once:
        # kvz_wine_answer without arguments prints its usage and exits with 2.
        rc=0
        timeout 60 wine "$dir/bin/kvz_wine_answer.exe" </dev/null >/dev/null 2>&1 || rc=$?
        if [ $rc -ne 2 ]; then
            echo "FAILED: Wine cannot run $dir/bin/kvz_wine_answer.exe (exit $rc)." >&2
            echo "  For 32-bit programs Debian needs wine32:i386 (dpkg --add-architecture i386)." >&2
            status=1
            failed=$((failed + 1))
            continue
        fi
    fi
    echo "== $dir"
    log=$(mktemp)
    # shellcheck disable=SC2086 # KVZ_CTEST_ARGS and the labels are split on purpose
    ctest --test-dir "$dir" --output-on-failure $labels ${KVZ_CTEST_ARGS:-} </dev/null >"$log" 2>&1 ||
        status=1
    cat "$log"
    summary=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\1 \2/p' "$log" |
        tail -n 1)
    rm -f "$log"
    if [ -n "$summary" ]; then
        passed=$((passed + ${summary#* } - ${summary% *}))
        failed=$((failed + ${summary% *}))
    else
        failed=$((failed + 1))
        status=1
    fi
done

if [ -n "$shot" ]; then
    first=$(realpath "$1")
    if [ -n "$only64" ] && is_32bit_tree "$first" && [ $# -gt 1 ]; then
        first=$(realpath "$2")
    fi
    sh "$root/tests/wine/demo-box.sh" wine "$first/bin/kvz-demo.exe" \
        "$first/bin/kvz_wine_answer.exe" "$shot" </dev/null || status=1
fi
echo "$passed passed, $failed failed"
exit $status
