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
#        package against its side file once more. Both must be regular
#        files; the side file is read as the tool reads it.
# Writes nothing on the medium. On the device: first a stage, STAGE_DIR.new
#        below under the device's "/", holding the unpacked payload, the hook
#        and the version; synced and renamed STAGE_DIR.ready, which marks it
#        complete. Only then is any installed file replaced: each payload
#        file goes beside its target as NAME.korvello-new, all are synced,
#        and each is renamed over its target, so a power cut leaves every
#        file old or new, never half written. Then the hook runs, and, as
#        the very last step, the first line of VERSION_FILE is written: the
#        version cut from the package name as the tool cuts it (after the
#        first "update-", before the last ".tar"), the other lines kept,
#        beside the old file, synced and renamed over it. So the version
#        names the new package only once all of it is installed, and the
#        tool's second version check sees it only after a finished upgrade.
#        A marked stage left by a power cut is finished by the next run
#        before its own package; an unmarked one is dropped.
#
# Exit codes: 0 installed and version written; 1 installing failed (payload,
#   hook or version file); 2 wrong arguments; 3 package or side file
#   missing or not a regular file; 4 the package does not match its side
#   file; 7 the package's
#   name or layout is not one described above. Every failure is one line on
#   standard error.
#
# Uses only what BusyBox provides. KORVELLO_SIM_ROOT, set by the simulator,
# stands for the device's "/"; it is empty on the device itself.

# History: one line per run in run/log/SERIAL.log on the medium, for whoever
# looks at the stick after a failed job (the device keeps no log and
# reboots). Tab-separated: UTC time, job, exit code, its reason, bytes moved,
# seconds taken, the arguments. Writing it never changes the job's exit
# code: on a full or read-only medium, or where run/log is a link, the line
# is lost. A line torn by a power cut is closed before the next is added,
# and the file is cut to its newer half once it passes HISTORY_KEEP bytes.
HISTORY_JOB=upgrade
HISTORY_KEEP=65536
HISTORY_START=$(date +%s)

history_line() (
    status=$1
    shift
    case $status in
        0) reason="done" ;;
        1) reason="a write, unpack or install step failed" ;;
        2) reason="wrong arguments" ;;
        3) reason="something to read is missing or not a regular file" ;;
        4) reason="a checksum does not match its side file" ;;
        5) reason="not enough room" ;;
        6) reason="too large for FAT" ;;
        7) reason="a package name or layout it does not take" ;;
        8) reason="a folder to write resolves off the medium" ;;
        *) reason="ended by a signal or an unknown failure" ;;
    esac
    case $HISTORY_JOB in
        backup) moved=$4/data-$1/data-$1-$2-$3.tar ;;
        restore) moved=$4/data-$1/$2 ;;
        *) moved=$4/$2 ;;
    esac
    bytes=0
    [ -f "$moved" ] && bytes=$(stat -c %s "$moved")
    dir=$(cd "${0%/*}" && pwd -P)/log
    [ ! -L "$dir" ] && mkdir -p "$dir" || exit 0
    serial=$(printf '%s' "$1" | tr -c 'A-Za-z0-9._-' '_')
    log=$dir/${serial:-_}.log
    if [ -L "$log" ] || { [ -e "$log" ] && [ ! -f "$log" ]; }; then exit 0; fi
    if [ -s "$log" ]; then
        case $(tail -c 1 "$log" | od -An -tx1) in
            *0a*) ;;
            *) printf '\n' >> "$log" ;;
        esac
    fi
    if [ "$(stat -c %s "$log" 2>/dev/null || echo 0)" -gt "$HISTORY_KEEP" ]; then
        tail -c "$((HISTORY_KEEP / 2))" "$log" | sed 1d > "$log.new" && mv -f "$log.new" "$log"
    fi
    printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$(date -u +%Y-%m-%dT%H:%M:%SZ)" "$HISTORY_JOB" \
        "$status" "$reason" "$bytes" "$(($(date +%s) - HISTORY_START))" \
        "$(printf '%s' "$*" | tr '\t\n\r' '   ')" >> "$log" && sync
) 2>/dev/null

VERSION_FILE=/etc/version.cfg
STAGE_DIR=/.korvello-upgrade

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

# The digest in a side file, read as the tool reads it: a byte-order mark at
# the start selects UTF-8, UTF-16 or UTF-32 (either end) and is skipped;
# without one the bytes count as UTF-8, where no byte of a multibyte
# sequence is a hexadecimal digit. Every CR character is dropped. The result
# is the leftmost run of 32 characters of [0-9a-f] on the first line (up to
# the first LF), or nothing. The file streams through od and awk stops at the
# first line end or digest, so a huge side file without a line end costs
# time but no memory. Callers make sure it is a regular file: a FIFO would
# block od.
digest_in() {
    od -An -v -tx1 "$1" | awk '
        BEGIN {
            for (i = 0; i < 256; i++) value[sprintf("%02x", i)] = i
            hex = "0123456789abcdef"
            for (i = 1; i <= 16; i++) digit[i <= 10 ? 47 + i : 86 + i] = substr(hex, i, 1)
            scale[0] = 1; scale[1] = 256; scale[2] = 65536; scale[3] = 16777216
            filled = 0; acc = 0
        }
        function unit(u) {
            if (u == 13) return
            if (u == 10) { done = 1; exit }
            if (!(u in digit)) { run = ""; return }
            run = run digit[u]
            if (length(run) == 32) { print run; done = 1; exit }
        }
        function decode(b) {
            if (width == 1) { unit(b); return }
            # Set to 0 above, so that scale[filled] finds the key "0".
            if (little) acc += b * scale[filled]
            else acc = acc * 256 + b
            if (++filled < width) return
            code = acc; acc = 0; filled = 0
            unit(code)
        }
        function choose(   h, i, skip) {
            for (i = 0; i < heads; i++) h = h sprintf("%02x", head[i])
            width = 1; little = 0; skip = 0
            if (heads == 4 && h == "0000feff") { width = 4; skip = 4 }
            else if (heads == 4 && h == "fffe0000") { width = 4; little = 1; skip = 4 }
            else if (substr(h, 1, 4) == "feff") { width = 2; skip = 2 }
            else if (substr(h, 1, 4) == "fffe") { width = 2; little = 1; skip = 2 }
            else if (substr(h, 1, 6) == "efbbbf") skip = 3
            chosen = 1
            for (i = skip; i < heads; i++) decode(head[i])
        }
        {
            for (f = 1; f <= NF; f++) {
                if (chosen) decode(value[$f])
                else { head[heads++] = value[$f]; if (heads == 4) choose() }
            }
        }
        END { if (!done && !chosen) choose() }'
}

