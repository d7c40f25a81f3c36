#!/usr/bin/env bash
# Builds the library and the demo host, then runs the demo's tour of every export.
# In a terminal, each prompt asks there; with neither a display nor a terminal, the
# prompts answer at once.
set -euo pipefail
cd "$(dirname "$0")/.."
printf 'cmake\nninja-build\ng++\n' > /tmp/kvz-demo-packages.txt
tools/install-deps.sh /tmp/kvz-demo-packages.txt >/dev/null
cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKVZ_BUILD_TESTS=OFF >/dev/null
cmake --build build/demo --target kvz-demo >/dev/null
exec build/demo/examples/kvz-demo "${@:-tour}"
