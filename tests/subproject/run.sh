#!/usr/bin/env bash
# Configures, builds and runs the vendoring host both ways (add_subdirectory and
# FetchContent from the local source folder, no network), with GoogleTest hidden from
# find_package: the library alone must be built, none of its tests or examples.
#   run.sh <KVZDebugLib-source-dir> <scratch-dir>
set -euo pipefail
source=$(cd "$1" && pwd)
scratch=$2
here=$(cd "$(dirname "$0")" && pwd)
run() { env -u DISPLAY -u WAYLAND_DISPLAY setsid -w "$@" </dev/null 2>/dev/null; }
status=0

for way in add_subdirectory FetchContent; do
    work="$scratch/$way"
    rm -rf "$work"
    echo "== $way"
    cmake -S "$here" -B "$work" -G Ninja -DKVZ_VENDOR="$way" -DKVZ_SOURCE_DIR="$source" \
        -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DFETCHCONTENT_FULLY_DISCONNECTED=ON --no-warn-unused-cli >/dev/null
    cmake --build "$work" >/dev/null
    # The library's own programs (unit tests, demo, test hosts) are kvz_* and kvz-*; its
    # core objects and warning flags are kvz_core and kvz_warnings.
    extra=$(ninja -C "$work" -t targets all | sed -n 's/^\([^:]*\): .*/\1/p' |
        grep -E '(^|/)kvz[_-][a-z_-]*$' | grep -vE '(^|/)kvz_(core|warnings)$' || true)
    tests=$(cd "$work" && ctest -N | sed -n 's/^Total Tests: //p')
    out=$(run "$work/consumer-c"; run "$work/consumer-cpp")
    echo "$out" | sed 's/^/    /'
    echo "    programs of the library: ${extra:-none}; tests registered: ${tests:-0}"
    if [ -n "$extra" ] || [ "${tests:-0}" != 0 ] ||
        [ "$out" != "$(printf 'consumer-c ok\nconsumer-cpp ok')" ]; then
        echo "FAILED: $way"
        status=1
    fi
done
exit $status
