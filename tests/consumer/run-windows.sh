#!/usr/bin/env bash
# Cross-builds the consumer hosts with find_package against an unpacked Windows release
# archive only (tests/consumer/check-archive.sh leaves it in <scratch>/zip), and runs them
# under Wine (the caller's prefix and display) with the archive's DLL beside them.
#   run-windows.sh <scratch-dir> <toolchain-file> [emulator]
set -euo pipefail
scratch=$1
toolchain=$2
emulator=${3:-wine}
source_dir=$(cd "$(dirname "$0")" && pwd)
prefix=$(echo "$scratch"/zip/KVZDebugLib-*)
[ -d "$prefix" ] || { echo "FAILED: no unpacked archive in $scratch/zip"; exit 1; }
work="$scratch/consumer"
rm -rf "$work"

cmake -S "$source_dir" -B "$work" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DKVZDebugLib_DIR="$prefix/lib/cmake/KVZDebugLib" >/dev/null
cmake --build "$work" >/dev/null
cp "$prefix/bin/KVZDebugLib.dll" "$work/"
out_c=$(cd "$work" && "$emulator" ./consumer-c.exe </dev/null 2>/dev/null | tr -d '\r')
out_cpp=$(cd "$work" && "$emulator" ./consumer-cpp.exe </dev/null 2>/dev/null | tr -d '\r')
echo "$out_c"
echo "$out_cpp"
[ "$out_c" = "consumer-c ok" ] && [ "$out_cpp" = "consumer-cpp ok" ]
