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
#   payload/...   files, folders and symbolic links placed onto the device's
#                 "/": payload/usr/bin/app becomes /usr/bin/app. It must not
#                 carry etc/version.cfg, nor a name with a line feed.
#   install.sh    optional hook, run by sh after the payload is in place,
#                 in the device's "/", with the package path and the
#                 version as arguments; a non-zero exit fails the upgrade.
# At least one of the two must be there. No name may contain "..".
#
# Reads  UPGRADEDIR/PACKAGE and UPGRADEDIR/PACKAGE.md5, and checks the
#        package against its side file once more. Both must be regular
#        files; the side file is read as the tool reads it.
# Writes nothing on the medium. On the device the upgrade is one transaction:
#   check  the device needs room for the package (its size bounds what it
#        unpacks to); the package is unpacked into a stage, STAGE_DIR.new
#        below under the device's "/", and every payload entry is checked
#        against what stands at its place: no file where it has a folder or
#        the reverse, no symbolic link on the way, every folder it writes
#        writable, and the version file a regular file. The first conflict
#        refuses the package: the stage goes and nothing else was touched.
#        Otherwise the stage records which targets exist, is synced and
#        renamed STAGE_DIR.ready, which marks it complete.
#   change each payload file goes beside its target as NAME.korvello-new
#        (a hard link to the staged file, a copy across file systems), each
#        target it replaces is kept as a hard link NAME.korvello-old, all is
#        synced, and each new file is renamed over its target, so a power
#        cut leaves every file old or new, never half written.
#   verify every target is compared with the stage (type, link target,
#        contents, mode); then the hook runs; then, as the very last change,
#        the first line of VERSION_FILE is written: the version cut from the
#        package name as the tool cuts it (after the first "update-", before
#        the last ".tar"), the other lines kept, beside the old file, synced
#        and renamed over it. Only then do the kept files and the stage go.
#   undo  any failure after the change began (a rename, the verification,
#        the hook, the version) puts every kept file back, removes what the
#        payload added and drops the stage; the device is as it was.
# A marked stage left by an earlier run is finished by the next run before
# its own package, or, when it cannot be finished, undone; that run's own
# package then proceeds. A stage cut while it was being undone is undone.
# There is never more than one stage.
#
# Exit codes: 0 installed and version written; 1 installing failed (and was
#   undone); 2 wrong arguments; 3 package or side file missing or not a
#   regular file; 4 the package does not match its side file; 5 not enough
#   room on the device; 7 the package's name or layout is not one described
#   above; 9 the package conflicts with what stands on the device. Every
#   failure is one line on standard error.
#
# Uses only what BusyBox provides. KORVELLO_SIM_ROOT, set by the simulator,
# stands for the device's "/"; it is empty on the device itself.

# A misspelt variable stops the script instead of expanding to nothing,
# which in a path handed to rm -rf or mv would reach outside its folder.
# What may legitimately be unset is read as ${NAME:-}.
set -u

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
        9) reason="it conflicts with what stands on the device" ;;
        *) reason="ended by a signal or an unknown failure" ;;
    esac
    case $HISTORY_JOB in
        backup) moved=${4:-}/data-${1:-}/data-${1:-}-${2:-}-${3:-}.tar ;;
        restore) moved=${4:-}/data-${1:-}/${2:-} ;;
        *) moved=${4:-}/${2:-} ;;
    esac
    bytes=0
    [ -f "$moved" ] && bytes=$(stat -c %s "$moved")
    dir=$(cd "${0%/*}" && pwd -P)/log
    [ ! -L "$dir" ] && mkdir -p "$dir" || exit 0
    serial=$(printf '%s' "${1:-}" | tr -c 'A-Za-z0-9._-' '_')
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
MARGIN_KIB=1024

