#!/bin/sh
# upgrade_script.sh - installs an upgrade package from the medium.
#
# Arguments (given by the tool):
#   1 SNUM        device serial, may be empty (not used)
#   2 PACKAGE     file name of the verified package, update-VERSION.tar
#   3 "0"         (not used)
#   4 UPGRADEDIR  the medium's run/upgrade folder
#
# Package layout, a plain tar (names may also begin with "./"):
#   payload/...   files placed onto the device's "/": payload/usr/bin/app
#                 becomes /usr/bin/app. It must not carry etc/version.cfg.
#   install.sh    optional hook, run by sh after the payload is in place,
#                 in the device's "/", with the package path and the
#                 version as arguments; a non-zero exit fails the upgrade.
# At least one of the two must be there. No name may contain "..".
#
# Reads  UPGRADEDIR/PACKAGE and UPGRADEDIR/PACKAGE.md5, and checks the
#        package against its side file once more.
# Writes the payload onto the device, then, as the very last step, the
#        first line of VERSION_FILE below: the version cut from the package
#        name as the tool cuts it (after the first "update-", before the last
#        ".tar"), the other lines kept. The new file is written beside the
#        old one, synced and renamed over it, so the tool's second version
#        check sees the new version only after a finished upgrade.
#
# Exit codes: 0 installed and version written; 1 installing failed (payload,
#   hook or version file); 2 wrong arguments; 3 package or side file
#   missing; 4 the package does not match its side file; 7 the package's
#   name or layout is not one described above. Every failure is one line on
#   standard error.
#
# Uses only what BusyBox provides. KORVELLO_SIM_ROOT, set by the simulator,
# stands for the device's "/"; it is empty on the device itself.

VERSION_FILE=/etc/version.cfg

ROOT=${KORVELLO_SIM_ROOT:-}
ME=${0##*/}

fail() {
    code=$1
    shift
    echo "$ME: $*" >&2
    exit "$code"
}

check_arguments() {
    [ $# -eq 4 ] || fail 2 "expected 4 arguments (snum, package, 0, upgrade folder), got $#"
    case $2 in
        */* | '') fail 2 "package '$2' is not a file name" ;;
    esac
    [ -n "$4" ] || fail 2 "empty upgrade folder"
}

version_of() {
    case $1 in
        *update-*.tar*) ;;
        *) return ;;
    esac
    cut=${1#*update-}
    echo "${cut%.tar*}"
}

# The first run of 32 lowercase hexadecimal digits on the first line: the
# same rule the tool reads side files by.
digest_in() {
    head -n 1 "$1" | grep -o -E '[0-9a-f]{32}' | head -n 1
}

verify() {
    [ -f "$1" ] || fail 3 "no package $1"
    [ -f "$2" ] || fail 3 "no side file $2"
    expected=$(digest_in "$2")
    [ -n "$expected" ] || fail 4 "no checksum in $2"
    actual=$(md5sum "$1" | cut -d ' ' -f 1)
    [ "$actual" = "$expected" ] || fail 4 "$1 has checksum $actual, its side file says $expected"
}

# Sets payload (the member to unpack, empty for none), strip and hook.
read_layout() {
    listing=$(tar -tf "$1") || fail 7 "$1 is not a tar archive"
    if printf '%s\n' "$listing" | grep -q -E '(^|/)\.\.(/|$)'; then
        fail 7 "$1 holds a name with '..'"
    fi
    if printf '%s\n' "$listing" | grep -q -E '^(\./)?payload/etc/version\.cfg$'; then
        fail 7 "$1 carries etc/version.cfg; the version comes from the package name"
    fi
    payload=
    strip=1
    if printf '%s\n' "$listing" | grep -q '^payload/'; then
        payload=payload
    elif printf '%s\n' "$listing" | grep -q '^\./payload/'; then
        payload=./payload
        strip=2
    fi
    hook=$(printf '%s\n' "$listing" | grep -x -E '(\./)?install\.sh' | head -n 1)
    [ -n "$payload$hook" ] || fail 7 "$1 holds neither payload/ nor install.sh"
}

install_payload() {
    [ -n "$payload" ] || return 0
    tar -xf "$1" -C "$ROOT/" --strip-components "$strip" "$payload" \
        || fail 1 "unpacking the payload of $1 failed"
    sync
}

run_hook() {
    [ -n "$hook" ] || return 0
    hook_file=$(mktemp "${TMPDIR:-/tmp}/upgrade-hook.XXXXXX") \
        || fail 1 "cannot create a temporary file"
    tar -xOf "$1" "$hook" > "$hook_file" || fail 1 "cannot read $hook from $1"
    (cd "$ROOT/" && sh "$hook_file" "$1" "$2") || fail 1 "$hook of $1 failed"
    sync
}

write_version() {
    file=$ROOT$VERSION_FILE
    dir=${file%/*}
    mkdir -p "$dir/" || fail 1 "cannot create $dir"
    temp=$(mktemp "$dir/.version.cfg.XXXXXX") || fail 1 "cannot create a file in $dir"
    {
        printf '%s\n' "$1"
        if [ -f "$file" ]; then tail -n +2 "$file"; fi
    } > "$temp" || fail 1 "writing $temp failed"
    chmod 644 "$temp"
    sync || fail 1 "sync failed before renaming $temp"
    mv -f "$temp" "$file" || fail 1 "cannot rename $temp to $file"
    temp=
    sync
}

main() {
    check_arguments "$@"
    package=$4/$2
    version=$(version_of "$2")
    [ -n "$version" ] || fail 7 "no version in the package name '$2' (update-VERSION.tar)"

    hook_file=
    temp=
    trap 'rm -f "$hook_file" "$temp"' EXIT
    trap 'exit 1' HUP INT TERM
    rm -f "$ROOT${VERSION_FILE%/*}"/.version.cfg.??????

    verify "$package" "$package.md5"
    read_layout "$package"
    install_payload "$package"
    run_hook "$package" "$version"
    write_version "$version"
    echo "$ME: installed $2, version $version"
}

main "$@"
