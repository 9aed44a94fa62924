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
#        ".tar"), and checks the archive against it once more. Both must be
#        regular files; the side file is read as the tool reads it.
# Writes DATA_DIR below, and nothing on the medium. The archive is unpacked
#        into DATA_DIR.new beside it and synced; DATA_DIR.new is then renamed
#        DATA_DIR.ready, which marks it complete. Only then does the swap
#        begin: DATA_DIR becomes DATA_DIR.old, DATA_DIR.ready becomes
#        DATA_DIR, and DATA_DIR.old is removed. The previous data is never
#        deleted before the new data is complete and marked so.
#        Renames within one folder are atomic, so a power cut leaves the old
#        data or the new, never a mix. The next run settles what a cut left:
#        it drops an unfinished or unswapped DATA_DIR.new or DATA_DIR.ready,
#        finishes a swap cut between its two renames (the marked new data
#        goes in, even over an empty DATA_DIR that the start-up may have made
#        meanwhile), and removes a DATA_DIR.old whose swap was done. For the
#        same reason DATA_DIR must be a folder of its own, not a mount point.
#        Before anything is written the device must have room for the
#        unpacked data (the archive's size bounds it) beside the old data,
#        and DATA_DIR must be a folder that can be swapped: not a symbolic
#        link, not a mount point, in a folder that can be written. A failure
#        removes DATA_DIR.new and DATA_DIR.ready, and a swap that fails
#        halfway puts DATA_DIR back, so no working folder is left behind.
#
# Exit codes: 0 restored and synced; 1 unpacking or renaming failed;
#   2 wrong arguments; 3 archive or side file missing or not a regular file;
#   4 the archive does not match its side file; 5 not enough room on the
#   device; 9 DATA_DIR cannot be swapped. Every failure is one line on
#   standard error.
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
HISTORY_JOB=restore
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

fail() {
    code=$1
    shift
    # printf, not echo: names may hold backslashes.
    printf '%s: %s\n' "$ME" "$*" >&2
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
    [ -f "$1" ] || fail 3 "no archive $1, or not a regular file"
    [ -f "$2" ] || fail 3 "no side file $2, or not a regular file"
    expected=$(digest_in "$2")
    [ -n "$expected" ] || fail 4 "no checksum in $2"
    actual=$(md5sum < "$1" | cut -c 1-32)
    [ "$actual" = "$expected" ] || fail 4 "$1 has checksum $actual, its side file says $expected"
}

# What an earlier run may have left. DATA_DIR.old beside DATA_DIR.ready means
# the swap stopped between its renames: the marked new data is whole, so the
# swap is finished; a DATA_DIR in its place can only have been made after the
# cut. DATA_DIR.old alone is old data already replaced; DATA_DIR.ready alone
# or DATA_DIR.new is a restoration that never began its swap.
settle_leftovers() {
    if [ -d "$old" ] && [ -d "$ready" ]; then
        rm -rf "$data" || fail 1 "cannot clear $data to finish an interrupted swap"
        mv "$ready" "$data" || fail 1 "cannot finish the interrupted swap of $ready"
        sync
    elif [ -d "$old" ] && [ ! -e "$data" ]; then
        mv "$old" "$data" || fail 1 "cannot put $old back to $data"
        sync
    fi
    rm -rf "$staging" "$ready" "$old" \
        || fail 1 "cannot remove what an earlier run left in $staging, $ready or $old"
    sync
}

# Checked before anything is written: the unpacked data, which the
# archive's size bounds (a tar holds every byte of its files and more),
# must fit beside the old data, and the data folder must be one that
# renames can swap. Should the file system's rounding of many small files
# still run out of room, the unpacking fails and the old data stays.
preflight() {
    parent=${data%/*}
    parent=${parent:-/}
    if [ -L "$data" ] || { [ -e "$data" ] && [ ! -d "$data" ]; }; then
        fail 9 "$data is not a folder; it cannot be swapped"
    fi
    [ -w "$parent" ] || fail 9 "$parent cannot be written; $data cannot be swapped"
    if [ -d "$data" ] && [ "$(stat -c %d "$data")" != "$(stat -c %d "$parent")" ]; then
        fail 9 "$data is a mount point; it cannot be swapped"
    fi
    # The size from the directory entry: BusyBox's wc -c would read the
    # whole file, one more pass over a slow stick.
    bytes=$(stat -L -c %s "$1")
    need_kib=$((bytes / 1024 + 1 + MARGIN_KIB))
    have_kib=$(df -Pk "$parent" | awk 'NR == 2 { print $4 }')
    case $have_kib in
        '' | *[!0-9]*) fail 1 "cannot read the free space of $parent" ;;
    esac
    if [ "$have_kib" -lt "$need_kib" ]; then
        fail 5 "not enough room on the device: $need_kib KiB needed, $have_kib KiB free"
    fi
}

unpack() {
    mkdir -p "$staging" || fail 1 "cannot create $staging"
    if ! tar -xf "$1" -C "$staging"; then
        rm -rf "$staging"
        fail 1 "unpacking $1 failed"
    fi
    if ! sync || ! mv "$staging" "$ready"; then
        rm -rf "$staging"
        fail 1 "cannot mark $staging complete"
    fi
    sync || fail 1 "sync failed after marking $ready complete"
}

swap_in() {
    if [ -e "$data" ] && ! mv "$data" "$old"; then
        rm -rf "$ready"
        fail 1 "cannot move $data aside"
    fi
    if ! mv "$ready" "$data"; then
        mv "$old" "$data"
        rm -rf "$ready"
        fail 1 "cannot move $ready to $data"
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
    ready=$data.ready
    old=$data.old

    settle_leftovers
    verify "$archive" "$side"
    mkdir -p "${data%/*}/" || fail 1 "cannot create the folder of $data"
    preflight "$archive"
    unpack "$archive"
    swap_in
    printf '%s: restored %s (index %s) into %s\n' "$ME" "$archive" "$3" "$data"
}

# The job runs in a subshell of its own, so that its exits and traps end
# there and the history line is written whatever the job did.
( main "$@" )
status=$?
history_line "$status" "$@"
exit "$status"
