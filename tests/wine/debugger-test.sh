#!/bin/sh
# Runs the Win32 debugger host (kvz_wine_debugger) against KVZDebugLib.dll and then resolves
# every breakpoint it reports through the module's PDB: each stop must be in the export
# whose rule applied, in that function's own frame, on a line of the library's sources.
#   debugger-test.sh <emulator> <kvz_wine_debugger.exe> <run|late> <KVZDebugLib.dll>
# Needs llvm-pdbutil and llvm-symbolizer (Debian llvm).
set -eu
emulator=$1
host=$2
mode=$3
dll=$4
pdb=${dll%.dll}.pdb
here=$(cd "$(dirname "$0")" && pwd)
out=$(mktemp)
trap 'rm -f "$out"' EXIT

# The code size of every global function with a plain C name (the exports among them), as
# NAME=SIZE, for the host's bounds.
sizes=$(llvm-pdbutil dump --symbols "$pdb" | awk '
    /S_GPROC32/ { name = $0; sub(/^[^`]*`/, "", name); sub(/`.*$/, "", name); next }
    name != "" && /code size = / { size = $0; sub(/.*code size = /, "", size)
                                   if (name ~ /^_[A-Za-z]+$/) print name "=" size; name = "" }')
status=0
# shellcheck disable=SC2086 # one argument a function
"$emulator" "$host" "$mode" $sizes </dev/null >"$out" 2>&1 || status=$?
tr -d '\r' <"$out"

base=$(objdump -p "$dll" | sed -n 's/^ImageBase[[:space:]]*\([0-9a-fA-F]*\).*/\1/p')
stops=0
while read -r word name rva_word rva; do
    [ "$word" = stop ] && [ "$rva_word" = rva ] || continue
    address=$(printf '0x%x' $((0x$base + rva)))
    where=$(sh "$here/symbolize.sh" "$dll" "$address")
    echo "stop in $name at $address resolves to: $where"
    case $where in
    "$name KVZDebugLib\\"*:[1-9]*) stops=$((stops + 1)) ;;
    *)
        echo "FAILED: the stop in $name does not resolve to $name and a source line"
        status=1
        ;;
    esac
done <<EOF2
$(tr -d '\r' <"$out")
EOF2
if [ "$stops" -eq 0 ]; then
    echo "FAILED: no stop was resolved"
    status=1
fi
exit $status
