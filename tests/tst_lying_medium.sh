#!/bin/sh
# A medium that acknowledges a write and then holds other bytes, as a stick
# with counterfeit capacity or a failing controller does. The medium is an
# ext4 image, loop-mounted in a private mount namespace, under a simulated
# device. The real backup script writes and syncs a backup; then the first
# bytes of the archive are changed in the image, underneath the file system,
# where the page cache does not see them. The backup check must report the
# damage, and must have read exactly the bytes the medium now holds.
#
# The run also proves that it can fail: right before the check, the archive
# read through the page cache still matches its side file, so a check that
# trusted the cache would report success.
#
#   tst_lying_medium.sh KORVELLO_SIM [EMULATOR COMMAND...]
#
# Needs root, mount namespaces and a loop device; without them it exits 77,
# which CTest reports as skipped.
set -eu

SKIPPED=77
ME=tst_lying_medium

skip() {
    echo "$ME: SKIPPED: $*"
    exit "$SKIPPED"
}

fail() {
    echo "$ME: FAILED: $*" >&2
    exit 1
}

# Called by the medium's backup script once the real one has written and
# synced the backup: tells the lie and records what the cache says before it.
#   tst_lying_medium.sh corrupt IMAGE DEVICE_FOLDER EVIDENCE
corrupt() {
    image=$1
    folder=$2
    evidence=$3
    set -- "$folder"/*.tar
    [ $# -eq 1 ] && [ -f "$1" ] || fail "expected one archive in $folder, found: $*"
    archive=$1
    side=${archive%.tar}.md5

    # Where the archive's first block lies in the image.
    extents=$(filefrag -v "$archive")
    block_bytes=$(echo "$extents" | sed -n 's/.* blocks of \([0-9]*\) bytes.*/\1/p')
    first_block=$(echo "$extents" | sed -n 's/^ *0: *[0-9]*\.\. *[0-9]*: *\([0-9]*\)\.\..*/\1/p')
    [ -n "$block_bytes" ] && [ -n "$first_block" ] || fail "no extent for $archive: $extents"

    # What the medium will hold: the same change made to a copy.
    expected=$(dirname "$evidence")/expected.tar
    cp "$archive" "$expected"
    printf 'LOST' | dd of="$expected" conv=notrunc status=none
    printf 'LOST' | dd of="$image" bs=1 seek=$((first_block * block_bytes)) conv=notrunc,fsync \
        status=none

    {
        echo "side $(cut -c 1-32 "$side")"
        echo "cached $(md5sum < "$archive" | cut -c 1-32)"
        echo "medium $(md5sum < "$expected" | cut -c 1-32)"
    } > "$evidence"
}

if [ "${1:-}" = corrupt ]; then
    shift
    corrupt "$@"
    exit 0
fi

[ $# -ge 1 ] || fail "usage: $0 KORVELLO_SIM [EMULATOR COMMAND...]"
here=$(cd "$(dirname "$0")" && pwd)
self=$here/$(basename "$0")

# Enters a mount namespace of its own first: the loop mount is seen by this
# test alone and goes away with it, whatever happens.
if [ -z "${KORVELLO_LYING_MEDIUM_NS:-}" ]; then
    [ "$(id -u)" -eq 0 ] || skip "a loop mount needs root (CI runs as root)"
    for tool in unshare mount umount mkfs.ext4 filefrag; do
        command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
    done
    unshare --mount true 2>/dev/null || skip "no mount namespace can be made here"
    KORVELLO_LYING_MEDIUM_NS=1 exec unshare --mount --propagation private sh "$0" "$@"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/$ME.XXXXXX")
root=$work/device
medium=$root/mnt/usb/sda1
image=$work/medium.img
trap 'umount "$medium" 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$medium" "$root/data/settings"

truncate -s 64M "$image"
mkfs.ext4 -q -F -b 4096 "$image" || fail "mkfs.ext4 failed"
mount -o loop "$image" "$medium" 2>"$work/mount.err" ||
    skip "no loop device to mount the medium image: $(cat "$work/mount.err")"

head -c 300000 /dev/urandom > "$root/data/records.bin"
echo "volume=7" > "$root/data/settings/device.conf"

# The medium's backup script is the real one followed by the lie.
mkdir -p "$medium/run"
cp "$here/../medium/backup_script.sh" "$medium/run/real_backup_script.sh"
cat > "$medium/run/backup_script.sh" <<EOF
#!/bin/sh
"\$(dirname "\$0")/real_backup_script.sh" "\$@" || exit \$?
sh "$self" corrupt "$image" "\$4/data-\$1" "$work/evidence"
EOF
chmod +x "$medium/run/backup_script.sh" "$medium/run/real_backup_script.sh"

simulator=$1
shift
snum=LIE timeout 300 "$@" "$simulator" --root "$root" -platform offscreen -c 1 \
    > "$work/sim.log" 2>&1 || fail "korvello-sim failed: $(tail -20 "$work/sim.log")"

[ -f "$work/evidence" ] || fail "the backup script did not run: $(tail -20 "$work/sim.log")"
side=$(sed -n 's/^side //p' "$work/evidence")
cached=$(sed -n 's/^cached //p' "$work/evidence")
on_medium=$(sed -n 's/^medium //p' "$work/evidence")

[ "$cached" = "$side" ] ||
    fail "the page cache no longer held the archive before the check ($cached, side file $side): this run proves nothing"
[ "$on_medium" != "$side" ] || fail "changing the image did not change the archive's digest"
grep -q "calMd5 .*\"$on_medium\"" "$work/sim.log" ||
    fail "the check did not read what the medium holds ($on_medium): $(grep calMd5 "$work/sim.log")"
grep -qx "korvello-sim: the screen shows: 備份失敗 ：備份檔校驗錯誤" "$work/sim.log" ||
    fail "the damaged backup was not reported: $(grep 'screen shows' "$work/sim.log")"
echo "$ME: the check read $on_medium from the medium, where the cache still said $cached"
