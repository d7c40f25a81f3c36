#!/usr/bin/env bash
# The module exports exactly the entry points its version script names, under their plain
# names, and no others.
set -u
library=$1
map=$2
def=$3
# The export list has its home in the version script; the Windows .def must name the same.
expected=$(sed -n 's/^ *\(_[A-Za-z]*\);$/\1/p' "$map" | sort)
windows=$(sed -n 's/^ *\(_[A-Za-z]*\) *@[0-9]*$/\1/p' "$def" | sort)
if [ -z "$expected" ] || [ "$expected" != "$windows" ]; then
    echo "exports-test: FAIL: $map and $def do not name the same exports"
    diff <(echo "$expected") <(echo "$windows")
    exit 1
fi
actual=$("${NM:-nm}" -D --defined-only "$library" | awk '{print $3}' | sort)
echo "$actual"
if [ "$actual" != "$expected" ]; then
    echo "exports-test: FAIL: the module's exports differ from those the version script names"
    diff <(echo "$expected") <(echo "$actual")
    exit 1
fi
# No link-time dependency on X, Wayland or anything beyond the C and C++ runtimes.
needed=$("${OBJDUMP:-objdump}" -p "$library" | awk '/NEEDED/ {print $2}')
echo "needs: $needed"
if echo "$needed" | grep -qi 'x11\|xcb\|wayland\|xkbcommon'; then
    echo "exports-test: FAIL: the module links X or Wayland at load time"
    exit 1
fi
# The generated Wayland protocol code calls libwayland by name: every such call must be
# routed to the library loaded at run time, none left for the loader to bind.
unbound=$("${NM:-nm}" -D --undefined-only "$library" | awk '{print $2}' | grep -E '^(wl|xkb)_')
if [ -n "$unbound" ]; then
    echo "exports-test: FAIL: the module needs Wayland symbols at load time: $unbound"
    exit 1
fi
