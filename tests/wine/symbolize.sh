#!/bin/sh
# Prints what an address in KVZDebugLib.dll resolves to through its PDB, as "function
# file:line": the outermost function of an inlined chain, which owns the frame.
#   symbolize.sh <KVZDebugLib.dll> <address>
set -eu
llvm-symbolizer --obj="$1" "$2" | awk '
    NF { line[++n] = $0 }
    END { if (n >= 2) { where = line[n]; sub(/:[0-9]+$/, "", where); print line[n - 1], where } }'
