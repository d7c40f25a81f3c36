#!/usr/bin/env bash
# Proves the README's first command on a fresh machine: a minimal Debian 12 root made with
# mmdebstrap (minbase), the project's files put in it, and tools/demo.sh run there as root
# with no display and no terminal. It must install what it needs, build, and print every
# export's line of the tour; once as the root comes, once more with an extra apt source
# whose index cannot be fetched. Then the install step's table in the same root: a package
# that cannot be installed beside one that can, an index that cannot be fetched, a name
# no source knows. Ends with "N passed, N failed".
#
# The bare root (build/fresh/minbase.tar) and the packages downloaded into it are kept
# between runs; the project's files are copied in afresh every time. Without root, or
# where Debian's archive cannot be reached to make the root, the suite is not run.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
source_dir=$PWD
work=$source_dir/build/fresh
mirror=${KVZ_DEBIAN_MIRROR:-http://deb.debian.org/debian}
key="bookworm minbase $(dpkg --print-architecture) $mirror"
unreachable='deb http://127.0.0.1:9/debian bookworm main'
passed=0
failed=0

finish() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
    exit
}
not_run() {
    echo "test-fresh: NOT RUN: $*"
    finish
}
check() { # what, then the command that must succeed
    local what=$1
    shift
    if "$@"; then
        echo "test-fresh: ok: $what"
        passed=$((passed + 1))
    else
        echo "test-fresh: FAILED: $what"
        failed=$((failed + 1))
    fi
}
elapsed() { echo "$(($(date +%s) - $1))s"; }

[ "$(id -u)" -eq 0 ] || not_run "making and entering a Debian root needs root"
command -v mmdebstrap >/dev/null || not_run "mmdebstrap not found (Debian mmdebstrap)"
mkdir -p "$work/apt-archives/partial"

start=$(date +%s)
if [ -f "$work/minbase.tar" ] && [ "$(cat "$work/minbase.key" 2>/dev/null)" = "$key" ]; then
    echo "test-fresh: minimal root from $work/minbase.tar (kept from an earlier run)"
elif mmdebstrap --quiet --variant=minbase --mode=root --format=tar bookworm "$work/minbase.tar.new" \
    "$mirror" >"$work/mmdebstrap.log" 2>&1; then
    mv "$work/minbase.tar.new" "$work/minbase.tar"
    echo "$key" >"$work/minbase.key"
    echo "test-fresh: minimal root made from $mirror in $(elapsed "$start")"
else
    tail -3 "$work/mmdebstrap.log"
    rm -f "$work/minbase.tar.new"
    not_run "no minimal root could be made from $mirror (is Debian's archive reachable?)"
fi

# A fresh copy of the bare root with the project's files (tracked, and new ones git does
# not ignore) in /src.
new_root() { # folder
    rm -rf "$1"
    mkdir -p "$1/src"
    tar -C "$1" -xf "$work/minbase.tar" || return
    if git rev-parse --show-toplevel >/dev/null 2>&1; then
        git ls-files -z -co --exclude-standard | xargs -0 cp --parents -t "$1/src" 2>/dev/null
    else
        find . -path ./build -prune -o -type f -print0 | xargs -0 cp --parents -t "$1/src"
    fi
    cp -L /etc/resolv.conf "$1/etc/resolv.conf"
}

# Runs a command in the root as root, with no terminal (a session of its own, nothing on
# standard input), no display and a clean environment, in a mount namespace of its own.
in_root() { # folder command...
    local root=$1
    shift
    setsid unshare --mount --fork sh -c '
        root=$1 archives=$2
        shift 2
        mount -t proc proc "$root/proc" && mount --rbind /dev "$root/dev" &&
            mount --bind "$archives" "$root/var/cache/apt/archives" || exit 125
        exec chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
            LANG=C.UTF-8 KVZ_APT_PAUSE=1 "$@"' sh "$root" "$work/apt-archives" "$@" </dev/null
}

tour_lines='^_AssertFailed(1, 2, 3) with no hook returns 0$
^_AssertFailed(1, 2, 3) with a hook returns 6$
^_AssertFailedEx(1, 2, 3, 4) with a hook returns -1$
^_EnterSafeMode(null) with a hook returns 5$
^_DebugOutput sent its text to the debugger output$
^_WarnDebug returned 1 (Debug)$
^_WarnRelease returned 2 (Report)$
^_BreakRelease returned 2 (Report)$
^_WarnFinal returned 0 (the box could not be shown)$'
tour_complete() { # log
    local line
    while IFS= read -r line; do
        grep -q "$line" "$1" || { echo "  missing from the tour: $line"; return 1; }
    done <<<"$tour_lines"
}

demo_in_fresh_root() { # name [extra apt source]
    local root=$work/root-$1 log=$work/demo-$1.log start
    new_root "$root" || { check "a fresh root ($1) can be unpacked" false; return; }
    [ -z "${2:-}" ] || echo "$2" >"$root/etc/apt/sources.list.d/unreachable.list"
    start=$(date +%s)
    in_root "$root" /src/tools/demo.sh >"$log" 2>&1
    local status=$?
    echo "test-fresh: tools/demo.sh in a fresh root ($1): exit $status in $(elapsed "$start")"
    # The archive, not the demo, is at fault when it could not give the build's packages.
    if [ $status -ne 0 ] && grep -q 'build: NOT EQUIPPED' "$log"; then
        echo "test-fresh: NOT RUN: the demo in a fresh root ($1): $(grep -m1 'NOT EQUIPPED' "$log")"
        return
    fi
    [ $status -eq 0 ] || tail -20 "$log"
    check "demo in a fresh root ($1) exits 0" test $status -eq 0
    check "demo in a fresh root ($1) prints every export's line" tour_complete "$log"
}

demo_in_fresh_root plain
demo_in_fresh_root unreachable "$unreachable"
check "the unreachable index was reported, and the install went on" \
    grep -q 'index not fetched after 3 tries' "$work/demo-unreachable.log"

. "$source_dir/tools/fresh-install-table.sh"
install_table "$work/root-plain"
rm -rf "$work"/root-* # a gigabyte each; the logs stay
finish
