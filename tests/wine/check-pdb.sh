#!/bin/sh
# Reads KVZDebugLib.dll and the KVZDebugLib.pdb beside it: the DLL's debug directory names
# that PDB by file name alone, with the PDB's own GUID and age, and every export's address
# resolves through the PDB to the export's name and a line of the library's sources, named
# relative to the project as in a release PDB (KVZDebugLib\Reports.cpp).
#   check-pdb.sh <objdump> <KVZDebugLib.dll>
# Needs llvm-readobj, llvm-pdbutil and llvm-symbolizer (Debian llvm).
set -eu
objdump=$1
dll=$2
pdb=${dll%.dll}.pdb
here=$(cd "$(dirname "$0")" && pwd)
status=0
fail() {
    echo "FAILED: $*"
    status=1
}

[ -f "$pdb" ] || { echo "FAILED: no $pdb"; exit 1; }
echo "$(basename "$dll"): $(stat -c %s "$dll") bytes, $(basename "$pdb"): $(stat -c %s "$pdb") bytes"

# The debug directory's GUID is stored as bytes: the first three fields little-endian.
debug=$(llvm-readobj --coff-debug-directory "$dll")
dll_guid=$(printf '%s\n' "$debug" | sed -n 's/.*PDBGUID: (\(.*\))/\1/p' | awk '{
    printf "{%s%s%s%s-%s%s-%s%s-%s%s-%s%s%s%s%s%s}\n", $4, $3, $2, $1, $6, $5, $8, $7,
        $9, $10, $11, $12, $13, $14, $15, $16 }')
dll_age=$(printf '%s\n' "$debug" | sed -n 's/.*PDBAge: \([0-9]*\).*/\1/p')
dll_name=$(printf '%s\n' "$debug" | sed -n 's/.*PDBFileName: //p')
summary=$(llvm-pdbutil dump --summary "$pdb")
pdb_guid=$(printf '%s\n' "$summary" | sed -n 's/.*GUID: //p')
pdb_age=$(printf '%s\n' "$summary" | sed -n 's/.*Age: //p')
echo "debug directory: $dll_name $dll_guid age $dll_age; PDB: $pdb_guid age $pdb_age"
[ -n "$dll_guid" ] && [ "$dll_guid" = "$pdb_guid" ] || fail "the PDB's GUID does not match the DLL's"
[ -n "$dll_age" ] && [ "$dll_age" = "$pdb_age" ] || fail "the PDB's age does not match the DLL's"
[ "$dll_name" = "$(basename "$pdb")" ] || fail "the DLL names the PDB '$dll_name'"

# Each export's address: image base plus the RVA the export table gives for its ordinal.
table=$("$objdump" -p "$dll")
base=$(printf '%s\n' "$table" | sed -n 's/^ImageBase[[:space:]]*\([0-9a-fA-F]*\).*/\1/p')
exports=$(printf '%s\n' "$table" | awk '
    /^Export Address Table/ { t = 1; next }
    t && /Export RVA/ { gsub(/[\[\]]/, " "); rva[$1] = $(NF - 2); next }
    /\[Ordinal\/Name Pointer\] Table/ { n = 1; next }
    n && /^[ \t]*\[ *[0-9]+\]/ { gsub(/[\[\]]/, " "); print $2, rva[$1] }
    n && NF == 0 { n = 0 }')
count=0
for name in $(printf '%s\n' "$exports" | cut -d' ' -f1); do
    rva=$(printf '%s\n' "$exports" | awk -v n="$name" '$1 == n { print $2 }')
    address=$(printf '0x%x' $((0x$base + 0x$rva)))
    where=$(sh "$here/symbolize.sh" "$dll" "$address")
    echo "  $name at $address: $where"
    case $where in
    "$name KVZDebugLib\\"*:[1-9]*) count=$((count + 1)) ;;
    *) fail "$name's address does not resolve to $name and a source line" ;;
    esac
done
[ "$count" -eq 11 ] || fail "$count of the 11 exports resolve through the PDB"
exit $status
