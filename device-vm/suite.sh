# The guest suite, sourced by scripts/device-vm.sh after lib.sh. Each case
# boots a fresh guest with the production korvello on real FAT32 media, lets
# the job end in the tool's own reboot, and then reads the outcome from the
# images. Ends with "device-vm: N passed, N failed".

SUITE_TIMEOUT=300

suite_passed=0
suite_failed=0

ok() {
    if [ "$1" = 0 ]; then
        suite_passed=$((suite_passed + 1))
        echo "ok - $2"
    else
        suite_failed=$((suite_failed + 1))
        echo "not ok - $2"
    fi
}

# expect NAME COMMAND...: one check, passed when COMMAND succeeds.
expect() {
    check=$1
    shift
    # The command may be boot(), which sets variables of its own.
    if "$@" >/dev/null 2>&1; then ok 0 "$check"; else ok 1 "$check"; fi
}

# boot ARCH NAME CONTROL DEVICE: runs one job on the images in $case_dir and
# dumps what they hold afterwards. Fails when the guest did not end by the
# tool's reboot.
boot() {
    arch=$1
    log=$case_dir/$2.log
    boot_started=$(date +%s)
    pid=$(vm_boot "$arch" "$case_dir/system.img" "$case_dir/usb.img" "$case_dir/sdcard.img" \
        "$log" "device_vm.control=$3" "device_vm.device=$4" device_vm.snum=A7)
    ended=0
    vm_wait "$pid" "$SUITE_TIMEOUT" || ended=1
    echo "# $arch $2: $(($(date +%s) - boot_started)) s" >&3
    vm_system_dump "$case_dir/system.img" "$case_dir/system"
    vm_medium_dump "$case_dir/usb.img" "$case_dir/usb"
    vm_medium_dump "$case_dir/sdcard.img" "$case_dir/sdcard"
    [ "$ended" = 0 ] && grep -q 'device-vm: reboot requested' "$log"
}

logged() {
    grep -q -F -- "$2" "$case_dir/$1.log"
}

device_folder() {
    echo "$case_dir/$1/run/data/data-A7"
}

nothing_written() {
    folder=$(device_folder "$1")
    [ ! -d "$folder" ] || [ -z "$(ls -A "$folder")" ]
}

# A backup on the USB stick, then a restoration that passes over a newer
# damaged backup, then one that finds nothing intact and leaves the data.
backup_and_restore() {
    arch=$1
    case_dir=$suite_dir/$arch-jobs
    mkdir -p "$case_dir"
    vm_system_image "$case_dir/system.img" "$arch" "$(korvello_for "$arch")" "$suite_dir/data" V1.0
    vm_medium_image "$case_dir/usb.img" 64 "$suite_dir/medium"
    vm_medium_image "$case_dir/sdcard.img" 64
    expect "$arch: backup job ends in the tool's reboot" boot "$arch" backup 1 0
    expect "$arch: backup script exits 0" logged backup "Exit Code: 0"
    folder=$(device_folder usb)
    archive=$(cd "$folder" && ls | sed -n '/\.tar$/p')
    expect "$arch: backup leaves one archive and its side file on FAT32" \
        test -f "$folder/$archive" -a -f "$folder/${archive%.tar}.md5" -a "$(ls "$folder" | wc -l)" = 2
    expect "$arch: side file holds the archive's digest" sh -c "cd '$folder' && md5sum -c *.md5"
    rm -rf "$case_dir/unpacked"
    mkdir -p "$case_dir/unpacked"
    tar -xf "$folder/$archive" -C "$case_dir/unpacked"
    expect "$arch: archive holds the device's data" same_tree "$case_dir/unpacked" "$suite_dir/data"

    # The device's data changes; a newer backup is damaged.
    vm_system_image "$case_dir/system.img" "$arch" "$(korvello_for "$arch")" "$suite_dir/changed" V1.0
    damaged=$(echo "$archive" | sed 's/-1\.tar$/-2.tar/')
    mcopy -i "$(vm_fat "$case_dir/usb.img")" "$folder/$archive" "::/run/data/data-A7/$damaged"
    printf '%032d  %s\n' 0 "$damaged" > "$case_dir/damaged.md5"
    mcopy -i "$(vm_fat "$case_dir/usb.img")" "$case_dir/damaged.md5" \
        "::/run/data/data-A7/${damaged%.tar}.md5"
    expect "$arch: restoration job ends in the tool's reboot" boot "$arch" restore 2 0
    expect "$arch: restoration takes the newest intact backup" logged restore "/$archive\""
    expect "$arch: restoration script exits 0" logged restore "Exit Code: 0"
    expect "$arch: /data is the backup's data" same_tree "$case_dir/system/data" "$suite_dir/data"
    expect "$arch: restoration leaves no working folder" \
        sh -c "! grep -q '^data\.' '$case_dir/system/root-entries'"
}

