#!/usr/bin/env bash
# Installs the Debian packages of tools/debian-packages.txt that are missing, group by
# group, so that a package that cannot be installed keeps out only its own group.
#
#   tools/install-deps.sh [--list FILE] [--status FILE] [GROUP...]
#
# Every group of the list is installed unless groups are named. Goes on through an archive
# that is out of step: `apt-get update` is tried a few times, an index that still cannot be
# fetched is reported in one line, and the install goes on with the indexes apt has. A
# package that cannot be installed is named with apt's own reason and the rest of its
# group is still installed; --status FILE gets one line for each such group,
# "GROUP<TAB>reason", for the test command to report its suites as not run.
#
# Exit status: 0 when the step went through (even if a group could not be equipped);
# 2 when the list names a package that no source knows (a fault in the list, reported
# after everything else was installed); 1 on bad usage.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
list=$here/debian-packages.txt
status_file=
while [ $# -gt 0 ]; do
    case $1 in
    --list) list=$2; shift 2 ;;
    --status) status_file=$2; shift 2 ;;
    -*) echo "usage: $0 [--list FILE] [--status FILE] [GROUP...]" >&2; exit 1 ;;
    *) break ;;
    esac
done
pause=${KVZ_APT_PAUSE:-10} # seconds before the second try of `apt-get update`; doubles
tries=3
say() { echo "install-deps: $*"; }
[ -z "$status_file" ] || : >"$status_file"
note_group() { # group reason
    say "$1: NOT EQUIPPED: $2"
    [ -z "$status_file" ] || printf '%s\t%s\n' "$1" "$2" >>"$status_file"
}

# The list: "[group]" lines open a group; "#" starts a comment.
declare -A members=()
groups=()
group=
while IFS= read -r line; do
    line=${line%%#*}
    line=$(echo "$line" | tr -d '[:space:]')
    [ -n "$line" ] || continue
    if [[ $line =~ ^\[(.+)\]$ ]]; then
        group=${BASH_REMATCH[1]}
        groups+=("$group")
        members[$group]=
    elif [ -z "$group" ]; then
        echo "install-deps: $list: $line comes before any [group]" >&2
        exit 1
    else
        members[$group]+=" $line"
    fi
done <"$list"
wanted=("$@")
[ ${#wanted[@]} -gt 0 ] || wanted=("${groups[@]}")
for group in "${wanted[@]}"; do
    [ -n "${members[$group]+set}" ] || { echo "install-deps: no group [$group] in $list" >&2; exit 1; }
done

installed() { [ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null)" = installed ]; }
missing_of() { # group -> the names not installed, one a line
    local package
    for package in ${members[$1]}; do
        installed "$package" || echo "$package"
    done
}

any_missing=
for group in "${wanted[@]}"; do
    [ -z "$(missing_of "$group")" ] || any_missing=yes
done
if [ -z "$any_missing" ]; then
    say "every package is installed"
    exit 0
fi

as_root=()
if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null || ! sudo -n true 2>/dev/null; then
        for group in "${wanted[@]}"; do
            missing=$(missing_of "$group" | tr '\n' ' ')
            [ -z "$missing" ] || note_group "$group" "not installed (needs root): ${missing% }"
        done
        exit 0
    fi
    as_root=(sudo -n)
fi
export DEBIAN_FRONTEND=noninteractive
# Another install may hold dpkg's lock: wait for it rather than fail.
apt=("${as_root[@]}" apt-get -o DPkg::Lock::Timeout=900 -q)

for group in "${wanted[@]}"; do
    if missing_of "$group" | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
        "${as_root[@]}" dpkg --add-architecture i386
    fi
done

# The indexes: a few tries, then on with what apt has. The architectures whose index
# failed are kept, so that a name missing from them is not blamed on the list.
failed_archs=
update_log=$(mktemp)
trap 'rm -f "$update_log"' EXIT
for try in $(seq 1 $tries); do
    "${apt[@]}" update >"$update_log" 2>&1 && ! grep -q '^[WE]: Failed to fetch' "$update_log" && break
    if [ "$try" -lt $tries ]; then
        say "apt-get update failed (try $try of $tries); again in ${pause}s"
        sleep "$pause"
        pause=$((pause * 2))
    else
        failures=$(grep -E '^[WE]: (Failed to fetch|The repository)' "$update_log" |
            sed -e 's/^[WE]: //' -e 's/  */ /g' | paste -sd ';' -)
        [ -n "$failures" ] || failures=$(grep -E '^[WE]: ' "$update_log" | tail -1)
        say "index not fetched after $tries tries, going on with the indexes apt has: $failures"
        failed_archs=$(grep -E '^Err:' "$update_log" | grep -oE ' (amd64|i386|arm64|all) ' | sort -u | tr -d ' ')
        [ -n "$failed_archs" ] || failed_archs=any
    fi
done

# Why one package cannot be installed, in one line of apt's own words; empty when it can.
# "unknown" when no source knows the name.
why_not() {
    local out
    out=$("${apt[@]}" install -s --no-install-recommends "$1" 2>&1)
    if echo "$out" | grep -q '^E: Unable to locate package\|^E: Couldn.t find any package'; then
        echo unknown
    elif echo "$out" | grep -q '^E: '; then
        local unmet
        unmet=$(echo "$out" | sed -n '/unmet dependencies:/{n;p;q}' | sed 's/  */ /g; s/^ //')
        echo "${unmet:+$unmet; }$(echo "$out" | grep '^E: ' | tail -1 | sed 's/^E: //')"
    fi
}

unknown=()
for group in "${wanted[@]}"; do
    mapfile -t missing < <(missing_of "$group")
    [ ${#missing[@]} -gt 0 ] || continue
    say "$group: installing ${missing[*]}"
    "${apt[@]}" install -y --no-install-recommends "${missing[@]}" >"$update_log" 2>&1 && continue
    # Something in the group cannot be installed: find it, and install the others.
    reasons=()
    installable=()
    for package in "${missing[@]}"; do
        reason=$(why_not "$package")
        if [ "$reason" = unknown ]; then
            arch=${package##*:}
            [ "$arch" != "$package" ] || arch=$(dpkg --print-architecture)
            if [ -n "$failed_archs" ] && { [ "$failed_archs" = any ] || echo "$failed_archs" | grep -qx "$arch"; }; then
                reasons+=("$package: not in the indexes apt has (an index could not be fetched)")
            else
                unknown+=("$package")
                reasons+=("$package: no source knows this name")
            fi
        elif [ -n "$reason" ]; then
            reasons+=("$package: $reason")
        else
            installable+=("$package")
        fi
    done
    if [ ${#installable[@]} -gt 0 ] &&
        ! "${apt[@]}" install -y --no-install-recommends "${installable[@]}" >"$update_log" 2>&1; then
        reasons+=("${installable[*]}: $(grep '^E: ' "$update_log" | tail -1 | sed 's/^E: //')")
    fi
    [ ${#reasons[@]} -gt 0 ] || reasons=("$(grep '^E: ' "$update_log" | tail -1 | sed 's/^E: //')")
    note_group "$group" "$(printf '%s; ' "${reasons[@]}" | sed 's/; $//')"
done

if [ ${#unknown[@]} -gt 0 ]; then
    say "FAULT in $list: no source knows ${unknown[*]}"
    exit 2
fi
exit 0
