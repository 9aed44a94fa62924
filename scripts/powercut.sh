#!/bin/sh
# Pulls the power on the emulated device N times and checks what survives.
#
#   scripts/powercut.sh N [--seed S]
#
# One x86_64 guest (scripts/device-vm.sh) with a FAT32 stick lives through
# N cycles. Each runs, in turn, a backup, a package that conflicts with the
# device (a folder where the device has a file), a restoration, a package
# whose hook fails once its payload is in place, and a good package, and
# ends the guest at a random moment of the job's script (or just after it):
# QEMU is killed, so what the guest's page cache held never reaches the
# disks. The host then reads the images and checks:
#   - every archive under its final name has its side file, and both agree;
#     an archive made in this cycle holds the data of this cycle;
#   - /data is the data before the job or the restored backup, never
#     missing and never a mix;
#   - every installed payload file is whole (one package's version of it)
#     and the version file names a package whose payload is all in place;
#   - a failing package whose script ran to its end left /opt and the
#     version file as they were (or as finishing a stage an earlier cut
#     left behind leaves them);
# Then the guest boots again and restores, uncut (its power goes once the
# script has ended and synced, sparing the countdown): the restoration
# must choose the newest intact backup (by the host's own reading of the
# stick) and leave /data equal to it. After a failing package a good one
# follows, uncut as well: it must install whatever the cut left, its
# version named and every payload file its own, nothing left beside them.
# One line per violation; the last line is "powercut: N cuts, K violations".
set -eu
cd "$(dirname "$0")/.."
. device-vm/lib.sh

cuts=${1:-}
case $cuts in
    '' | *[!0-9]*) sed -n '2,20p' "$0" >&2; exit 2 ;;
esac
seed=$(date +%s)
if [ "${2:-}" = --seed ]; then
    seed=$3
fi

scripts/install-deps.sh --vm
[ -x build/app/korvello ] && [ -x build/tools/medium/korvello-medium ] || scripts/build.sh build
vm_fetch x86_64
vm_initrd x86_64

work=$VM_CACHE/powercut-$cuts
rm -rf "$work"
mkdir -p "$work"
# Copies, so that a rebuild meanwhile does not pull the tools from under
# a run that takes an hour.
cp build/app/korvello build/tools/medium/korvello-medium "$work/"
system=$work/system.img
usb=$work/usb.img
sdcard=$work/sdcard.img
violations=0
cut_number=0

say() {
    echo "powercut: $*"
}

violation() {
    violations=$((violations + 1))
    say "cut $cut_number ($job, $when): $*"
}

# Random numbers from one seeded stream, so that a run can be repeated.
random_below() {
    random_state=$(awk -v s="$random_state" 'BEGIN { srand(s); print int(rand() * 2147483647) }')
    echo $((random_state % $1))
}
random_state=$seed

# The device's data: some megabytes of noise, small files, a link, an empty
# folder, and a generation mark the guest rewrites in every cycle.
mkdir -p "$work/data/logs" "$work/data/spool/empty" "$work/data/settings"
head -c 2000000 /dev/urandom > "$work/data/logs/samples.bin"
for n in $(seq 1 40); do
    echo "setting $n" > "$work/data/settings/s$n.conf"
done
ln -s logs "$work/data/current"
echo "generation 0" > "$work/data/generation"

# The installed software: version V0000 and its payload under /opt.
payload_files="app/app.bin app/lib/data.bin app/readme.txt"
make_payload() {
    for file in $payload_files; do
        mkdir -p "$(dirname "$1/$file")"
        { echo "$2"; head -c 400000 /dev/urandom; } > "$1/$file"
    done
}
make_payload "$work/opt" V0000

mkdir -p "$work/medium"
"$work/korvello-medium" prepare "$work/medium" >/dev/null
vm_system_image "$system" x86_64 "$work/korvello" "$work/data" V0000 "$work/opt"
vm_medium_image "$usb" 256 "$work/medium"
vm_medium_image "$sdcard" 64

# What the device holds now, as a power-on finds it.
read_device() {
    vm_system_dump "$system" "$work/now"
    vm_medium_dump "$usb" "$work/stick"
}

data_now() {
    if [ -d "$work/now/data" ]; then manifest "$work/now/data"; else echo missing; fi
}

# The data the device will hold when its next job starts: the guest writes
# the generation mark (device_vm.generation) before it starts the tool, as
# the device's own programs change its data, so that each backup differs.
data_with_generation() {
    rm -rf "$work/expected"
    cp -a "$work/now/data" "$work/expected"
    echo "generation $1" > "$work/expected/generation"
    manifest "$work/expected"
}