backup_refusals() {
    case_dir=$suite_dir/refusals
    mkdir -p "$case_dir"
    # 20,000 one-byte files with names of about 200 bytes: some 41 MB of tar,
    # more than the 39 MiB stick holds, but less than an estimate of 1,536
    # bytes per entry would allow for.
    names=$case_dir/names
    rm -rf "$names"
    for part in 1 2 3 4; do
        mkdir -p "$names/part$part"
        (cd "$names/part$part" && seq 1 5000 | awk '{ printf "%0190d\n", $1 }' \
            | xargs sh -c 'for n; do printf x > "$n"; done' sh)
    done
    vm_system_image "$case_dir/system.img" x86_64 "$(korvello_for x86_64)" "$names" V1.0
    vm_medium_image "$case_dir/usb.img" 39 "$suite_dir/medium"
    vm_medium_image "$case_dir/sdcard.img" 64
    expect "backup refused for room ends in the tool's reboot" boot x86_64 room 1 0
    expect "long names: refused for room (exit 5) before tar runs" logged room "Exit Code: 5"
    expect "long names: nothing written on the stick" nothing_written usb

    # A sparse 4 GiB file takes no room on the system disk but would make
    # an archive FAT cannot hold; the SD card is the medium here.
    rm -rf "$case_dir/sparse"
    mkdir -p "$case_dir/sparse"
    truncate -s 4G "$case_dir/sparse/disk.img"
    vm_system_image "$case_dir/system.img" x86_64 "$(korvello_for x86_64)" "$case_dir/sparse" V1.0
    vm_medium_image "$case_dir/usb.img" 64
    vm_medium_image "$case_dir/sdcard.img" 64 "$suite_dir/medium"
    expect "backup refused for FAT ends in the tool's reboot" boot x86_64 fat 1 1
    expect "4 GiB on the FAT32 SD card: refused (exit 6)" logged fat "Exit Code: 6"
    expect "4 GiB: nothing written on the SD card" nothing_written sdcard
}

# pack VERSION EXTRA: a package with opt/app/app.txt and a hook; EXTRA adds
# payload/etc/version.cfg, which the script refuses.
pack() {
    source=$case_dir/source-$1
    rm -rf "$source"
    mkdir -p "$source/payload/opt/app"
    echo "app $1" > "$source/payload/opt/app/app.txt"
    printf 'echo "${1##*/} $2" > opt/app/hooked\n' > "$source/install.sh"
    "$NATIVE_BUILD/tools/medium/korvello-medium" pack-upgrade --version "$1" \
        --payload "$source/payload" --hook "$source/install.sh" "$case_dir/medium" >/dev/null
    if [ -n "${2:-}" ]; then
        package=$case_dir/medium/run/upgrade/update-$1.tar
        mkdir -p "$source/payload/etc"
        echo V9 > "$source/payload/etc/version.cfg"
        tar -rf "$package" -C "$source" payload/etc
        md5sum "$package" | sed 's| .*/|  |' > "$package.md5"
    fi
}

upgrade() {
    arch=$1
    case_dir=$suite_dir/$arch-upgrade
    mkdir -p "$case_dir/old/app"
    echo "app V1.0" > "$case_dir/old/app/app.txt"
    cp -a "$suite_dir/medium" "$case_dir/medium"
    pack V2.0
    vm_system_image "$case_dir/system.img" "$arch" "$(korvello_for "$arch")" "$suite_dir/data" V1.0 \
        "$case_dir/old"
    vm_medium_image "$case_dir/usb.img" 64 "$case_dir/medium"
    vm_medium_image "$case_dir/sdcard.img" 64
    expect "$arch: upgrade job ends in the tool's reboot" boot "$arch" upgrade 3 0
    expect "$arch: upgrade script exits 0" logged upgrade "Exit Code: 0"
    expect "$arch: version file names V2.0, other lines kept" \
        test "$(cat "$case_dir/system/etc/version.cfg")" = "V2.0
build 17"
    expect "$arch: payload installed" test "$(cat "$case_dir/system/opt/app/app.txt")" = "app V2.0"
    expect "$arch: hook ran in the device's / with package and version" \
        test "$(cat "$case_dir/system/opt/app/hooked")" = "update-V2.0.tar V2.0"
    expect "$arch: no stage or .korvello-new left" sh -c \
        "! grep -q korvello '$case_dir/system/root-entries' && ! find '$case_dir/system/opt' -name '*.korvello-new' | grep -q ."
}

