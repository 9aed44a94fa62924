#!/bin/sh
# backup_script.sh - writes one backup of the device's data onto the medium.
#
# Arguments (given by the tool):
#   1 SNUM       device serial, may be empty
#   2 TIMESTAMP  yyyyMMddhhmmss, 14 digits
#   3 INDEX      number of this backup, a positive integer
#   4 BACKUPDIR  the medium's run/data folder
#
# Reads  DATA_DIR below (the whole folder), once: the archive's bytes go to
#        the medium and through md5sum in the same pass, so the side file
#        states what the device meant to store.
# Writes BACKUPDIR/data-SNUM/data-SNUM-TIMESTAMP-INDEX.tar, a tar of the
#        folder's contents, and beside it data-SNUM-TIMESTAMP-INDEX.md5 in
#        md5sum's form ("digest  file name"). Both are written as NAME.part
#        and synced; then the side file is renamed to its final name, then
#        the archive, each rename synced. A power cut therefore never leaves
#        a file under its final name with other contents, nor an archive
#        without its side file (a side file without its archive is ignored by
#        the tool). The next run removes what an interrupted one left.
#
# The medium is the folder that holds run/, the folder of this script.
# Every folder written to must lie on it once symbolic links are followed.
#
# Refuses before writing anything when the medium lacks room for the archive
# (an upper bound of its size plus MARGIN_KIB) or when the archive could
# reach 4 GiB on a FAT medium, whose files cannot be that large.
#
# Exit codes: 0 written and synced; 1 writing failed; 2 wrong arguments;
#   3 no data folder; 5 not enough free space; 6 too large for FAT;
#   8 a folder to write resolves off the medium (a symbolic link to
#   elsewhere, or one that leads nowhere). Every refusal or failure is one
#   line on standard error.
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
HISTORY_JOB=backup
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

DATA_DIR=/data
MARGIN_KIB=1024

ROOT=${KORVELLO_SIM_ROOT:-}
ME=${0##*/}

FAT_MAGIC=4d44
FAT_MAX_BYTES=4294967295

fail() {
    code=$1
    shift
    # printf, not echo: names may hold backslashes.
    printf '%s: %s\n' "$ME" "$*" >&2
    exit "$code"
}

check_arguments() {
    [ $# -eq 4 ] || fail 2 "expected 4 arguments (snum, time stamp, index, backup folder), got $#"
    case $2 in
        [0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9]) ;;
        *) fail 2 "time stamp '$2' is not 14 digits" ;;
    esac
    case $3 in
        '' | *[!0-9]* | 0*) fail 2 "index '$3' is not a positive number" ;;
    esac
    [ -n "$4" ] || fail 2 "empty backup folder"
}

# The physical path of a folder that exists, symbolic links followed.
resolved() {
    (cd -P -- "$1" 2>/dev/null && pwd -P)
}