folder() {
    echo "$work/stick/run/data/data-A7"
}

check_archives() {
    for archive in "$(folder)"/*.tar; do
        [ -f "$archive" ] || continue
        name=${archive##*/}
        side=${archive%.tar}.md5
        if [ ! -f "$side" ]; then
            violation "archive $name has no side file"
            continue
        fi
        if [ "$(md5sum < "$archive" | cut -c 1-32)" != "$(side_digest "$side")" ]; then
            violation "archive $name does not match its side file"
            continue
        fi
        if [ "$(index_of "$archive")" = "$backup_index" ] \
            && [ "$(archive_manifest "$archive")" != "$data_before" ]; then
            violation "archive $name does not hold the data it was made from"
        fi
    done
}

check_data() {
    now=$(data_now)
    if [ "$now" = missing ]; then
        violation "/data is missing"
    elif [ "$now" != "$data_before" ] && [ "$now" != "$data_restored" ]; then
        violation "/data is neither the data before the job nor the restored backup"
    fi
}

# Each payload file must be one package's whole version of it; the version
# file's first line must name a package no file is older than.
check_software() {
    version=$(head -n 1 "$work/now/etc/version.cfg" 2>/dev/null || true)
    case $version in
        V[0-9][0-9][0-9][0-9]) ;;
        *) violation "the version file names '$version'"; return ;;
    esac
    [ "$(sed -n 2p "$work/now/etc/version.cfg")" = "build 17" ] \
        || violation "the version file lost its second line"
    for file in $payload_files; do
        installed=$work/now/opt/$file
        if [ ! -f "$installed" ]; then
            violation "/opt/$file is missing"
            continue
        fi
        holds=$(head -n 1 "$installed")
        if ! cmp -s "$installed" "$work/packages/$holds/opt/$file" 2>/dev/null \
            && ! cmp -s "$installed" "$work/opt/$file"; then
            violation "/opt/$file is not whole: neither V0000's nor a package's"
        elif [ "$(expr "$holds" \< "$version")" = 1 ]; then
            violation "version file names $version, but /opt/$file is still $holds"
        elif [ "$holds" != "$version" ] && ! grep -q '^\.korvello-upgrade\.ready$' \
            "$work/now/root-entries"; then
            violation "/opt/$file is $holds, the version file names $version," \
                "and no upgrade is left to finish"
        fi
    done
}

now_ms() {
    echo $(($(date +%s%N) / 1000000))
}

# Waits until the console log shows PATTERN or the guest has ended.
await_line() {
    while ! grep -q -E "$2" "$work/console.log" 2>/dev/null; do
        kill -0 "$1" 2>/dev/null || return 1
        sleep 0.02
    done
}

# run_job CONTROL [CUT_MS | done]: runs job CONTROL (1 backup, 2
# restoration, 3 upgrade). With CUT_MS the power goes CUT_MS after the tool
# started the script; with "done" it goes as soon as the script has ended
# (synced), which spares the countdown; without, the job ends in the tool's
# reboot, and script_ms is set to how long the script ran as seen from here.
run_job() {
    rm -f "$work/console.log"
    pid=$(vm_boot x86_64 "$system" "$usb" "$sdcard" "$work/console.log" \
        "device_vm.control=$1" device_vm.device=0 device_vm.snum=A7 \
        "device_vm.generation=${generation:-}")
    script_ms=0
    if await_line "$pid" '=== +(runBackupSH|runCmdSH) '; then
        script_started=$(now_ms)
        if [ "${2:-}" = "done" ]; then
            await_line "$pid" '^Exit Code:' || true
            vm_power_cut "$pid"
            return
        elif [ -n "${2:-}" ]; then
            sleep "$(awk -v ms="$2" 'BEGIN { printf "%.3f", ms / 1000 }')"
            vm_power_cut "$pid"
            return
        fi
        await_line "$pid" '^Exit Code:' && script_ms=$(($(now_ms) - script_started))
    fi
    [ -z "${2:-}" ] || { vm_power_cut "$pid"; return; }
    vm_wait "$pid" 300 || violation "the guest did not end by itself"
}

# The serial console ends its lines with CR LF.
chosen_by_tool() {
    tr -d '\r' < "$work/console.log" \
        | sed -n 's/.*checkBackIndex  backfileName  "\(.*\)"$/\1/p' | sed 's|.*/||'
}

