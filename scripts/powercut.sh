#!/bin/sh
# Pulls the power on the emulated device N times and checks what survives.
#
#   scripts/powercut.sh N [--seed S] [--job backup|restoration|upgrade]
#                         [--scripts DIR] [--until-violation]
#
# One x86_64 guest (scripts/device-vm.sh) with a FAT32 stick lives through
# N cycles. Each runs, in turn, a backup, a package that conflicts with the
# device (a folder where the device has a file), a restoration, a package
# whose hook fails once its payload is in place, and a good package (the
# conflicting and the failing package swap places every other cycle; with
# --job, only that job: for the upgrade, the three packages in turn), and
# ends the guest in a phase of the job's script chosen at random (before its first
# write, while it writes, between its syncs and renames, while it settles
# what an earlier cut left, or just after it ends; device-vm/phase.awk
# names them), or, every other time, at any moment of the script. QEMU is
# killed, so what the guest's page cache held never reaches the disks. The
# guest writes back as a device busy with a backup of several GiB does
# (every 10 ms, at most 2 MiB unwritten, the journal every second), and
# its disks are as slow next to the emulated processor as a USB 2.0 stick
# and an eMMC are next to the device's, so that the scripts' writes reach
# the disks while they run. The host then reads the images and checks:
#   - every archive under its final name has its side file, and both agree;
#     an archive made in this cycle holds the data of this cycle;
#   - /data is the data before the job or the restored backup, never
#     missing and never a mix;
#   - every installed payload file is whole (one package's version of it)
#     and the version file names a package whose payload is all in place;
#   - a failing package whose script ran to its end left /opt and the
#     version file as they were (or as finishing a stage an earlier cut
#     left behind leaves them);
#   - what the tool had judged a success before the power went is true on
#     the disks: the backup it verified is there, whole; the restoration
#     or upgrade whose script exited 0 left the restored data or the
#     package in place;
# Then the guest boots again and restores, uncut (its power goes once the
# script has ended and synced, sparing the countdown): the restoration
# must choose the newest intact backup (by the host's own reading of the
# stick) and leave /data equal to it. After a failing package a good one
# follows, uncut as well: it must install whatever the cut left, its
# version named and every payload file its own, nothing left beside them.
# --scripts DIR puts DIR's medium scripts on the stick in place of the
# reference ones (scripts/powercut-mutants.sh tries broken copies); with
# --until-violation the run ends at the first cut that finds one.
# One line per cut, naming the phase it hit, and one per violation; then
# the cuts per job and phase, the phases no cut hit, and last
# "powercut: N cuts, K violations". Exits 1 when K > 0.
set -eu
cd "$(dirname "$0")/.."
. device-vm/lib.sh

usage() {
    sed -n '2,47p' "$0" >&2
    exit 2
}

cuts=${1:-}
case $cuts in
    '' | *[!0-9]*) usage ;;
esac
shift
seed=$(date +%s)
only_job=
scripts_from=
until_violation=
while [ $# -gt 0 ]; do
    case $1 in
        --seed) [ $# -ge 2 ] || usage; seed=$2; shift ;;
        --job)
            [ $# -ge 2 ] || usage
            case $2 in backup | restoration | upgrade) only_job=$2 ;; *) usage ;; esac
            shift
            ;;
        --scripts) [ $# -ge 2 ] && [ -d "$2" ] || usage; scripts_from=$(cd "$2" && pwd); shift ;;
        --until-violation) until_violation=yes ;;
        *) usage ;;
    esac
    shift
done

scripts/install-deps.sh --vm
[ -x build/app/korvello ] && [ -x build/tools/medium/korvello-medium ] || scripts/build.sh build
vm_fetch x86_64
vm_initrd x86_64

work=${POWERCUT_WORK:-$VM_CACHE/powercut-$cuts}
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
    say "cut $cut_number ($job, $hit): $*"
}

# Seeded from --seed, so that a run can be repeated (random_below).
random_state=$seed

# The device's data: 6 MB of noise, which the slow stick takes seconds to
# write, 600 small files, which take the restoration's unpacking and its
# removal of the old data a while, a link, an empty folder, and a
# generation mark the guest rewrites in every cycle.
mkdir -p "$work/data/logs" "$work/data/spool/empty" "$work/data/settings"
head -c 4000000 /dev/urandom > "$work/data/logs/samples.bin"
head -c 2000000 /dev/urandom > "$work/data/logs/older.bin"
for n in $(seq 1 600); do
    echo "setting $n" > "$work/data/settings/s$n.conf"
done
ln -s logs "$work/data/current"
echo "generation 0" > "$work/data/generation"

