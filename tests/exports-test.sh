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
# No link-time dependency on X or anything beyond the C and C++ runtimes.
needed=$("${OBJDUMP:-objdump}" -p "$library" | awk '/NEEDED/ {print $2}')
echo "needs: $needed"
if echo "$needed" | grep -qi 'x11\|xcb'; then
    echo "exports-test: FAIL: the module links X at load time"
    exit 1
fi