# What a cut left half done, counted over the run, so that the summary
# shows the cuts fell where the scripts' writes are.
note_leftovers() {
    left=
    ls "$(folder)" 2>/dev/null | grep -q '\.part$' && left="$left backup-.part-files"
    for side in "$(folder)"/*.md5; do
        [ ! -f "$side" ] || [ -f "${side%.md5}.tar" ] || left="$left side-file-before-its-archive"
    done
    for entry in data.new data.ready data.old .korvello-upgrade.new .korvello-upgrade.ready; do
        grep -qx "$entry" "$work/now/root-entries" && left="$left $entry"
    done
    find "$work/now/opt" -name '*.korvello-new' | grep -q . && left="$left payload-beside-targets"
    find "$work/now/opt" -name '*.korvello-old' | grep -q . && left="$left kept-files-beside-targets"
    echo "${left:- nothing}" | tr ' ' '\n' | sed '/^$/d' | sort -u >> "$work/leftovers"
}

# The uncut restoration after every cut.
restore_after_cut() {
    read_device
    expected=$(newest_intact "$(folder)")
    expected_data=none
    [ -z "$expected" ] || expected_data=$(archive_manifest "$(folder)/$expected")
    before_restore=$(data_now)
    run_job 2 "done"
    read_device
    chosen=$(chosen_by_tool)
    if [ "$chosen" != "$expected" ]; then
        violation "the restoration after the cut chose '$chosen', not the newest intact '$expected'"
    fi
    now=$(data_now)
    if [ -n "$expected" ] && [ "$now" != "$expected_data" ]; then
        violation "after the restoration of $expected, /data is not its data"
    elif [ -z "$expected" ] && [ "$now" != "$before_restore" ]; then
        violation "a restoration without an intact backup changed /data"
    fi
    if grep -q '^data\.' "$work/now/root-entries"; then
        violation "the restoration left $(grep '^data\.' "$work/now/root-entries" | tr '\n' ' ')"
    fi
}


# package_for NUMBER [conflicting | failing]: a package of version
# VNUMBER on the stick. A conflicting one has a folder where the device
# has app/app.bin; a failing one's hook fails once the payload is in place.
package_for() {
    version=$(printf 'V%04d' "$1")
    rm -rf "$work/packages/$version"
    make_payload "$work/packages/$version/opt" "$version"
    printf 'echo "${1##*/} $2" > opt/app/hooked\n' > "$work/hook.sh"
    case ${2:-} in
        conflicting)
            rm "$work/packages/$version/opt/app/app.bin"
            mkdir "$work/packages/$version/opt/app/app.bin"
            echo "$version" > "$work/packages/$version/opt/app/app.bin/part"
            ;;
        failing) echo 'exit 1' > "$work/hook.sh" ;;
    esac
    rm -rf "$work/pack"
    mkdir -p "$work/pack"
    "$work/korvello-medium" pack-upgrade --version "$version" \
        --payload "$work/packages/$version" --hook "$work/hook.sh" "$work/pack" >/dev/null
    # One package on the stick at a time: the newest.
    mdeltree -i "$(vm_fat "$usb")" ::/run/upgrade >/dev/null 2>&1 || true
    mmd -i "$(vm_fat "$usb")" ::/run/upgrade
    mcopy -i "$(vm_fat "$usb")" "$work/pack/run/upgrade/"* ::/run/upgrade/
}

# Only the newest backups stay, so that the stick never fills up.
prune_backups() {
    keep=3
    ls "$(folder)" 2>/dev/null | sed -n 's/\.tar$//p' | awk -F- '{ print $NF, $0 }' \
        | sort -n | awk '{ print $2 }' | head -n -"$keep" | while read -r base; do
        mdel -i "$(vm_fat "$usb")" "::/run/data/data-A7/$base.tar" "::/run/data/data-A7/$base.md5" \
            >/dev/null 2>&1 || true
    done
}

software_now() {
    head -n 1 "$work/now/etc/version.cfg" 2>/dev/null
    manifest "$work/now/opt"
}

# The version of a stage an earlier cut left marked complete, if any: the
# next upgrade script finishes (or rolls back) that stage before it looks
# at its own package.
pending_stage_version() {
    grep -qx '\.korvello-upgrade\.ready' "$work/now/root-entries" || return 0
    debugfs -c -R "cat /.korvello-upgrade.ready/version" "$system" 2>/dev/null
}

