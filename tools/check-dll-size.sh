#!/usr/bin/env bash
# Checks a built KVZDebugLib.dll: stripped, it is at most 64 KiB, and it imports only
# system DLLs (KERNEL32, USER32 and the system C runtime). Prints the figures.
#
#   tools/check-dll-size.sh build/win32/bin/KVZDebugLib.dll [limit-in-bytes]
#
# Exits 0 when both hold, 1 when either does not, 2 when it cannot check.
set -euo pipefail

dll=${1:?usage: tools/check-dll-size.sh KVZDebugLib.dll [limit-in-bytes]}
limit=${2:-65536}
[ -f "$dll" ] || { echo "check-dll-size: no such file: $dll" >&2; exit 2; }

case $(objdump -f "$dll" 2>/dev/null | sed -n 's/.*file format //p') in
pei-i386) tools=i686-w64-mingw32 ;;
pei-x86-64) tools=x86_64-w64-mingw32 ;;
*) echo "check-dll-size: not a Windows DLL: $dll" >&2; exit 2 ;;
esac
command -v "$tools-strip" >/dev/null || { echo "check-dll-size: $tools-strip not found" >&2; exit 2; }

stripped=$(mktemp)
trap 'rm -f "$stripped"' EXIT
"$tools-strip" -o "$stripped" "$dll"
size=$(stat -c %s "$stripped")
imports=$("$tools-objdump" -p "$dll" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr -d '\r')

status=0
echo "$dll ($tools): $size bytes stripped, limit $limit ($((size * 100 / limit))% of it)"
if [ "$size" -gt "$limit" ]; then
    echo "FAIL: the stripped DLL is larger than $limit bytes"
    status=1
fi
for name in $imports; do
    if echo "$name" | grep -Eiq '^(kernel32|user32|msvcrt|ucrtbase|api-ms-win-crt-[a-z0-9-]+)\.dll$'; then
        echo "  imports $name (system)"
    else
        echo "FAIL: imports $name, which is not a system DLL"
        status=1
    fi
done
[ -n "$imports" ] || { echo "FAIL: no import table found"; status=1; }
[ "$status" -eq 0 ] && echo "PASS: size and imports"
exit "$status"
