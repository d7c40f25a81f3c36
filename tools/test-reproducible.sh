#!/usr/bin/env bash
# Builds the release products twice from this source tree, in two copies that lie in
# folders of different names and depths, one building inside its copy and one outside,
# with different file times, one after the other; then compares them byte for byte: the
# .so, both DLLs with their PDBs and import libraries, the zips, the .tar.gz, the Debian
# packages and SHA256SUMS. Each build is the library alone (no tests, no examples), as
# `--target package` makes it. Also checks that, unset, SOURCE_DATE_EPOCH is the date of
# the commit checked out.
# Ends with one line: "N passed, N failed" (one for each product compared).
#
#   tools/test-reproducible.sh      (the copies and their builds stay in build/reproducible)
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
work=$root/build/reproducible
passed=0
failed=0
fail() {
    echo "FAILED: $*"
    failed=$((failed + 1))
}

# The tree as it stands (tracked files and new ones git does not ignore), copied twice.
rm -rf "$work"
mkdir -p "$work/one/KVZDebugLib" "$work/second/copy/of-the-source" "$work/second/builds"
a=$work/one/KVZDebugLib
b=$work/second/copy/of-the-source
if git rev-parse --show-toplevel >/dev/null 2>&1; then
    git ls-files -z -co --exclude-standard | xargs -0 cp --parents -t "$a" 2>/dev/null
    epoch=$(git log -1 --format=%ct)
else
    find . -path ./build -prune -o -type f -print0 | xargs -0 cp --parents -t "$a"
    epoch=$(date +%s)
fi
cp -a "$a/." "$b"
# Files of the second copy a day older; the builds run minutes apart anyway.
find "$b" -exec touch -h -d "@$((epoch - 86400))" {} +
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$epoch}
umask 022

# build <source> <build-root>: the linux, win32 and win64 presets, each with its package.
build() {
    local source=$1 out=$2 preset
    for preset in linux win32 win64; do
        echo "=== $source: $preset"
        (cd "$source" &&
            cmake --preset "$preset" -B "$out/$preset" -DKVZ_BUILD_TESTS=OFF \
                -DKVZ_BUILD_EXAMPLES=OFF >/dev/null &&
            cmake --build "$out/$preset" -j2 --target package >"$out/$preset.log" 2>&1) ||
            { fail "$preset in $source did not build (log: $out/$preset.log)"; return 1; }
    done
}
start=$(date +%s)
build "$a" "$a/build" && build "$b" "$work/second/builds"
echo "two builds in $(($(date +%s) - start)) s"

# The products, by their place in a build folder.
products="linux/KVZDebugLib/libKVZDebugLib.so.0.1.0
win32/bin/KVZDebugLib.dll
win32/bin/KVZDebugLib.pdb
win32/lib/KVZDebugLib.lib
win32/lib/libKVZDebugLib.dll.a
win64/bin/KVZDebugLib.dll
win64/bin/KVZDebugLib.pdb
win64/lib/KVZDebugLib.lib
win64/lib/libKVZDebugLib.dll.a"
for dir in linux win32 win64; do
    products+=$'\n'$(cd "$a/build/$dir" 2>/dev/null &&
        ls ./*.zip ./*.tar.gz ./*.deb SHA256SUMS 2>/dev/null | sed "s|^\./||; s|^|$dir/|")
done
echo "=== the products of the two builds (size, sha256)"
for product in $products; do
    one=$a/build/$product
    two=$work/second/builds/$product
    if [ ! -f "$one" ] || [ ! -f "$two" ]; then
        fail "$product: not made by both builds"
        continue
    fi
    sum_one=$(sha256sum "$one" | cut -d' ' -f1)
    sum_two=$(sha256sum "$two" | cut -d' ' -f1)
    printf '%-48s %8s %s\n%-48s %8s %s\n' "$product" "$(stat -c %s "$one")" "$sum_one" \
        "" "$(stat -c %s "$two")" "$sum_two"
    if cmp -s "$one" "$two"; then
        passed=$((passed + 1))
    else
        fail "$product differs between the builds"
    fi
done

# Unset, SOURCE_DATE_EPOCH is the commit's date: the Debian changelog carries it.
if git rev-parse --show-toplevel >/dev/null 2>&1; then
    (env -u SOURCE_DATE_EPOCH cmake --preset linux -B "$work/default-date" \
        -DKVZ_BUILD_TESTS=OFF -DKVZ_BUILD_EXAMPLES=OFF >/dev/null)
    want=$(LC_ALL=C date -u -d "@$(git log -1 --format=%ct)" '+%a, %d %b %Y %H:%M:%S +0000')
    if grep -qF -- "-- " "$work/default-date/debian/changelog" &&
        grep -qF "  $want" "$work/default-date/debian/changelog"; then
        echo "unset SOURCE_DATE_EPOCH: the commit's date, $want"
        passed=$((passed + 1))
    else
        fail "unset, SOURCE_DATE_EPOCH is not the commit's date ($want)"
    fi
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