# A failing package that ran to its end must have left the software as it
# was, or, where an earlier cut left a stage, as settling that stage leaves
# it: the stage's version or the one before, nothing beside the targets
# (the files' wholeness is check_software's).
check_failing_package() {
    if grep -q '^Exit Code: 0' "$work/console.log"; then
        violation "the $job exited 0"
    elif ! grep -q '^Exit Code:' "$work/console.log"; then
        return
    elif [ -z "$pending_before" ]; then
        [ "$(software_now)" = "$software_before" ] \
            || violation "the $job ran to its end and changed /opt or the version file"
    else
        version_now=$(head -n 1 "$work/now/etc/version.cfg" 2>/dev/null || true)
        [ "$version_now" = "$pending_before" ] \
            || [ "$version_now" = "$(echo "$software_before" | head -n 1)" ] \
            || violation "the $job ran to its end over the stage of $pending_before" \
                "and left the version file at $version_now"
        ! find "$work/now/opt" -name '*.korvello-*' | grep -q . \
            || violation "the $job ran to its end and left files beside targets"
    fi
}

# After a failing package a good one, uncut, must install over whatever the
# cut left.
good_after_failing_package() {
    version_number=$((version_number + 1))
    package_for "$version_number"
    good=$version
    run_job 3 "done"
    read_device
    grep -q '^Exit Code: 0' "$work/console.log" \
        || violation "the good package $good after the $job did not install"
    [ "$(head -n 1 "$work/now/etc/version.cfg" 2>/dev/null)" = "$good" ] \
        || violation "after the good package $good, the version file does not name it"
    for file in $payload_files; do
        cmp -s "$work/now/opt/$file" "$work/packages/$good/opt/$file" \
            || violation "after the good package $good, /opt/$file is not its"
    done
    if grep -q korvello "$work/now/root-entries" \
        || find "$work/now/opt" -name '*.korvello-*' | grep -q .; then
        violation "the good package $good after the $job left a stage or files beside targets"
    fi
}

started=$(date +%s)
say "seed $seed; $cuts cuts of backups, restorations, and good, conflicting and failing packages on FAT32"

# A first, uncut round of the three jobs puts a backup and a package on
# the device, and measures each script here: the cuts of a job fall within
# its script's time and a little after it, where its writes are.
job=calibration when=uncut
for control in 1 2 3; do
    [ "$control" != 3 ] || package_for 1
    run_job "$control"
    if ! grep -q '^Exit Code: 0' "$work/console.log"; then
        say "the uncut job $control failed; see $work/console.log"
        exit 1
    fi
    eval "window_$control=$((script_ms * 5 / 4 + 200))"
done
say "cuts fall up to $window_1, $window_2 and $window_3 ms after the backup," \
    "restoration and upgrade scripts start"
version_number=1
generation=0

while [ "$cut_number" -lt "$cuts" ]; do
    cut_number=$((cut_number + 1))
    generation=$((generation + 1))
    read_device
    data_before=$(data_with_generation "$generation")
    data_restored=$data_before
    backup_index=none
    software_before=$(software_now)
    pending_before=$(pending_stage_version)
    case $((cut_number % 5)) in
        1)
            job=backup control=1
            backup_index=$(($(ls "$(folder)" 2>/dev/null | sed -n 's/.*-\([0-9]*\)\.tar$/\1/p' \
                | sort -n | tail -n 1) + 1))
            ;;
        2)
            job="conflicting package" control=3
            version_number=$((version_number + 1))
            package_for "$version_number" conflicting
            ;;
        3)
            job=restoration control=2
            chosen=$(newest_intact "$(folder)")
            [ -z "$chosen" ] || data_restored=$(archive_manifest "$(folder)/$chosen")
            ;;
        4)
            job="failing package" control=3
            version_number=$((version_number + 1))
            package_for "$version_number" failing
            ;;
        0)
            job=upgrade control=3
            version_number=$((version_number + 1))
            package_for "$version_number"
            ;;
    esac
    eval "window=\$window_$control"
    delay=$(random_below "$window")
    when="+$delay ms"
    run_job "$control" "$delay"
    read_device
    note_leftovers
    check_archives
    check_data
    check_software
    case $job in
        *package) check_failing_package ;;
    esac
    restore_after_cut
    case $job in
        *package) good_after_failing_package ;;
    esac
    prune_backups
done

say "what the cuts left half done: $(sort "$work/leftovers" | uniq -c \
    | awk '{ printf "%s%s %s", sep, $1, $2; sep = ", " }')"
say "took $(($(date +%s) - started)) s"
say "$cuts cuts, $violations violations"
[ "$violations" = 0 ]
