#!/usr/bin/env bash
# Builds the library and the demo host, then runs the demo's tour of every export.
# On a desktop each prompt is a dialog; in a terminal it asks there; with neither a
# display nor a terminal the prompts answer at once.
set -euo pipefail
cd "$(dirname "$0")/.."
# The library's build packages: the [build] group of tools/debian-packages.txt. Where one
# cannot be installed the build below says what is missing.
tools/install-deps.sh build >&2 || exit 1
mkdir -p build
log=build/demo-build.log
if ! { cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DKVZ_BUILD_TESTS=OFF && cmake --build build/demo --target kvz-demo; } >"$log" 2>&1; then
    cat "$log" >&2
    echo "demo: the build failed (log: $log)" >&2
    exit 1
fi
exec build/demo/examples/kvz-demo "${@:-tour}"
