#!/bin/sh
# recover_script.sh - replaces the device's data with one backup from the medium.
#
# Arguments (given by the tool):
#   1 SNUM       device serial, may be empty
#   2 ARCHIVE    file name of the chosen backup, data-SNUM-TIMESTAMP-INDEX.tar
#   3 INDEX      its backup index
#   4 BACKUPDIR  the medium's run/data folder
#
# Reads  BACKUPDIR/data-SNUM/ARCHIVE and its side file (".md5" in place of
#        ".tar"), and checks the archive against it once more.
# Writes DATA_DIR below. The archive is unpacked into DATA_DIR.new beside
#        it; then DATA_DIR becomes DATA_DIR.old, DATA_DIR.new becomes
#        DATA_DIR, and DATA_DIR.old is removed. Renames within one folder are
#        atomic, so an interrupted restoration leaves the old data or the new,
#        never a mix; the next run puts the old data back if the swap stopped
#        half way and clears what is left over. For the same reason DATA_DIR
#        must be a folder of its own, not a mount point.
#
# Exit codes: 0 restored and synced; 1 unpacking or renaming failed;
#   2 wrong arguments; 3 archive or side file missing; 4 the archive does
#   not match its side file. Every failure is one line on standard error.
#
# Uses only what BusyBox provides. KORVELLO_SIM_ROOT, set by the simulator,
# stands for the device's "/"; it is empty on the device itself.

DATA_DIR=/data

ROOT=${KORVELLO_SIM_ROOT:-}
ME=${0##*/}

fail() {
    code=$1
    shift
    echo "$ME: $*" >&2
    exit "$code"
}

check_arguments() {
    [ $# -eq 4 ] || fail 2 "expected 4 arguments (snum, archive, index, backup folder), got $#"
    case $2 in
        */* | '') fail 2 "archive '$2' is not a file name" ;;
        *.tar) ;;
        *) fail 2 "archive '$2' does not end in .tar" ;;
    esac
    case $3 in
        '' | *[!0-9]*) fail 2 "index '$3' is not a number" ;;
    esac
    [ -n "$4" ] || fail 2 "empty backup folder"
}

# The first run of 32 lowercase hexadecimal digits on the first line: the
# same rule the tool reads side files by.
digest_in() {
    head -n 1 "$1" | grep -o -E '[0-9a-f]{32}' | head -n 1
}

verify() {
    [ -f "$1" ] || fail 3 "no archive $1"
    [ -f "$2" ] || fail 3 "no side file $2"
    expected=$(digest_in "$2")
    [ -n "$expected" ] || fail 4 "no checksum in $2"
    actual=$(md5sum "$1" | cut -d ' ' -f 1)
    [ "$actual" = "$expected" ] || fail 4 "$1 has checksum $actual, its side file says $expected"
}

# What an earlier run may have left. Without DATA_DIR but with DATA_DIR.old
# the swap stopped between its two renames: the old data is whole, so it
# goes back. Anything else left over is an unfinished unpacking or old data
# already replaced.
settle_leftovers() {
    if [ ! -e "$data" ] && [ -d "$old" ]; then
        mv "$old" "$data" || fail 1 "cannot put $old back to $data"
        sync
    fi
    rm -rf "$staging" "$old" || fail 1 "cannot remove what an earlier run left in $staging or $old"
}

unpack() {
    mkdir -p "$staging" || fail 1 "cannot create $staging"
    if ! tar -xf "$1" -C "$staging"; then
        rm -rf "$staging"
        fail 1 "unpacking $1 failed"
    fi
    sync || fail 1 "sync failed after unpacking"
}

swap_in() {
    if [ -e "$data" ] && ! mv "$data" "$old"; then
        rm -rf "$staging"
        fail 1 "cannot move $data aside"
    fi
    if ! mv "$staging" "$data"; then
        mv "$old" "$data"
        fail 1 "cannot move $staging to $data"
    fi
    sync || fail 1 "sync failed after the swap"
    rm -rf "$old" || fail 1 "cannot remove $old"
    sync
}

main() {
    check_arguments "$@"
    folder=$4/data-$1
    archive=$folder/$2
    side=$folder/${2%.tar}.md5
    data=$ROOT$DATA_DIR
    staging=$data.new
    old=$data.old

    settle_leftovers
    verify "$archive" "$side"
    mkdir -p "${data%/*}/" || fail 1 "cannot create the folder of $data"
    unpack "$archive"
    swap_in
    echo "$ME: restored $archive (index $3) into $data"
}

main "$@"