ROOT=${KORVELLO_SIM_ROOT:-}
ME=${0##*/}
NL='
'

# printf, not echo: names may hold backslashes.
say() {
    printf '%s: %s\n' "$ME" "$*"
}

fail() {
    code=$1
    shift
    say "$*" >&2
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
    printf '%s\n' "${cut%.tar*}"
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
# are never opened. md5sum reads standard input: given a name with a
# backslash or a line end, GNU md5sum puts a backslash before the digest.
verify() {
    [ -f "$1" ] || fail 3 "no package $1, or not a regular file"
    [ -f "$2" ] || fail 3 "no side file $2, or not a regular file"
    expected=$(digest_in "$2")
    [ -n "$expected" ] || fail 4 "no checksum in $2"
    actual=$(md5sum < "$1" | cut -c 1-32)
    [ "$actual" = "$expected" ] || fail 4 "$1 has checksum $actual, its side file says $expected"
}

# Sets payload (the member to unpack, empty for none), strip, hook and
# entries (how many names the package holds).
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
    entries=$(printf '%s\n' "$listing" | wc -l)
}

# The stage and the new files share their blocks (hard links), and a tar
# holds at least its files' bytes: the package's size, plus a block per
# entry for the rounding, bounds what the upgrade needs.
check_room() {
    # The size from the directory entry: BusyBox's wc -c would read the
    # whole file, one more pass over a slow stick.
    bytes=$(stat -L -c %s "$1")
    need_kib=$((bytes / 1024 + entries * 4 + MARGIN_KIB))
    have_kib=$(df -Pk "$ROOT/" | awk 'NR == 2 { print $4 }')
    case $have_kib in
        '' | *[!0-9]*) fail 1 "cannot read the free space of $ROOT/" ;;
    esac
    if [ "$have_kib" -lt "$need_kib" ]; then
        fail 5 "not enough room on the device: $need_kib KiB needed, $have_kib KiB free"
    fi
}

refuse() {
    rm -rf "$stage"
    fail "$@"
}

