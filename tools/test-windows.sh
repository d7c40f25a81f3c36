#!/bin/sh
# Builds KVZDebugLib.dll and its Windows test hosts for 32- and 64-bit Windows (presets
# win32 and win64, MinGW-w64) and proves them under Wine, on an X server of their own.
#
#   tools/test-windows.sh                         build, then run every Wine test
#   tools/test-windows.sh --screenshot FILE       also capture the demo's box in FILE
set -eu
cd "$(dirname "$0")/.."

for compiler in i686-w64-mingw32-g++-posix x86_64-w64-mingw32-g++-posix; do
    if ! command -v "$compiler" >/dev/null 2>&1; then
        echo "FAILED: $compiler not found" >&2
        echo "  Debian: apt-get install g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix" >&2
        exit 1
    fi
done

for preset in win32 win64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j2
done
exec sh tests/wine/run-wine-tests.sh "$@" build/win32 build/win64
