#!/usr/bin/env bash
# Builds the consumer hosts against each unpacked Linux release archive only (the .tar.gz
# and the .deb, as tests/consumer/check-archive.sh leaves them in <scratch>/tgz and
# <scratch>/deb): with find_package, and the C host with pkg-config. Runs each headless.
#   run-linux.sh <scratch-dir>
set -euo pipefail
scratch=$1
source_dir=$(cd "$(dirname "$0")" && pwd)
run() { env -u DISPLAY -u WAYLAND_DISPLAY setsid -w "$@" </dev/null; }

consume() {
    local prefix=$1 work=$2
    echo "== $prefix: find_package"
    rm -rf "$work"
    cmake -S "$source_dir" -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
    cmake --build "$work/cmake" >/dev/null
    out_c=$(run "$work/cmake/consumer-c")
    out_cpp=$(run "$work/cmake/consumer-cpp")
    echo "$out_c"; echo "$out_cpp"
    [ "$out_c" = "consumer-c ok" ] && [ "$out_cpp" = "consumer-cpp ok" ]

    echo "== $prefix: pkg-config"
    PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --modversion KVZDebugLib
    # shellcheck disable=SC2046
    cc -std=c11 -o "$work/pc-consumer" "$source_dir/Consumer.c" \
        $(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs KVZDebugLib)
    out_pc=$(LD_LIBRARY_PATH="$prefix/lib" run "$work/pc-consumer")
    echo "$out_pc"
    [ "$out_pc" = "consumer-c ok" ]
}

tgz=$(echo "$scratch"/tgz/KVZDebugLib-*)
[ -d "$tgz" ] && [ -d "$scratch/deb/usr" ] || { echo "FAILED: no unpacked archives in $scratch"; exit 1; }
consume "$tgz" "$scratch/consumer-tgz"
consume "$scratch/deb/usr" "$scratch/consumer-deb"