# A folder the upgrade creates or writes into must be writable.
check_writable() {
    parent=${1%/*}
    if [ -d "$parent" ] && [ ! -w "$parent" ]; then
        refuse 9 "conflict: $parent cannot be written"
    fi
}

# Checks every entry of the unpacked payload against the device and writes
# the plan: "dirs", the folders the payload creates, and "plan", one line
# per other entry, "E NAME" for a target that exists (it is kept and put
# back on failure) and "A NAME" for one the payload adds.
preflight() {
    odd=$(cd "$stage/payload" && find . -name "*$NL*" | head -n 1)
    [ -z "$odd" ] || refuse 7 "$package holds a name with a line feed"
    odd=$(cd "$stage/payload" && find . ! -type d ! -type f ! -type l | head -n 1)
    [ -z "$odd" ] || refuse 7 "$package holds ${odd#./}, neither a file, a folder nor a link"
    (cd "$stage/payload" && find . -type d > "$stage/folders" && find . ! -type d > "$stage/others") \
        || refuse 1 "cannot list the payload of $package"
    : > "$stage/dirs"
    while IFS= read -r dir; do
        [ "$dir" != . ] || continue
        name=${dir#./} target=$ROOT/${dir#./}
        if [ -L "$target" ]; then
            refuse 9 "conflict: /$name is a symbolic link on the way of the package's folder"
        elif [ -e "$target" ] && [ ! -d "$target" ]; then
            refuse 9 "conflict: /$name is a file on the device, a folder in the package"
        elif [ ! -e "$target" ]; then
            check_writable "$target"
            printf '%s\n' "$name" >> "$stage/dirs"
        fi
    done < "$stage/folders"
    : > "$stage/plan"
    while IFS= read -r file; do
        name=${file#./} target=$ROOT/${file#./}
        if [ -d "$target" ]; then
            refuse 9 "conflict: /$name is a folder on the device, a file in the package"
        fi
        if [ -d "$target.korvello-new" ] || [ -d "$target.korvello-old" ]; then
            refuse 9 "conflict: /$name.korvello-new or .korvello-old is a folder"
        fi
        check_writable "$target"
        if [ -e "$target" ] || [ -L "$target" ]; then
            printf 'E %s\n' "$name"
        else
            printf 'A %s\n' "$name"
        fi
    done < "$stage/others" >> "$stage/plan"
    version_file=$ROOT$VERSION_FILE
    if { [ -e "$version_file" ] || [ -L "$version_file" ]; } \
        && { [ ! -f "$version_file" ] || [ -L "$version_file" ]; }; then
        refuse 9 "conflict: $VERSION_FILE is not a regular file"
    fi
    check_writable "$version_file"
}

# Unpacks what the package installs into a stage of its own under the
# device's "/": the payload, the hook, the version, the package's name and
# the plan. Only when all of it is checked and synced is the stage renamed
# STAGE.ready, which marks it complete; nothing of the device has been
# touched before.
stage_package() {
    rm -rf "$stage" || fail 1 "cannot clear $stage"
    mkdir -p "$stage/payload" || fail 1 "cannot create $stage"
    if [ -n "$payload" ]; then
        tar -xf "$1" -C "$stage/payload" --strip-components "$strip" "$payload" \
            || refuse 1 "unpacking the payload of $1 failed"
    fi
    if [ -n "$hook" ]; then
        tar -xOf "$1" "$hook" > "$stage/install.sh" || refuse 1 "cannot read $hook from $1"
    fi
    preflight
    printf '%s\n' "$2" > "$stage/version" || refuse 1 "cannot write into $stage"
    head -n 1 "$ROOT$VERSION_FILE" > "$stage/was" 2>/dev/null
    printf '%s\n' "$1" > "$stage/package" || refuse 1 "cannot write into $stage"
    sync || refuse 1 "sync failed after unpacking $1"
    mv "$stage" "$ready" || refuse 1 "cannot mark $stage complete"
    sync || fail 1 "sync failed after marking $ready complete"
}

# Whether the target of a payload entry is what the stage holds: the same
# type, the same link target, the same contents and mode.
placed() {
    staged=$ready/payload/$1 target=$ROOT/$1
    if [ -L "$staged" ]; then
        [ -L "$target" ] && [ "$(readlink "$target")" = "$(readlink "$staged")" ]
        return
    fi
    [ -f "$target" ] && [ ! -L "$target" ] || return 1
    [ "$target" -ef "$staged" ] && return 0
    cmp -s "$staged" "$target" && [ "$(stat -c %a "$target")" = "$(stat -c %a "$staged")" ]
}

# Hard links cost no room; a link or a target on another file system is
# copied instead.
link_or_copy() {
    if [ ! -L "$1" ] && ln "$1" "$2" 2>/dev/null; then
        return 0
    fi
    cp -a "$1" "$2"
}

# Puts the marked payload in place, keeping what it replaces: each file
# first goes beside its target as NAME.korvello-new, the target is kept as
# NAME.korvello-old, all is synced, and then each new file is renamed over
# its target. Both passes skip what an interrupted run already did, so a
# later run finishes the same stage. Returns non-zero at the first failure.
install_payload() {
    while IFS= read -r name; do
        mkdir -p "$ROOT/$name" || return 1
    done < "$ready/dirs"
    while IFS= read -r line; do
        name=${line#? } target=$ROOT/${line#? }
        ! placed "$name" || continue
        rm -f "$target.korvello-new"
        case $line in
            E*) if [ ! -e "$target.korvello-old" ] && [ ! -L "$target.korvello-old" ]; then
                    link_or_copy "$target" "$target.korvello-old" || return 1
                fi ;;
        esac
        link_or_copy "$ready/payload/$name" "$target.korvello-new" || return 1
    done < "$ready/plan"
    sync || return 1
    while IFS= read -r line; do
        target=$ROOT/${line#? }
        [ -e "$target.korvello-new" ] || [ -L "$target.korvello-new" ] || continue
        mv -f "$target.korvello-new" "$target" || return 1
    done < "$ready/plan"
    sync
}

# The first entry whose target is not what the stage holds, if any.
misplaced() {
    while IFS= read -r name; do
        if [ ! -d "$ROOT/$name" ] || [ -L "$ROOT/$name" ]; then
            printf '/%s\n' "$name"
            return
        fi
    done < "$ready/dirs"
    while IFS= read -r line; do
        placed "${line#? }" || { printf '/%s\n' "${line#? }"; return; }
    done < "$ready/plan"
}

run_hook() {
    [ -f "$ready/install.sh" ] || return 0
    (cd "$ROOT/" && sh "$ready/install.sh" "$1" "$2") || return 1
    : > "$ready/hooked"
    sync
}

# Writes the version beside the old file and renames it over it; returns
# non-zero when the device does not name the version afterwards.
write_version() {
    file=$ROOT$VERSION_FILE
    dir=${file%/*}
    mkdir -p "$dir/" || return 1
    temp=$(mktemp "$dir/.version.cfg.XXXXXX") || return 1
    {
        printf '%s\n' "$1"
        if [ -f "$file" ]; then tail -n +2 "$file"; fi
    } > "$temp" || return 1
    chmod 644 "$temp"
    sync || return 1
    mv -f "$temp" "$file" || return 1
    temp=
    sync
    [ "$(head -n 1 "$file")" = "$1" ]
}

# Puts the device back as it was before the stage: each kept file over its
# target, what the payload added removed, the folders it created removed
# (those still empty: a hook may have put files there), then the stage
# goes. The stage is marked first, so that a cut in between is undone by
# the next run, and every step may run twice.
roll_back() {
    : > "$ready/undo"
    sync
    while IFS= read -r line; do
        target=$ROOT/${line#? }
        rm -f "$target.korvello-new"
        case $line in
            # A rename between two links to one file does nothing at all:
            # a target not yet replaced is its own kept file.
            E*) if [ "$target" -ef "$target.korvello-old" ] && [ ! -L "$target" ]; then
                    rm -f "$target.korvello-old" || return 1
                elif [ -e "$target.korvello-old" ] || [ -L "$target.korvello-old" ]; then
                    mv -f "$target.korvello-old" "$target" || return 1
                fi ;;
            A*) if [ ! -d "$target" ] || [ -L "$target" ]; then
                    rm -f "$target" || return 1
                fi ;;
        esac
    done < "$ready/plan"
    LC_ALL=C sort -r "$ready/dirs" | while IFS= read -r name; do
        rmdir "$ROOT/$name" 2>/dev/null
    done
    sync
    drop_stage || return 1
}

abort() {
    rm -f "$temp"
    temp=
    if roll_back; then
        fail 1 "$1; rolled back, the device is as it was"
    fi
    fail 1 "$1; rolling back failed, the next run undoes $ready"
}

# The marked stage goes at once, by a rename to the unmarked name, which any
# later run drops: a cut while it is being removed leaves no stage half
# marked.
drop_stage() {
    mv "$ready" "$stage" && sync && rm -rf "$stage" && sync
}

# Once the version names the package, the kept files and the stage go:
# there is no way back past this point.
drop_kept() {
    while IFS= read -r line; do
        case $line in
            E*) rm -f "$ROOT/${line#? }.korvello-old" ;;
        esac
    done < "$ready/plan"
    sync
    drop_stage || fail 1 "cannot remove $ready"
}

# Finishes the marked stage: payload, verification, hook (once), then the
# version as the very last change, then the kept files and the stage go.
# The stage names its own package and version: a stage left by a power cut
# is not this run's package.
finish_stage() {
    staged_version=$(cat "$ready/version")
    staged_package=$(cat "$ready/package")
    # The version is written last: once it names the stage's package (and
    # did not before), only the kept files and the stage are left to go.
    current=$(head -n 1 "$ROOT$VERSION_FILE" 2>/dev/null)
    if [ "$current" = "$staged_version" ] && [ "$current" != "$(cat "$ready/was")" ]; then
        drop_kept
        return
    fi
    install_payload || abort "placing the payload of $staged_package failed"
    wrong=$(misplaced)
    [ -z "$wrong" ] || abort "$wrong is not what $staged_package holds after placing it"
    if [ ! -e "$ready/hooked" ] && ! run_hook "$staged_package" "$staged_version"; then
        abort "install.sh of $staged_package failed"
    fi
    write_version "$staged_version" || abort "cannot write $staged_version into $VERSION_FILE"
    drop_kept
}

# What an earlier run left: an unmarked stage is dropped; a marked one is
# finished, or undone when it cannot be finished or was being undone, so
# that it never stands in the way of this run's own package.
settle() {
    rm -rf "$stage" || fail 1 "cannot remove $stage"
    [ -d "$ready" ] || return 0
    # A stage of an earlier script keeps no plan: there is nothing to undo
    # it by, and finishing it is what failed before.
    if [ ! -f "$ready/plan" ]; then
        rm -rf "$ready" || fail 1 "cannot remove $ready"
        sync
        say "dropped $ready, which an earlier upgrade script left unfinished" >&2
    elif [ -e "$ready/undo" ]; then
        staged_package=$(cat "$ready/package")
        roll_back || fail 1 "cannot roll back $ready"
        say "rolled back what $staged_package left unfinished" >&2
    elif ! (finish_stage); then
        [ ! -d "$ready" ] || fail 1 "cannot finish nor roll back $ready"
    fi
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

    settle
    verify "$package" "$package.md5"
    read_layout "$package"
    check_room "$package"
    stage_package "$package" "$version"
    finish_stage
    say "installed $2, version $version"
}

# The job runs in a subshell of its own, so that its exits and traps end
# there and the history line is written whatever the job did.
( main "$@" )
status=$?
history_line "$status" "$@"
exit "$status"
