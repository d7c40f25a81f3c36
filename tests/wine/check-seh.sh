#!/bin/sh
# The 32-bit KVZDebugLib.dll registers no structured exception handler, and says so: no
# instruction in it touches the handler chain's head (fs:[0]), and its header carries
# IMAGE_DLLCHARACTERISTICS_NO_SEH, which hosts linked with /SAFESEH and security scanners
# accept in place of a table of handlers. (lld cannot write such a table here: MinGW-w64's
# runtime objects are not marked safe for it, and its runtime defines no load-config
# directory.)
#   check-seh.sh <KVZDebugLib.dll>
# Needs llvm-objdump and llvm-readobj (Debian llvm).
set -eu
dll=$1
status=0
chain=$(llvm-objdump -d "$dll" | grep -E '%fs:(0x0|0)($|[^0-9x])' || true)
if [ -n "$chain" ]; then
    echo "FAILED: code that touches the SEH handler chain (fs:[0]):"
    printf '%s\n' "$chain"
    status=1
fi
if llvm-readobj --file-headers "$dll" | grep -q 'IMAGE_DLL_CHARACTERISTICS_NO_SEH'; then
    echo "$(basename "$dll"): no SEH handlers, marked IMAGE_DLLCHARACTERISTICS_NO_SEH"
else
    echo "FAILED: $(basename "$dll") is not marked IMAGE_DLLCHARACTERISTICS_NO_SEH"
    status=1
fi
echo "load-config directory:"
llvm-readobj --coff-load-config "$dll" | sed -n '/LoadConfig/,$p' | sed 's/^/    /'
exit $status
