#!/usr/bin/env bash
# Installs the Debian packages listed in tools/debian-packages.txt (or the files given)
# that are not installed yet. Needs root (or sudo) only when something is missing.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
lists=("$@")
[ ${#lists[@]} -gt 0 ] || lists=("$here/debian-packages.txt")

wanted=$(cat "${lists[@]}" | sed -e 's/#.*//' -e 's/[[:space:]]//g' | grep -v '^$' | sort -u)
missing=()
for package in $wanted; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
    [ "$status" = installed ] || missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
    echo "install-deps: every package is installed"
    exit 0
fi

echo "install-deps: installing ${missing[*]}"
as_root=()
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "install-deps: run as root to install ${missing[*]}" >&2; exit 1; }
    as_root=(sudo)
fi
if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        "${as_root[@]}" dpkg --add-architecture i386
    fi
fi
export DEBIAN_FRONTEND=noninteractive
# Another install may hold dpkg's lock: wait for it rather than fail.
wait_lock=(-o DPkg::Lock::Timeout=900)
"${as_root[@]}" apt-get "${wait_lock[@]}" update -q
"${as_root[@]}" apt-get "${wait_lock[@]}" install -y -q --no-install-recommends "${missing[@]}"