# The installed software: version V0000 and its payload under /opt, some
# megabytes, so that placing it takes its time too.
payload_files="app/app.bin app/lib/data.bin app/readme.txt"
make_payload() {
    for file in $payload_files; do
        mkdir -p "$(dirname "$1/$file")"
        { echo "$2"; head -c 1000000 /dev/urandom; } > "$1/$file"
    done
}
make_payload "$work/opt" V0000

mkdir -p "$work/medium"
"$work/korvello-medium" prepare "$work/medium" >/dev/null
if [ -n "$scripts_from" ]; then
    for script in backup_script.sh recover_script.sh upgrade_script.sh; do
        cp "$scripts_from/$script" "$work/medium/run/$script"
        chmod +x "$work/medium/run/$script"
    done
fi
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

# The disks are as slow next to the emulated processor as a USB 2.0 stick
# and an eMMC are next to the device's: the emulator makes an archive at
# about 1.5 MB/s where the device makes one at 20 MB/s or more, so the
# stick writes 1 MiB/s and reads 4 MiB/s, the system disk writes 4 MiB/s.
# As on the device, the data is made faster than it can be written, and a
# sync waits for what piled up.
export VM_STICK_LIMITS=throttling.bps-read=4194304,throttling.bps-write=1048576
export VM_SYSTEM_LIMITS=throttling.bps-write=4194304

# The kind of script a job runs, as device-vm/phase.awk knows it.
kind_of() {
    case $1 in
        1) echo backup ;;
        2) echo restoration ;;
        *) echo upgrade ;;
    esac
}

# The phase of the running job's script that the console shows now.
phase_now() {
    awk -v kind="$kind" -f device-vm/phase.awk "$work/console.log" 2>/dev/null || echo none
}

# The phases a job's cuts aim at, in the order a script passes them.
phases_of() {
    case $1 in
        backup) echo settling start writing publishing finishing ended ;;
        restoration) echo settling start unpacking swapping finishing ended ;;
        "conflicting package") echo settling start staging finishing ended ;;
        "failing package") echo settling start staging placing committing undoing finishing ended ;;
        *) echo settling start staging placing committing finishing ended ;;
    esac
}

# Whether phase $2 comes after phase $1 in the job's order.
later_than() {
    for each in $(phases_of "$job"); do
        [ "$each" = "$2" ] && return 1
        [ "$each" = "$1" ] && return 0
    done
    return 1
}

# Waits until the console log shows PATTERN or the guest has ended.
await_line() {
    while ! grep -q -E "$2" "$work/console.log" 2>/dev/null; do
        kill -0 "$1" 2>/dev/null || return 1
        sleep 0.02
    done
}

# How long phase $2 of control $1's script lasted in the uncut round, in
# ms; 1500 ms after the end (the tool's own check of a backup); 60 ms for
# one the uncut round cannot show (settling, undoing): both are a few
# renames and removals.
phase_ms() {
    [ "$2" != ended ] || { echo 1500; return; }
    awk -v phase="$2" '$1 == phase && !found { print $2; found = 1 } END { if (!found) print 60 }' \
        "$work/phases-$1"
}

# Where in phase $2 of control $1 a cut may fall, counted from the moment
# the console shows it: the guest looks every 20 ms, and its line and the
# host's look take some dozens more, so that much of a phase is gone
# before it is seen. A short phase is cut in its first third.
cut_window() {
    ms=$(phase_ms "$1" "$2")
    if [ "$ms" -gt 180 ]; then echo $((ms - 60)); else echo $((ms / 3 + 1)); fi
}

# Follows the script's phases until it ends, writing how long each lasted
# into $work/phases-CONTROL.
measure_phases() {
    last=none since=0
    : > "$work/phases-$1"
    while kill -0 "$pid" 2>/dev/null; do
        phase=$(phase_now)
        if [ "$phase" != "$last" ]; then
            [ "$last" = none ] || echo "$last $(($(now_ms) - since))" >> "$work/phases-$1"
            last=$phase since=$(now_ms)
        fi
        [ "$phase" != ended ] || return 0
        sleep 0.02
    done
}

# How long control $1's script ran in the uncut round, in ms.
script_length() {
    awk '{ sum += $2 } END { print sum + 0 }' "$work/phases-$1"
}

