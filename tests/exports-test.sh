#!/usr/bin/env bash
# The module exports exactly the eleven entry points, under their plain names.
set -u
library=$1
expected="_AssertFailed
_AssertFailedEx
_BreakRelease
_DebugOutput
_EnterSafeMode
_SetAssertionFailedExHandler
_SetAssertionFailedHandler
_SetEnterSafeModeHandler
_WarnDebug
_WarnFinal
_WarnRelease"
actual=$(nm -D --defined-only "$library" | awk '{print $3}' | sort)
echo "$actual"
if [ "$actual" != "$expected" ]; then
    echo "exports-test: FAIL: the module's exports differ from the eleven entry points"
    diff <(echo "$expected") <(echo "$actual")
    exit 1
fi
# No link-time dependency on X or anything beyond the C and C++ runtimes.
needed=$(objdump -p "$library" | awk '/NEEDED/ {print $2}')
echo "needs: $needed"
if echo "$needed" | grep -qi 'x11\|xcb'; then
    echo "exports-test: FAIL: the module links X at load time"
    exit 1
fi