# Refuses a folder that is, or would be created, off the medium. A folder
# that does not exist yet is judged by its parent, where mkdir will make it.
check_on_medium() {
    path=$1
    while [ ! -d "$path" ]; do
        if [ -L "$path" ]; then
            fail 8 "$1 is a symbolic link that leads nowhere; the backup stays on the medium"
        fi
        parent=${path%/*}
        [ "$parent" != "$path" ] || parent=.
        path=${parent:-/}
    done
    place=$(resolved "$path")
    case $place/ in
        "$medium"/*) ;;
        *) fail 8 "$1 resolves to $place, off the medium $medium" ;;
    esac
}

# An upper bound of what tar writes for the folder, whatever its names: per
# entry a header and up to 511 bytes of padding, and for a name or link
# target of 100 bytes or more (as tar stores it, "./" in front) one more
# header and the name itself with its NUL, padded to 512 bytes; then the
# data, the two closing blocks and the padding to tar's 10 KiB records.
# GNU tar and BusyBox tar both store long names in such an extra record.
# Lengths are counted in bytes (LC_ALL=C), as tar stores names.
estimated_archive_bytes() {
    bytes=$(du -sb "$1" | awk '{ print $1 }')
    targets=$(find "$1" -type l -exec readlink {} \; | LC_ALL=C awk '
        length($0) >= 100 { sum += 1024 + length($0) } END { printf "%.0f\n", sum }')
    find "$1" | LC_ALL=C awk -v bytes="$bytes" -v targets="$targets" -v skip="${#1}" '
        { name = length($0) - skip + 2; sum += 1023; if (name >= 100) sum += 1024 + name }
        END { printf "%.0f\n", bytes + targets + sum + 1024 + 10240 }'
}

free_kib() {
    df -Pk "$1" | awk 'NR == 2 { print $4 }'
}

check_room() {
    archive_bytes=$1
    folder=$2
    fs_type=$(stat -f -c %t "$folder")
    if [ "$fs_type" = "$FAT_MAGIC" ] && [ "$archive_bytes" -gt "$FAT_MAX_BYTES" ]; then
        fail 6 "the archive could be $archive_bytes bytes; a FAT medium holds files below 4 GiB"
    fi
    need_kib=$((archive_bytes / 1024 + 1 + MARGIN_KIB))
    have_kib=$(free_kib "$folder")
    [ -n "$have_kib" ] || fail 1 "cannot read the free space of $folder"
    if [ "$have_kib" -lt "$need_kib" ]; then
        fail 5 "not enough free space on the medium: $need_kib KiB needed, $have_kib KiB free"
    fi
}

# What an interrupted run left: its .part files, and a side file published
# before the cut reached its archive's rename.
remove_leftovers() {
    for part in "$folder"/*.tar.part; do
        [ -e "$part" ] || [ -L "$part" ] || continue
        base=${part%.tar.part}
        if [ ! -e "$base.tar" ]; then
            rm -f "$base.md5"
        fi
    done
    rm -f "$folder"/*.part
}

# Writes the archive and takes its digest from the same stream. A POSIX
# shell keeps only the last status of a pipeline, so tar and tee report
# theirs on descriptor 3, which is read together with md5sum's line.
write_archive() {
    statuses=$(
        {
            { tar -cf - -C "$data" .; echo "tar $?" >&3; } \
                | { tee "$archive.part"; echo "tee $?" >&3; } \
                | md5sum
        } 3>&1
    )
    status_of() {
        printf '%s\n' "$statuses" | awk -v what="$1" '$1 == what { print $2 }'
    }
    [ "$(status_of tar)" = 0 ] || fail 1 "tar could not read all of $data"
    [ "$(status_of tee)" = 0 ] || fail 1 "writing $archive.part failed"
    digest=$(printf '%s\n' "$statuses" | awk '$2 == "-" && length($1) == 32 { print $1 }')
    [ -n "$digest" ] || fail 1 "cannot compute the checksum of $archive.part"
    printf '%s  %s\n' "$digest" "$name.tar" > "$side.part" || fail 1 "writing $side.part failed"
}

# Renames only after the contents are on the medium: the rename is what
# makes a file count, and it is synced too before the next step.
publish() {
    mv -f "$1" "$2" || fail 1 "cannot rename $1 to $2"
    sync || fail 1 "sync failed after publishing $2"
}

main() {
    check_arguments "$@"
    data=$ROOT$DATA_DIR
    folder=$4/data-$1
    name=data-$1-$2-$3
    archive=$folder/$name.tar
    side=$folder/$name.md5

    here=${0%/*}
    [ "$here" != "$0" ] || here=.
    medium=$(resolved "$here/..") || fail 1 "cannot find the medium above $here"
    [ "$medium" != / ] || medium=
    check_on_medium "$4"
    check_on_medium "$folder"

    [ -d "$data" ] || fail 3 "no data folder $data"
    mkdir -p "$folder" || fail 1 "cannot create $folder"
    check_on_medium "$folder"
    remove_leftovers

    estimate=$(estimated_archive_bytes "$data")
    case $estimate in
        '' | *[!0-9]*) fail 1 "cannot measure $data" ;;
    esac
    check_room "$estimate" "$folder"

    # A run that stops before its archive is published takes its side file
    # back, so that no side file stands for an archive that never came.
    trap 'rm -f "$archive.part" "$side.part"; [ -e "$archive" ] || rm -f "$side"' EXIT
    trap 'exit 1' HUP INT TERM

    write_archive
    sync || fail 1 "sync failed before publishing $name"
    publish "$side.part" "$side"
    publish "$archive.part" "$archive"

    printf '%s: wrote %s\n' "$ME" "$archive"
}

# The job runs in a subshell of its own, so that its exits and traps end
# there and the history line is written whatever the job did.
( main "$@" )
status=$?
history_line "$status" "$@"
exit "$status"
