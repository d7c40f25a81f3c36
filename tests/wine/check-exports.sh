#!/bin/sh
# Reads KVZDebugLib.dll's export and import tables from the file: exactly the names and
# ordinals the .def gives, and imports from system DLLs only.
#   check-exports.sh <objdump> <KVZDebugLib.dll> <KVZDebugLib.def>
set -eu
objdump=$1
dll=$2
def=$3
table=$("$objdump" -p "$dll")

# "ORDINAL NAME" for each export the .def names, where the list has its home.
expected=$(sed -n 's/^ *\(_[A-Za-z]*\) *@\([0-9]*\) *$/\2 \1/p' "$def")
count=$(printf '%s\n' "$expected" | grep -c .)

# "[Ordinal/Name Pointer] Table" lists the names in name-table order, each with its
# ordinal: "[   0] _AssertFailed" under an ordinal base read from "Ordinal Base".
base=$(printf '%s\n' "$table" | sed -n 's/.*Ordinal Base \([0-9][0-9]*\).*/\1/p' | head -n 1)
names=$(printf '%s\n' "$table" | awk -v base="${base:-0}" '
    /\[Ordinal\/Name Pointer\] Table/ { on = 1; next }
    on && /^[ \t]*\[ *[0-9]+\]/ { gsub(/[\[\]]/, " "); print $1 + base, $2; next }
    on && NF == 0 { on = 0 }')
addresses=$(printf '%s\n' "$table" | grep -c 'Export RVA' || true)
dlls=$(printf '%s\n' "$table" | sed -n 's/^[ \t]*DLL Name: //p' | sort -u)

status=0
# GNU ld starts the address table at ordinal 1; lld 14 starts it at 0 and leaves that
# slot empty (the count of addresses below holds either way).
if [ "$base" != 1 ] && [ "$base" != 0 ]; then
    echo "FAILED: ordinal base is '$base', not 1 (or 0 with an empty first slot)"
    status=1
fi
if [ "$names" != "$expected" ]; then
    echo "FAILED: the exports are"
    printf '%s\n' "$names" | sed 's/^/    /'
    echo "  expected"
    printf '%s\n' "$expected" | sed 's/^/    /'
    status=1
fi
if [ "$addresses" != "$count" ]; then
    echo "FAILED: $addresses entries in the export address table, not $count"
    status=1
fi
for name in $dlls; do
    case $(printf '%s' "$name" | tr '[:lower:]' '[:upper:]') in
    KERNEL32.DLL | USER32.DLL | MSVCRT.DLL) ;;
    *)
        echo "FAILED: imports from $name, which is not a system DLL"
        status=1
        ;;
    esac
done
echo "exports of $(basename "$dll") (ordinal, name):"
printf '%s\n' "$names" | sed 's/^/    /'
echo "imports from:" $dlls
exit $status