upgrade_refused() {
    case_dir=$suite_dir/upgrade-refused
    mkdir -p "$case_dir/old/app"
    echo "app V1.0" > "$case_dir/old/app/app.txt"
    cp -a "$suite_dir/medium" "$case_dir/medium"
    pack V3.0 with-version-file
    vm_system_image "$case_dir/system.img" x86_64 "$(korvello_for x86_64)" "$suite_dir/data" V1.0 \
        "$case_dir/old"
    vm_medium_image "$case_dir/usb.img" 64 "$case_dir/medium"
    vm_medium_image "$case_dir/sdcard.img" 64
    expect "refused upgrade ends in the tool's reboot" boot x86_64 refused 3 0
    expect "a package carrying etc/version.cfg is refused (exit 7)" logged refused "Exit Code: 7"
    expect "refused upgrade leaves version and payload alone" test \
        "$(head -n 1 "$case_dir/system/etc/version.cfg") $(cat "$case_dir/system/opt/app/app.txt")" \
        = "V1.0 app V1.0"
}

# `run` as an engineer uses it: a backup on linuxfb whose last note is read
# from the guest's screen and judged true on the stick read back; the same
# outcome with the archive damaged afterwards must be judged false.
run_judges_its_note() {
    out=$suite_dir/run
    scripts/device-vm.sh run --control 1 --out "$out" > "$suite_dir/run.log" 2>&1 || return 1
    tail -n 1 "$suite_dir/run.log" | grep -q \
        '^device-vm: note " 備份成功 "; verdict: true (data-A7-[0-9]*-1\.tar matches its side file' \
        || return 1
    for archive in "$out"/usb/run/data/data-A7/*.tar; do
        printf x >> "$archive"
    done
    verdict "$out" success | grep -q '^false (data-A7-[0-9]*-1\.tar does not match its side file)$'
}

# The scripts' host suite once more with Debian's busybox-static, which runs
# its own applets before anything on PATH.
static_busybox() {
    dir=$suite_dir/static-busybox
    mkdir -p "$dir"
    ln -sf "$VM_CACHE/x86_64/busybox" "$dir/busybox"
    (cd "$NATIVE_BUILD" && PATH="$dir:$PATH" QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8 \
        tests/tst_scripts > "$suite_dir/tst_scripts-static.log" 2>&1)
}

suite_main() {
    # The guests' times go to the suite's output, past expect's redirection.
    exec 3>&1
    aarch64=yes
    [ "${1:-}" != --no-aarch64 ] || aarch64=no
    if [ "$aarch64" = yes ] && [ ! -x "$ARM64_BUILD/app/korvello" ]; then
        vm_die "no $ARM64_BUILD/app/korvello: run scripts/test-arm64.sh first, or pass --no-aarch64"
    fi
    suite_dir=$VM_CACHE/suite
    rm -rf "$suite_dir"
    mkdir -p "$suite_dir"
    sample_data "$suite_dir/data"
    sample_data "$suite_dir/changed"
    echo "changed since the backup" > "$suite_dir/changed/settings/device.conf"
    rm "$suite_dir/changed/empty"
    mkdir -p "$suite_dir/medium"
    "$NATIVE_BUILD/tools/medium/korvello-medium" prepare "$suite_dir/medium" >/dev/null

    started=$(date +%s)
    backup_and_restore x86_64
    backup_refusals
    upgrade x86_64
    upgrade_refused
    expect "run: the backup's note read from the screen and judged" run_judges_its_note
    echo "# x86_64 guest: $(($(date +%s) - started)) s"
    if [ "$aarch64" = yes ]; then
        started=$(date +%s)
        backup_and_restore aarch64
        upgrade aarch64
        echo "# aarch64 guest: $(($(date +%s) - started)) s"
    fi
    started=$(date +%s)
    expect "tst_scripts passes with busybox-static" static_busybox
    echo "# tst_scripts with busybox-static: $(($(date +%s) - started)) s"
    echo "device-vm: $suite_passed passed, $suite_failed failed"
    [ "$suite_failed" = 0 ]
}
