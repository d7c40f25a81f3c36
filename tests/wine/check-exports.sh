#!/bin/sh
# Reads KVZDebugLib.dll's export and import tables from the file: exactly the names and
# ordinals the .def gives, from ordinal base 1 with no empty slot, and imports from system
# DLLs only.
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
# The export directory's own count of addresses (hex), which an empty slot would raise.
addresses=$(printf '%s\n' "$table" |
    sed -n 's/^[ \t]*Export Address Table[ \t]*\([0-9a-fA-F]\{8\}\)$/\1/p' | head -n 1)
addresses=$((0x${addresses:-0}))
dlls=$(printf '%s\n' "$table" | sed -n 's/^[ \t]*DLL Name: //p' | sort -u)

status=0
# The address table starts at ordinal 1, as in Windows' own DLLs, with no empty slot.
if [ "$base" != 1 ]; then
    echo "FAILED: ordinal base is '$base', not 1"
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
