# The install step's table, sourced by tools/test-fresh.sh (which gives check, in_root and
# $unreachable): tools/install-deps.sh in a fresh Debian root, against a local apt source
# that holds a package that can be installed and one whose dependency no source has.

# The local source, in the root's /kvz-repo: one small package that installs, one that
# cannot. Written by hand: a flat repository needs only its Packages file.
make_local_source() { # root
    local repo=$1/kvz-repo pkg
    rm -rf "$repo"
    pkg=$(mktemp -d)
    mkdir -p "$repo" "$pkg/DEBIAN" "$pkg/usr/share/kvz-installable"
    printf 'Package: kvz-installable\nVersion: 1.0\nArchitecture: all\nMaintainer: KVZDebugLib tests <tests@invalid>\nDescription: a package the install step can install\n' \
        >"$pkg/DEBIAN/control"
    echo installed >"$pkg/usr/share/kvz-installable/mark"
    dpkg-deb --root-owner-group -b "$pkg" "$repo/kvz-installable_1.0_all.deb" >/dev/null
    rm -rf "$pkg"
    local deb=$repo/kvz-installable_1.0_all.deb
    {
        dpkg-deb -f "$deb"
        echo "Filename: ./kvz-installable_1.0_all.deb"
        echo "Size: $(stat -c %s "$deb")"
        echo "SHA256: $(sha256sum "$deb" | cut -d' ' -f1)"
        echo
        printf 'Package: kvz-uninstallable\nVersion: 1.0\nArchitecture: all\nDepends: kvz-missing-dependency\n'
        printf 'Filename: ./kvz-uninstallable_1.0_all.deb\nSize: 1000\nDescription: its dependency is in no source\n'
    } >"$repo/Packages"
    echo 'deb [trusted=yes] file:/kvz-repo ./' >"$1/etc/apt/sources.list.d/kvz-repo.list"
}

# One row: the list given to the install step, then what must hold afterwards.
install_row() { # root name list-text extra-source
    local root=$1 name=$2 log=$1/install-row.log
    printf '%b' "$3" >"$root/install-row.txt"
    rm -f "$root/etc/apt/sources.list.d/unreachable.list"
    [ -z "$4" ] || echo "$4" >"$root/etc/apt/sources.list.d/unreachable.list"
    in_root "$root" dpkg -P kvz-installable >/dev/null 2>&1
    in_root "$root" /src/tools/install-deps.sh --list /install-row.txt \
        --status /install-row.status >"$log" 2>&1
    row_status=$?
    row_out=$(cat "$log" "$root/install-row.status")
    sed "s/^/  [$name] /" "$log"
    row_installed=no
    in_root "$root" dpkg-query -W -f='${db:Status-Status}' kvz-installable 2>/dev/null |
        grep -qx installed && row_installed=yes
}

row_holds() { # description, then expectations as "status N", "installed yes|no", "says TEXT"
    local what=$1 want
    shift
    local ok=0
    for want in "$@"; do
        case $want in
        status\ *) [ "$row_status" -eq "${want#status }" ] || { echo "  exit $row_status"; ok=1; } ;;
        installed\ *) [ "$row_installed" = "${want#installed }" ] || { echo "  installed: $row_installed"; ok=1; } ;;
        says\ *) grep -qF -- "${want#says }" <<<"$row_out" || { echo "  does not say: ${want#says }"; ok=1; } ;;
        esac
    done
    check "install step: $what" test $ok -eq 0
}

install_table() { # root
    make_local_source "$1"
    install_row "$1" uninstallable '[one]\nkvz-uninstallable\nkvz-installable\n' ''
    row_holds "a package that cannot be installed is named; the one beside it is installed" \
        "status 0" "installed yes" \
        "says one	kvz-uninstallable: kvz-uninstallable : Depends: kvz-missing-dependency but it is not installable"
    install_row "$1" unreachable '[one]\nkvz-installable\n' "$unreachable"
    row_holds "an index that cannot be fetched is reported in one line; the install goes on" \
        "status 0" "installed yes" "says index not fetched after 3 tries" "says 127.0.0.1:9"
    install_row "$1" unknown '[one]\nkvz-no-such-package\nkvz-installable\n' ''
    row_holds "a name no source knows: the others installed, then the step fails naming it" \
        "status 2" "installed yes" "says FAULT" "says no source knows kvz-no-such-package"
    rm -f "$1/etc/apt/sources.list.d/kvz-repo.list" "$1/etc/apt/sources.list.d/unreachable.list"
}