# Cuts the power once the script reaches phase $1, at a random moment of
# the time that phase lasted in the uncut round; at once, should the
# script pass the phase unseen. "anywhere" is a random moment from the
# script's start to a little after its end, as the uncut round measured
# it, whatever phase that is: a broken script may never show the phase
# where its fault lies.
cut_in_phase() {
    when="the guest ended first"
    while kill -0 "$pid" 2>/dev/null; do
        phase=$(phase_now)
        if [ "$1" = anywhere ] && [ "$phase" != none ]; then
            random_below "$(($(script_length "$control") + 1500))"
        elif [ "$phase" = "$1" ]; then
            random_below "$(cut_window "$control" "$1")"
        elif [ "$phase" != none ] && { [ "$phase" = ended ] || later_than "$1" "$phase"; }; then
            when="passed unseen"
            break
        else
            sleep 0.02
            continue
        fi
        when="+$random ms"
        sleep "$(awk -v ms="$random" 'BEGIN { printf "%.3f", ms / 1000 }')"
        break
    done
    vm_power_cut "$pid"
}

# run_job CONTROL [PHASE | done]: runs job CONTROL (1 backup, 2
# restoration, 3 upgrade). With PHASE the power goes in that phase of the
# script; with "done" it goes as soon as the script has ended (synced),
# which spares the countdown; without, the job ends in the tool's reboot,
# and how long each phase of the script lasted is measured.
run_job() {
    rm -f "$work/console.log"
    kind=$(kind_of "$1")
    pid=$(vm_boot x86_64 "$system" "$usb" "$sdcard" "$work/console.log" \
        "device_vm.control=$1" device_vm.device=0 device_vm.snum=A7 \
        device_vm.writeback=tight device_vm.phases=1 "device_vm.generation=${generation:-}")
    case ${2:-} in
        done)
            await_line "$pid" '^Exit Code:' || true
            vm_power_cut "$pid"
            ;;
        ?*) cut_in_phase "$2" ;;
        *)
            measure_phases "$1"
            vm_wait "$pid" 300 || violation "the guest did not end by itself"
            ;;
    esac
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

# record_cut SUFFIX AIM: the line of the cut just made, naming the phase it
# hit, which also goes into the run's count per job and phase.
record_cut() {
    hit=$(phase_now)
    say "cut $cut_number$1: $job, $hit (aimed at $2, $when)"
    echo "$job:$hit" | tr ' ' _ >> "$work/hits"
}

# Every other time a cut left the next run of job LABEL something to
# settle, that run is cut as well, while it settles, before it runs uncut:
# cut_while_settling CONTROL LABEL. The device's data is not touched at
# its start, so that it stays what the first cut left.
cut_while_settling() {
    leftovers_for "$2" || return 0
    random_below 2
    [ "$random" = 0 ] || return 0
    first_job=$job first_generation=${generation:-}
    job=$2 generation=
    run_job "$1" settling
    record_cut ", again" settling
    read_device
    check_data
    check_software
    job=$first_job generation=$first_generation
}

# The uncut restoration after every cut.
restore_after_cut() {
    read_device
    [ "$job" != restoration ] || cut_while_settling 2 restoration
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
    # The restoration after the cut has changed /data since the cycle
    # began: what it left is the data before this job.
    read_device
    data_before=$(data_now)
    data_restored=$data_before
    cut_while_settling 3 upgrade
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

# What the tool judged a success before the power went must be true on
# the disks read back: the backup it verified there and whole (its
# contents are check_archives'), the restored data in /data, the package's
# version and payload in place.
check_claims() {
    case $job in
        backup)
            claimed=$(tr -d '\r' < "$work/console.log" | awk '
                /checkBackUpFiles  backUpFileName/ { name = $NF }
                /checkBackUpFiles  calMd5/ { cal = $NF }
                /checkBackUpFiles  fileMd5/ { if ($NF == cal && length(cal) == 34) print name }' \
                | tr -d '"' | sed 's|.*/||')
            [ -z "$claimed" ] || [ -f "$(folder)/$claimed" ] \
                || violation "the tool verified $claimed, which is not on the stick"
            ;;
        restoration)
            grep -q '^Exit Code: 0' "$work/console.log" || return 0
            [ "$(data_now)" = "$data_restored" ] \
                || violation "the restoration exited 0, but /data is not the restored backup"
            ;;
        upgrade)
            grep -q '^Exit Code: 0' "$work/console.log" || return 0
            [ "$(head -n 1 "$work/now/etc/version.cfg" 2>/dev/null)" = "$package_version" ] \
                || violation "the upgrade to $package_version exited 0," \
                    "but the version file does not name it"
            for file in $payload_files; do
                cmp -s "$work/now/opt/$file" "$work/packages/$package_version/opt/$file" \
                    || violation "the upgrade to $package_version exited 0, but /opt/$file is not its"
            done
            ;;
    esac
}

