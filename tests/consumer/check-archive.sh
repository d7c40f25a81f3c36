#!/usr/bin/env bash
# Makes a build's release archives with CPack (the configuration that the `package` target
# uses) in a scratch folder, unpacks each beside it, and checks what each holds: the files
# listed below, no more and no fewer; on Windows a PDB that matches the DLL; for the .deb,
# dependencies on libc alone.
#   check-archive.sh <build-dir> <scratch-dir> [objdump]
# Leaves each archive unpacked in <scratch-dir>/zip, tgz or deb, for the consumer builds.
set -euo pipefail
build=$1
scratch=$2
objdump=${3:-objdump}
here=$(cd "$(dirname "$0")" && pwd)

build=$(cd "$build" && pwd)
rm -rf "$scratch"
mkdir -p "$scratch"
cpack --config "$build/CPackConfig.cmake" -B "$scratch" >/dev/null
cd "$scratch"

config=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt" | tr '[:upper:]' '[:lower:]')
cmake_files="lib/cmake/KVZDebugLib/KVZDebugLibConfig.cmake
lib/cmake/KVZDebugLib/KVZDebugLibConfigVersion.cmake
lib/cmake/KVZDebugLib/KVZDebugLibTargets-$config.cmake
lib/cmake/KVZDebugLib/KVZDebugLibTargets.cmake"
header=include/KVZDebugLib/KVZDebugLib.h

# Compares what lies under a folder (files and links) with the expected list.
check() {
    local dir=$1 expected=$2 seen
    seen=$(cd "$dir" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort)
    expected=$(printf '%s\n' "$expected" | LC_ALL=C sort)
    echo "== $dir"
    printf '%s\n' "$seen" | sed 's/^/    /'
    if [ "$seen" != "$expected" ]; then
        echo "FAILED: $dir holds something else than expected:"
        diff <(printf '%s\n' "$expected") <(printf '%s\n' "$seen") || true
        return 1
    fi
}

status=0
shopt -s nullglob
for zip in *.zip; do
    top=${zip%.zip}
    mkdir zip && (cd zip && cmake -E tar xf "../$zip")
    check zip "$(printf '%s\n' CHANGELOG.md README.md bin/KVZDebugLib.dll bin/KVZDebugLib.pdb \
        "$header" lib/KVZDebugLib.lib lib/libKVZDebugLib.dll.a "$cmake_files" | sed "s|^|$top/|")" ||
        status=1
    sh "$here/../wine/check-pdb.sh" "$objdump" "zip/$top/bin/KVZDebugLib.dll" >/dev/null ||
        { echo "FAILED: the archive's PDB does not serve its DLL"; status=1; }
done
linux_files="$header
lib/libKVZDebugLib.so
lib/libKVZDebugLib.so.0
lib/libKVZDebugLib.so.0.1.0
$cmake_files
lib/pkgconfig/KVZDebugLib.pc
share/doc/KVZDebugLib/CHANGELOG.md
share/doc/KVZDebugLib/README.md"
for tgz in *.tar.gz; do
    top=${tgz%.tar.gz}
    mkdir tgz && (cd tgz && tar xzf "../$tgz")
    check tgz "$(printf '%s\n' "$linux_files" | sed "s|^|$top/|")" || status=1
done
for deb in *.deb; do
    dpkg-deb -x "$deb" deb
    check deb "$(printf '%s\n' "$linux_files" | sed 's|^|usr/|')" || status=1
    depends=$(dpkg-deb -f "$deb" Depends)
    echo "$deb: Depends: $depends"
    [[ $depends =~ ^libc6(\ \([^\)]*\))?$ ]] || { echo "FAILED: depends on more than libc"; status=1; }
done
[ -n "$(echo *.zip *.tar.gz *.deb)" ] || { echo "FAILED: no archive was made"; status=1; }
exit $status
