#!/usr/bin/env bash
# Makes a build's release archives with CPack (the configuration that the `package` target
# uses) in a scratch folder, unpacks each beside it, and checks what each holds: the files
# listed below, no more and no fewer; on Windows a PDB that matches the DLL; for the Debian
# packages, their dependencies, a stripped module, and no error from lintian (where it is
# installed); SHA256SUMS for all.
#   check-archive.sh <build-dir> <scratch-dir> [objdump]
# Leaves each archive unpacked in <scratch-dir>/zip, tgz or deb (both .debs in one tree),
# for the consumer builds.
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
    check zip "$(printf '%s\n' CHANGELOG.md LICENSE README.md bin/KVZDebugLib.dll bin/KVZDebugLib.pdb \
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
share/doc/KVZDebugLib/LICENSE
share/doc/KVZDebugLib/README.md"
for tgz in *.tar.gz; do
    top=${tgz%.tar.gz}
    mkdir tgz && (cd tgz && tar xzf "../$tgz")
    check tgz "$(printf '%s\n' "$linux_files" | sed "s|^|$top/|")" || status=1
done

# The Debian packages: the runtime package named after the soname, the -dev package
# depending on exactly its version, each with its own copyright and changelog.
debian_doc() { printf 'usr/share/doc/%s/changelog.gz\nusr/share/doc/%s/copyright\n' "$1" "$1"; }
check_deb() {
    local deb=$1 depends_pattern=$2 expected=$3 depends
    rm -rf deb-one && dpkg-deb -x "$deb" deb-one && dpkg-deb -x "$deb" deb
    check deb-one "$expected" || status=1
    depends=$(dpkg-deb -f "$deb" Depends)
    echo "$deb: Depends: $depends"
    [[ $depends =~ $depends_pattern ]] || { echo "FAILED: $deb depends on '$depends'"; status=1; }
}
for deb in *.deb; do
    case $deb in
    libkvzdebuglib0_*)
        check_deb "$deb" '^libc6( \([^)]*\))?$' "usr/lib/libKVZDebugLib.so.0
usr/lib/libKVZDebugLib.so.0.1.0
$(debian_doc libkvzdebuglib0)"
        if file -L deb-one/usr/lib/libKVZDebugLib.so.0.1.0 | grep -q 'not stripped'; then
            echo "FAILED: the module in $deb is not stripped"
            status=1
        fi
        ;;
    libkvzdebuglib-dev_*)
        version=${deb#*_}
        check_deb "$deb" "^libkvzdebuglib0 \(= ${version%%_*}\)$" "$(printf '%s\n' "$header" \
            lib/libKVZDebugLib.so "$cmake_files" lib/pkgconfig/KVZDebugLib.pc | sed 's|^|usr/|')
$(debian_doc libkvzdebuglib-dev)"
        ;;
    *) echo "FAILED: an unexpected package $deb"; status=1 ;;
    esac
done
if compgen -G '*.deb' >/dev/null; then
    [ "$(echo *.deb | wc -w)" -eq 2 ] || { echo "FAILED: not two Debian packages"; status=1; }
    if command -v lintian >/dev/null; then
        echo "== lintian"
        lintian --tag-display-limit 0 ./*.deb 2>&1 | grep -v 'root privileges' | tee lintian.txt || true
        ! grep -q '^E: ' lintian.txt || { echo "FAILED: lintian reports errors"; status=1; }
    else
        echo "lintian not installed (Debian package lintian): the packages are not linted"
    fi
fi
rm -rf deb-one

[ -n "$(echo *.zip *.tar.gz *.deb)" ] || { echo "FAILED: no archive was made"; status=1; }
# SHA256SUMS names every package, and each sum holds.
listed=$(sed 's/^[0-9a-f]*  //' SHA256SUMS 2>/dev/null | LC_ALL=C sort)
made=$(ls ./*.zip ./*.tar.gz ./*.deb 2>/dev/null | sed 's|^\./||' | LC_ALL=C sort)
echo "== SHA256SUMS"
if [ "$listed" != "$made" ] || ! sha256sum --quiet -c SHA256SUMS; then
    echo "FAILED: SHA256SUMS lists '$listed' for '$made', or a sum does not hold"
    status=1
fi
exit $status