# Whether an earlier cut left something of job $1's script half done for
# its next run to settle.
leftovers_for() {
    case $1 in
        backup) ls "$(folder)" 2>/dev/null | grep -q '\.part$' ;;
        restoration) grep -q '^data\.' "$work/now/root-entries" ;;
        *) grep -q '^\.korvello-upgrade' "$work/now/root-entries" \
            || find "$work/now/opt" -name '*.korvello-*' | grep -q . ;;
    esac
}

# The phase a cut aims at: where an earlier cut left something half done,
# its settling, always until the job's settling has been hit, then every
# other time; otherwise, every other time anywhere in the script, else
# one of the job's phases that the run's cuts have hit least so far, so
# that a run of some dozens of cuts hits them all.
aim_for() {
    aim=settling
    label=$(echo "$job" | tr ' ' _)
    if leftovers_for "$job"; then
        grep -qx "$label:settling" "$work/hits" || return 0
        random_below 2
        [ "$random" != 0 ] || return 0
    fi
    aim=anywhere
    random_below 2
    [ "$random" != 0 ] || return 0
    set -- $(for phase in $(phases_of "$job"); do
        [ "$phase" = settling ] || echo "$(grep -cx "$label:$phase" "$work/hits") $phase"
    done | sort -n | awk 'NR == 1 { least = $1 } $1 == least { print $2 }')
    random_below $#
    eval "aim=\${$((random + 1))}"
}

started=$(date +%s)
say "seed $seed; $cuts cuts of ${only_job:-backups, restorations, and good, conflicting and failing packages} on FAT32"

# A first, uncut round of the three jobs puts a backup and a package on
# the device, and measures how long each phase of each script lasts here.
job=calibration hit=uncut
for control in 1 2 3; do
    [ "$control" != 3 ] || package_for 1
    run_job "$control"
    if ! grep -q '^Exit Code: 0' "$work/console.log"; then
        say "the uncut job $control failed; see $work/console.log"
        exit 1
    fi
    say "uncut $(kind_of "$control"): $(awk '{ printf "%s%s %s ms", sep, $1, $2; sep = ", " }' \
        "$work/phases-$control")"
done
version_number=1
generation=0
: > "$work/hits"

while [ "$cut_number" -lt "$cuts" ]; do
    cut_number=$((cut_number + 1))
    generation=$((generation + 1))
    read_device
    data_before=$(data_with_generation "$generation")
    data_restored=$data_before
    backup_index=none
    software_before=$(software_now)
    pending_before=$(pending_stage_version)
    cycle=5 turn=$((cut_number % 5))
    # With --job upgrade, the three kinds of package take turns.
    case $only_job in
        backup) turn=1 ;;
        restoration) turn=3 ;;
        upgrade) cycle=3 turn=$(((cut_number % 3) * 2)) ;;
    esac
    # The first package after the good one (whose cut may leave a stage) is
    # the conflicting one in one cycle and the failing one in the next, so
    # that each of them also settles a stage before refusing its own.
    if [ $(((cut_number - 1) / cycle % 2)) = 1 ]; then
        case $turn in
            2) turn=4 ;;
            4) turn=2 ;;
        esac
    fi
    case $turn in
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
            package_version=$version
            ;;
    esac
    aim_for
    run_job "$control" "$aim"
    record_cut "" "$aim"
    read_device
    note_leftovers
    check_archives
    check_data
    check_software
    check_claims
    case $job in
        *package) check_failing_package ;;
    esac
    restore_after_cut
    case $job in
        *package) good_after_failing_package ;;
    esac
    prune_backups
    [ -z "$until_violation" ] || [ "$violations" = 0 ] || break
done

# The cuts per job and phase, zeros included, in the order a script
# passes its phases.
missed=
for each in backup restoration "conflicting package" "failing package" upgrade; do
    label=$(echo "$each" | tr ' ' _)
    grep -q "^$label:" "$work/hits" || continue
    counts=
    for phase in $(phases_of "$each"); do
        count=$(grep -cx "$label:$phase" "$work/hits" || true)
        counts="$counts, $phase $count"
        [ "$count" != 0 ] || missed="$missed, $each $phase"
    done
    say "cuts of the $each: ${counts#, }"
done
[ -z "$missed" ] || say "no cut hit: ${missed#, }"
say "what the cuts left half done: $(sort "$work/leftovers" | uniq -c \
    | awk '{ printf "%s%s %s", sep, $1, $2; sep = ", " }')"
say "took $(($(date +%s) - started)) s"
say "$cut_number cuts, $violations violations"
[ "$violations" = 0 ]