# [ -f ] follows symbolic links and is false for FIFOs and devices, which
# are never opened.
verify() {
    [ -f "$1" ] || fail 3 "no package $1, or not a regular file"
    [ -f "$2" ] || fail 3 "no side file $2, or not a regular file"
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

# Unpacks what the package installs into a stage of its own under the
# device's "/": the payload, the hook, the version and the list of files.
# Only when all of it is synced is the stage renamed STAGE.ready, which marks
# it complete; nothing of the device has been touched before.
stage_package() {
    rm -rf "$stage" || fail 1 "cannot clear $stage"
    mkdir -p "$stage/payload" || fail 1 "cannot create $stage"
    if [ -n "$payload" ]; then
        tar -xf "$1" -C "$stage/payload" --strip-components "$strip" "$payload" \
            || fail 1 "unpacking the payload of $1 failed"
    fi
    if [ -n "$hook" ]; then
        tar -xOf "$1" "$hook" > "$stage/install.sh" || fail 1 "cannot read $hook from $1"
    fi
    (cd "$stage/payload" && find . ! -type d) > "$stage/files" \
        || fail 1 "cannot list the payload of $1"
    printf '%s\n' "$2" > "$stage/version" || fail 1 "cannot write into $stage"
    printf '%s\n' "$1" > "$stage/package" || fail 1 "cannot write into $stage"
    sync || fail 1 "sync failed after unpacking $1"
    mv "$stage" "$ready" || fail 1 "cannot mark $stage complete"
    sync || fail 1 "sync failed after marking $ready complete"
}

# Puts the marked payload in place without ever leaving a file half written
# under its own name: each file first goes beside its target as
# NAME.korvello-new (a rename, or a copy where the target lies on another
# file system), all of them are synced, and then each is renamed over its
# target. Both passes skip what an interrupted run already did, so a later
# run finishes the same stage.
install_payload() {
    (cd "$ready/payload" && find . -type d) | while IFS= read -r dir; do
        mkdir -p "$ROOT/$dir" || exit 1
    done || fail 1 "cannot create the payload's folders"
    while IFS= read -r file; do
        [ -e "$ready/payload/$file" ] || [ -L "$ready/payload/$file" ] || continue
        mv -f "$ready/payload/$file" "$ROOT/$file.korvello-new" \
            || fail 1 "cannot place $file of the payload beside its target"
    done < "$ready/files"
    sync || fail 1 "sync failed after placing the payload"
    while IFS= read -r file; do
        [ -e "$ROOT/$file.korvello-new" ] || [ -L "$ROOT/$file.korvello-new" ] || continue
        mv -f "$ROOT/$file.korvello-new" "$ROOT/$file" \
            || fail 1 "cannot rename $file of the payload over its target"
    done < "$ready/files"
    sync || fail 1 "sync failed after installing the payload"
}

run_hook() {
    [ -f "$ready/install.sh" ] || return 0
    (cd "$ROOT/" && sh "$ready/install.sh" "$1" "$2") || return 1
    : > "$ready/hooked"
    sync
}

# Finishes the marked stage: payload, hook (once), then the version as the
# very last change, then the stage goes. The stage names its own package
# and version: a stage left by a power cut is not this run's package.
finish_stage() {
    staged_version=$(cat "$ready/version")
    staged_package=$(cat "$ready/package")
    install_payload
    # A failing hook drops the stage, so that it does not stand in the way
    # of every later upgrade.
    if [ ! -e "$ready/hooked" ] && ! run_hook "$staged_package" "$staged_version"; then
        rm -rf "$ready"
        sync
        fail 1 "install.sh of $staged_package failed"
    fi
    write_version "$staged_version"
    rm -rf "$ready" || fail 1 "cannot remove $ready"
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

    stage=$ROOT$STAGE_DIR.new
    ready=$ROOT$STAGE_DIR.ready

    temp=
    trap 'rm -f "$temp"' EXIT
    trap 'exit 1' HUP INT TERM
    rm -f "$ROOT${VERSION_FILE%/*}"/.version.cfg.??????

    # An upgrade that was marked complete before a power cut is finished
    # first: its files may already be partly in place.
    if [ -d "$ready" ]; then
        finish_stage
    fi

    verify "$package" "$package.md5"
    read_layout "$package"
    stage_package "$package" "$version"
    finish_stage
    echo "$ME: installed $2, version $version"
}

# The job runs in a subshell of its own, so that its exits and traps end
# there and the history line is written whatever the job did.
( main "$@" )
status=$?
history_line "$status" "$@"
exit "$status"
