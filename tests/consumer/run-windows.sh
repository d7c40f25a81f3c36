#!/usr/bin/env bash
# Installs a Windows build into a scratch prefix, cross-builds the consumer hosts against
# that tree only with find_package, and runs them under Wine (the caller's prefix and
# display), with the installed DLL beside them.
set -euo pipefail
build=$1
toolchain=$2
emulator=${3:-wine}
source_dir=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
ls "$work/prefix/bin" "$work/prefix/lib"
cmake -S "$source_dir" -B "$work/cmake" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DKVZDebugLib_DIR="$work/prefix/lib/cmake/KVZDebugLib" >/dev/null
cmake --build "$work/cmake" >/dev/null
cp "$work/prefix/bin/KVZDebugLib.dll" "$work/cmake/"
out_c=$(cd "$work/cmake" && "$emulator" ./consumer-c.exe </dev/null 2>/dev/null | tr -d '\r')
out_cpp=$(cd "$work/cmake" && "$emulator" ./consumer-cpp.exe </dev/null 2>/dev/null | tr -d '\r')
echo "$out_c"
echo "$out_cpp"
[ "$out_c" = "consumer-c ok" ] && [ "$out_cpp" = "consumer-cpp ok" ]
