#!/bin/sh
# Runs the demo host's _WarnRelease under Wine and answers its box from another Windows
# program (kvz_wine_answer) that finds it by caption and presses OK; the demo must report
# that OK was chosen.
#   demo-box.sh <wine> <kvz-demo.exe> <kvz_wine_answer.exe> [screenshot.png]
# With a file name, the box is first captured from the X server as a PNG (ImageMagick's
# import); nothing here sends X input, which Wine could take for a key still held down.
set -u
wine=$1
demo=$2
answer=$3
shot=${4:-}
out=$(mktemp)
trap 'rm -f "$out"' EXIT

"$wine" "$demo" warn-release >"$out" 2>&1 &
pid=$!
status=0
if [ -n "$shot" ]; then
    if rect=$("$wine" "$answer" "Assertion Failure" find) && [ -n "$rect" ]; then
        set -- $rect
        import -window root -crop "${3}x${4}+${1}+${2}" +repage "$shot" &&
            echo "box captured in $shot" || status=1
    else
        status=1
    fi
fi
"$wine" "$answer" "Assertion Failure" ok || status=1
if [ $status -ne 0 ]; then
    kill "$pid" 2>/dev/null
fi
wait "$pid" || status=1
cat "$out"
if [ $status -ne 0 ] || ! grep -q '_WarnRelease returned 0 (Continue)' "$out"; then
    echo "FAILED: the demo's box was not shown, captured or answered with OK"
    exit 1
fi
