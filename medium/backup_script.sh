#!/bin/sh
# backup_script.sh - writes one backup of the device's data onto the medium.
#
# Arguments (given by the tool):
#   1 SNUM       device serial, may be empty
#   2 TIMESTAMP  yyyyMMddhhmmss, 14 digits
#   3 INDEX      number of this backup, a positive integer
#   4 BACKUPDIR  the medium's run/data folder
#
# Reads  DATA_DIR below (the whole folder).
# Writes BACKUPDIR/data-SNUM/data-SNUM-TIMESTAMP-INDEX.tar, a tar of the
#        folder's contents, and beside it data-SNUM-TIMESTAMP-INDEX.md5 in
#        md5sum's form ("digest  file name"). Each is written as NAME.part,
#        synced and then renamed, so a power cut never leaves a file under
#        its final name with incomplete contents; leftover .part files of an
#        interrupted run are removed by the next one.
#
# Refuses before writing anything when the medium lacks room for the archive
# (its estimated size plus MARGIN_KIB) or when the archive would reach 4 GiB
# on a FAT medium, whose files cannot be that large.
#
# Exit codes: 0 written and synced; 1 writing failed; 2 wrong arguments;
#   3 no data folder; 5 not enough free space; 6 too large for FAT.
#   Every refusal or failure is one line on standard error.
#
# Uses only what BusyBox provides. KORVELLO_SIM_ROOT, set by the simulator,
# stands for the device's "/"; it is empty on the device itself.

DATA_DIR=/data
MARGIN_KIB=1024

ROOT=${KORVELLO_SIM_ROOT:-}
ME=${0##*/}

FAT_MAGIC=4d44
FAT_MAX_BYTES=4294967295

fail() {
    code=$1
    shift
    echo "$ME: $*" >&2
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

# What tar will write: the data, a header and up to one block of padding per
# entry (a second header for long names), and the closing blocks.
estimated_archive_bytes() {
    bytes=$(du -sb "$1" | awk '{ print $1 }')
    entries=$(find "$1" | wc -l)
    echo $((bytes + entries * 1536 + 10240))
}

free_kib() {
    df -Pk "$1" | awk 'NR == 2 { print $4 }'
}

check_room() {
    archive_bytes=$1
    folder=$2
    fs_type=$(stat -f -c %t "$folder")
    if [ "$fs_type" = "$FAT_MAGIC" ] && [ "$archive_bytes" -gt "$FAT_MAX_BYTES" ]; then
        fail 6 "the archive would be $archive_bytes bytes; a FAT medium holds files below 4 GiB"
    fi
    need_kib=$((archive_bytes / 1024 + 1 + MARGIN_KIB))
    have_kib=$(free_kib "$folder")
    [ -n "$have_kib" ] || fail 1 "cannot read the free space of $folder"
    if [ "$have_kib" -lt "$need_kib" ]; then
        fail 5 "not enough free space on the medium: $need_kib KiB needed, $have_kib KiB free"
    fi
}

# Renames only after the contents are on the medium: the rename is what
# makes a file count, and it is synced too before the tool is told.
publish() {
    sync || fail 1 "sync failed before publishing $2"
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

    [ -d "$data" ] || fail 3 "no data folder $data"
    mkdir -p "$folder" || fail 1 "cannot create $folder"
    rm -f "$folder"/*.part

    estimate=$(estimated_archive_bytes "$data")
    case $estimate in
        '' | *[!0-9]*) fail 1 "cannot measure $data" ;;
    esac
    check_room "$estimate" "$folder"

    trap 'rm -f "$archive.part" "$side.part"' EXIT
    trap 'exit 1' HUP INT TERM

    tar -cf "$archive.part" -C "$data" . || fail 1 "writing $archive.part failed"
    publish "$archive.part" "$archive"

    digest=$(md5sum "$archive" | cut -d ' ' -f 1)
    [ ${#digest} -eq 32 ] || fail 1 "cannot compute the checksum of $archive"
    printf '%s  %s\n' "$digest" "$name.tar" > "$side.part" || fail 1 "writing $side.part failed"
    publish "$side.part" "$side"

    echo "$ME: wrote $archive"
}

main "$@"
