#!/usr/bin/env bash
# Installs a build into a scratch prefix, then builds the consumer hosts against that
# tree only: with find_package, and the C host with pkg-config. Runs each headless.
set -euo pipefail
build=$1
source_dir=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
run() { env -u DISPLAY setsid -w "$@" </dev/null; }

echo "== find_package"
cmake -S "$source_dir" -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/cmake" >/dev/null
out_c=$(run "$work/cmake/consumer-c")
out_cpp=$(run "$work/cmake/consumer-cpp")
echo "$out_c"; echo "$out_cpp"
[ "$out_c" = "consumer-c ok" ] && [ "$out_cpp" = "consumer-cpp ok" ]

echo "== pkg-config"
export PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig"
pkg-config --modversion KVZDebugLib
# shellcheck disable=SC2046
cc -std=c11 -o "$work/pc-consumer" "$source_dir/Consumer.c" $(pkg-config --cflags --libs KVZDebugLib)
out_pc=$(LD_LIBRARY_PATH="$work/prefix/lib" run "$work/pc-consumer")
echo "$out_pc"
[ "$out_pc" = "consumer-c ok" ]
