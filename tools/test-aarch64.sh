#!/usr/bin/env bash
# Proves the AArch64 build on a real AArch64 kernel: boots Debian's arm64 kernel under
# qemu-system-aarch64 (TCG), with a root filesystem made from Debian's archive alone
# (mmdebstrap: gdb, strace and their libraries, unpacked), and runs the aarch64 preset's
# debugger tests there (tests/debugger: the ptrace harness, gdb and strace). Prints the
# functions GDB stopped in and ends with "N passed, N failed".
#
# The root filesystem is kept in build/aarch64-vm and made again only when the package
# list below changes. Where Debian's archive cannot be reached to make it, the tests are
# reported as not run, on CI as anywhere: an archive out of step for a day is no fault of
# the library's.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
source_dir=$PWD
vm=$source_dir/build/aarch64-vm
build=$source_dir/build/aarch64
mirror=${KVZ_DEBIAN_MIRROR:-http://deb.debian.org/debian}
packages=bash,dash,coreutils,util-linux,mount,grep,sed,gdb,strace,linux-image-arm64
key="bookworm arm64 $packages $mirror"

finish() { # passed failed
    echo "$1 passed, $2 failed"
    [ "$2" -eq 0 ]
    exit
}
fail() {
    echo "test-aarch64: FAIL: $*"
    finish 0 1
}
elapsed() { echo "$(($(date +%s) - $1))s"; }

command -v qemu-system-aarch64 >/dev/null || fail "qemu-system-aarch64 not found (Debian qemu-system-arm)"
command -v mmdebstrap >/dev/null || fail "mmdebstrap not found (Debian mmdebstrap)"

start=$(date +%s)
{ cmake --preset aarch64 >/dev/null && cmake --build --preset aarch64 -j2 >/dev/null; } ||
    fail "the aarch64 preset does not build"
echo "test-aarch64: aarch64 preset built in $(elapsed "$start")"

# Unpacked only (no maintainer scripts), so nothing of the target's needs to run here.
start=$(date +%s)
if [ -f "$vm/rootfs.cpio" ] && [ "$(cat "$vm/rootfs.key" 2>/dev/null)" = "$key" ]; then
    echo "test-aarch64: root filesystem from $vm (cached)"
else
    rm -rf "$vm"
    mkdir -p "$vm"
    if ! mmdebstrap --quiet --mode=auto --variant=extract --arch=arm64 --include="$packages" \
        bookworm "$vm/rootfs" "$mirror" >"$vm/mmdebstrap.log" 2>&1; then
        tail -5 "$vm/mmdebstrap.log"
        rm -rf "$vm"
        echo "test-aarch64: NOT RUN: no root filesystem could be made from $mirror" \
            "(is Debian's archive reachable?); the debugger tests did not run on AArch64"
        finish 0 0
    fi
    cp "$vm"/rootfs/boot/vmlinuz-* "$vm/vmlinuz"
    # Kernel modules, documentation and translations stay out of the initramfs: the
    # kernel's own drivers suffice for a serial console and a root in memory.
    (cd "$vm/rootfs" && find . \( -path ./boot -o -path ./lib/modules -o -path ./lib/udev \
        -o -path './usr/lib/linux-image-*' -o -path ./usr/share/doc -o -path ./usr/share/man \
        -o -path ./usr/share/locale \) -prune -o -print | cpio -o -H newc --quiet) \
        >"$vm/rootfs.cpio" || fail "cannot pack the root filesystem"
    rm -rf "$vm/rootfs"
    echo "$key" >"$vm/rootfs.key"
    echo "test-aarch64: root filesystem made from $mirror in $(elapsed "$start")" \
        "($(du -m "$vm/rootfs.cpio" | cut -f1) MB)"
fi

# The build's tests, the library, its sources (for GDB's listing) and the test scripts, at
# the paths the build names them by, and an init that runs the debugger tests and powers
# off.
overlay=$(mktemp -d)
trap 'rm -rf "$overlay"' EXIT
mkdir -p "$overlay$build/tests" "$overlay$source_dir/tests"
cp -a "$build/KVZDebugLib" "$overlay$build/"
cp -a "$build/tests/debugger" "$overlay$build/tests/"
cp -a "$source_dir/tests/debugger" "$overlay$source_dir/tests/"
cp -a "$source_dir/KVZDebugLib" "$overlay$source_dir/"
cat >"$overlay/init" <<EOF
#!/bin/bash
export PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root
mount -t proc proc /proc && mount -t sysfs sys /sys && mount -t devtmpfs dev /dev
mkdir -p /dev/pts /tmp && mount -t devpts devpts /dev/pts && chmod 1777 /tmp
echo "test-aarch64: in the machine: \$(uname -srm)"
bash $build/tests/debugger/debugger-tests.sh
echo "test-aarch64: the machine's tests ended with status \$?"
echo o >/proc/sysrq-trigger
sleep 60
EOF
chmod +x "$overlay/init"
(cd "$overlay" && find . -mindepth 1 | cpio -o -H newc --quiet) >"$vm/overlay.cpio" ||
    fail "cannot pack the tests"
cat "$vm/rootfs.cpio" "$vm/overlay.cpio" >"$vm/initrd.cpio"

start=$(date +%s)
log=$vm/console.log
timeout 1200 qemu-system-aarch64 -M virt -cpu cortex-a57 -smp 2 -m 2048 -accel tcg \
    -nographic -nic none -no-reboot -kernel "$vm/vmlinuz" -initrd "$vm/initrd.cpio" \
    -append "console=ttyAMA0 rdinit=/init quiet panic=-1" </dev/null 2>&1 | tr -d '\r' >"$log"
status=${PIPESTATUS[0]}
rm -f "$vm/initrd.cpio"
cat "$log"
echo "test-aarch64: boot and tests on the AArch64 kernel in $(elapsed "$start") (TCG)"
[ "$status" -eq 0 ] || echo "test-aarch64: qemu-system-aarch64 ended with status $status"

echo "test-aarch64: GDB stopped in, in order:"
sed -n 's/^#0 .* in \([A-Za-z_]*\) (.*/  \1/p; s/^#0  \([A-Za-z_]*\) (.*/  \1/p' "$log"
grep '^\[Inferior .* exited normally' "$log" | sed 's/^/  /'
line=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$log" | tail -1)
[ -n "$line" ] || fail "the tests on the AArch64 kernel did not finish (see $log)"
finish "$(echo "$line" | cut -d' ' -f1)" "$(echo "$line" | cut -d' ' -f3)"
