#!/bin/sh
# Tries the emulated device's three jobs against the ways a real stick
# fails, and checks what each left on the media.
#
#   scripts/faults.sh [--seed S] [--short] [--job JOB] [--fault FAULT]
#                     [--scripts DIR] [--korvello FILE] [N]
#
# Each case boots a fresh x86_64 guest (scripts/device-vm.sh) on the
# device's system disk as the case before left it, with one of these
# sticks (a USB stick, FAT32), and runs one job:
#   pulled     the stick is pulled (the QEMU monitor's device_del: the
#              guest's kernel sees its USB device go) at a random moment
#              of the script, of the tool's own verification (the backup's
#              check after the script, the restoration's and the upgrade's
#              digests before it) or of the restoration's unpacking;
#   bad        a range of sectors fails with EIO (QEMU's blkdebug driver in
#              front of the stick's image): reads inside the newest backup
#              (restoration) or the package (upgrade), writes where the
#              backup's archive goes (the free space the guest's FAT driver
#              allocates from);
#   readonly   the stick is write-protected (a read-only drive);
#   full       the stick has less room than the backup needs;
#   slow       the stick reads and writes some dozen times slower than a
#              USB 2.0 stick does here.
# The screen is read at the countdown's first second (linuxfb, QEMU's
# VGA, korvello-pictures --read-note) and the host then reads the images:
#   - a success on the screen is true on the media: the backup it names is
#     on the stick, matches its side file and holds the device's data; the
#     restoration left /data equal to the backup it chose, which is the
#     newest one the device can read whole; the upgrade left the package's
#     version and every payload file;
#   - /data is the data before the job or the restored backup, the software
#     the old one or the package's, and nothing is left half done beside
#     them;
#   - the job ends as specified: a note, the countdown and the tool's reboot
#     within a bounded time;
#   - the same job then works on a good stick (its power goes once the
#     script has ended, which spares the countdown).
# After a restoration whose newest backup cannot be read, `korvello-medium
# check` runs inside a guest on the same stick, through the same bad
# sectors, and must name that archive as passed over for that.
# N cases (default 60) go round the matrix of job and fault (and moment),
# each at a random moment or place; --short runs each fault once per job;
# --job (backup, restoration, upgrade) and --fault keep only their rows.
# --scripts DIR puts DIR's medium scripts on the sticks in place of the
# reference ones, --korvello FILE that tool on the device, so that broken
# copies can be tried. One line per case, one per violation, and last
# "faults: N cases, K violations". Exits 1 when K > 0.
set -eu
cd "$(dirname "$0")/.."
. device-vm/lib.sh
# Where verdict.sh's read_note finds korvello-pictures.
NATIVE_BUILD=build
. device-vm/verdict.sh

usage() {
    sed -n '2,50p' "$0" >&2
    exit 2
}

seed=$(date +%s)
short=
cases=60
scripts_from=
korvello_from=build/app/korvello
only_job=
only_fault=
while [ $# -gt 0 ]; do
    case $1 in
        --seed) [ $# -ge 2 ] || usage; seed=$2; shift ;;
        --short) short=yes ;;
        --scripts) [ $# -ge 2 ] && [ -d "$2" ] || usage; scripts_from=$(cd "$2" && pwd); shift ;;
        --korvello) [ $# -ge 2 ] && [ -x "$2" ] || usage; korvello_from=$2; shift ;;
        --job) [ $# -ge 2 ] || usage; only_job=$2; shift ;;
        --fault) [ $# -ge 2 ] || usage; only_fault=$2; shift ;;
        '' | *[!0-9]*) usage ;;
        *) cases=$1 ;;
    esac
    shift
done

scripts/install-deps.sh --vm
[ -x build/app/korvello ] && [ -x build/tools/medium/korvello-medium ] \
    && [ -x build/tools/pictures/korvello-pictures ] || scripts/build.sh build
vm_fetch x86_64
vm_initrd x86_64

work=${FAULTS_WORK:-$VM_CACHE/faults}
rm -rf "$work"
mkdir -p "$work"
cp "$korvello_from" "$work/korvello"
cp build/tools/medium/korvello-medium "$work/"
violations=0
case_number=0
SNUM=A7
# A guest that has not ended this long after its start hangs: a case takes
# under a minute, a slow stick's some more.
CASE_TIMEOUT=240

say() {
    echo "faults: $*"
}

violation() {
    violations=$((violations + 1))
    say "case $case_number ($job, $fault${moment:+ $moment}): $*"
}

# Seeded from --seed, so that a run can be repeated (random_below).
random_state=$seed

# As on the power-cut run: the disks are as slow next to the emulated
# processor as a USB 2.0 stick and an eMMC are next to the device's. The
# slow stick reads and writes sixteen times slower than that.
NORMAL_STICK=throttling.bps-read=4194304,throttling.bps-write=1048576
SLOW_STICK=throttling.bps-read=262144,throttling.bps-write=65536
export VM_SYSTEM_LIMITS=throttling.bps-write=4194304

# --- What the device and the sticks hold ------------------------------

# fill_data DIR MARK: the device's data: 2 MB of noise, which the stick
# takes seconds to write, 200 small files, a link, an empty folder and a
# mark that tells one generation of it from another.
fill_data() {
    mkdir -p "$1/logs" "$1/spool/empty" "$1/settings"
    head -c 2000000 /dev/urandom > "$1/logs/samples.bin"
    for n in $(seq 1 200); do
        echo "setting $n of $2" > "$1/settings/s$n.conf"
    done
    ln -s logs "$1/current"
    echo "$2" > "$1/generation"
}

payload_files="app/app.bin app/lib/data.bin app/readme.txt"
make_payload() {
    for file in $payload_files; do
        mkdir -p "$(dirname "$1/$file")"
        { echo "$2"; head -c 300000 /dev/urandom; } > "$1/$file"
    done
}

# backup_on MEDIUM DATA INDEX: a backup of DATA in the device folder, as
# the backup script writes one: a tar of the folder's contents and its
# side file in md5sum's form.
backup_on() {
    folder=$1/run/data/data-$SNUM
    name=data-$SNUM-2026010${3}120000-$3
    mkdir -p "$folder"
    tar -cf "$folder/$name.tar" -C "$2" .
    echo "$(md5sum < "$folder/$name.tar" | cut -c 1-32)  $name.tar" > "$folder/$name.md5"
}

# package_on MEDIUM VERSION: VERSION's package in MEDIUM/run/upgrade, its
# payload kept in $work/packages/VERSION.
package_on() {
    make_payload "$work/packages/$2/opt" "$2"
    printf 'echo "${1##*/} $2" > opt/app/hooked\n' > "$work/hook.sh"
    "$work/korvello-medium" pack-upgrade --version "$2" \
        --payload "$work/packages/$2" --hook "$work/hook.sh" "$1" >/dev/null
}

# The device: its data ("current"), older backups of other data on the
# stick (index 1 "older", index 2 "newest"), V0000 installed, V0002 on the
# faulty sticks and V0003 on the good one, so that the job after an upgrade
# to V0002 still has a newer package.
set_up() {
    fill_data "$work/data" current
    fill_data "$work/older" older
    fill_data "$work/newest" newest
    make_payload "$work/opt" V0000
    for medium in faulty good; do
        mkdir -p "$work/$medium"
        "$work/korvello-medium" prepare "$work/$medium" >/dev/null
        if [ -n "$scripts_from" ]; then
            for script in backup_script.sh recover_script.sh upgrade_script.sh; do
                cp "$scripts_from/$script" "$work/$medium/run/$script"
                chmod +x "$work/$medium/run/$script"
            done
        fi
        backup_on "$work/$medium" "$work/older" 1
        backup_on "$work/$medium" "$work/newest" 2
        # A stick in use has the scripts' history of the jobs before.
        mkdir -p "$work/$medium/run/log"
        printf '2026-01-02T12:00:00Z\tbackup\t0\tdone\t2211840\t3\t%s\n' \
            "$SNUM 20260102120000 2 /mnt/usb/sda1/run/data" > "$work/$medium/run/log/$SNUM.log"
    done
    package_on "$work/faulty" V0002
    package_on "$work/good" V0003
    vm_system_image "$work/system-base.img" x86_64 "$work/korvello" "$work/data" V0000 "$work/opt"
    vm_medium_image "$work/faulty.img" 64 "$work/faulty"
    vm_medium_image "$work/good.img" 64 "$work/good"
    vm_medium_image "$work/sdcard.img" 64
    # What every case starts from, as the host reads the device's disk.
    out=$work/base
    cp --sparse=always "$work/system-base.img" "$work/system.img"
    read_back "$work/faulty.img"
    data_before=$(data_now)
    software_before=$(software_now)
}

# --- Where a file lies on a stick --------------------------------------

# fat_geometry IMAGE: sets fat_data (the first sector of the data area,
# counted from the image's start), fat_cluster (sectors per cluster) and
# fat_next (the FAT32 FSINFO hint, the cluster the guest's driver
# allocates from) from the FAT file system's boot sector.
fat_geometry() {
    base=$((VM_FAT_SECTOR * 512))
    le() { od -A n -t "u$2" -j $((base + $1)) -N "$2" "$3" | tr -d ' '; }
    reserved=$(le 14 2 "$1")
    fats=$(od -A n -t u1 -j $((base + 16)) -N 1 "$1" | tr -d ' ')
    per_fat=$(le 36 4 "$1")
    fat_cluster=$(od -A n -t u1 -j $((base + 13)) -N 1 "$1" | tr -d ' ')
    fat_data=$((VM_FAT_SECTOR + reserved + fats * per_fat))
    fat_next=$(le $((512 + 492)) 4 "$1")
    fat_clusters=$((per_fat * 128))
    # The hint may be unset (0xffffffff) or stale: the driver then takes the
    # first free cluster from there on, or from the start.
    [ "$fat_next" -ge 2 ] && [ "$fat_next" -lt "$fat_clusters" ] || fat_next=1
    fat_next=$(od -A n -t u4 -v -j $((base + reserved * 512)) -N $((per_fat * 512)) "$1" \
        | tr -s ' ' '\n' | awk -v from="$fat_next" 'NF { n++ } NF && n - 1 > from && $1 == 0 {
            print n - 1; exit }')
}

# first_sector CLUSTER: the image sector where a cluster starts.
first_sector() {
    echo $((fat_data + ($1 - 2) * fat_cluster))
}

# file_sectors IMAGE PATH: "FIRST LAST" image sectors of a file that lies in
# one run of clusters (mtools writes a fresh stick's files so); fails for a
# fragmented one.
file_sectors() {
    fat_geometry "$1"
    chain=$(mshowfat -i "$(vm_fat "$1")" "::$2" | sed -n 's/^[^<]*<\([0-9]*\)-\([0-9]*\)>$/\1 \2/p')
    [ -n "$chain" ] || return 1
    set -- $chain
    echo "$(first_sector "$1") $(($(first_sector "$2") + fat_cluster - 1))"
}

# bad_sectors FILE EVENT IOTYPE FIRST COUNT: blkdebug's rules for COUNT
# sectors from FIRST that fail with EIO (5) on every read or write.
bad_sectors() {
    : > "$1"
    for sector in $(seq "$4" $(($4 + $5 - 1))); do
        printf '[inject-error]\nevent = "%s"\niotype = "%s"\nerrno = "5"\nsector = "%s"\nonce = "off"\n\n' \
            "$2" "$3" "$sector" >> "$1"
    done
}

# --- One case ----------------------------------------------------------

kind_of() {
    case $1 in
        1) echo backup ;;
        2) echo restoration ;;
        *) echo upgrade ;;
    esac
}

phase_now() {
    awk -v kind="$(kind_of "$control")" -f device-vm/phase.awk "$log" 2>/dev/null || echo none
}

now_ms() {
    echo $(($(date +%s%N) / 1000000))
}

# await PID PATTERN: until the console shows PATTERN; fails when the guest
# ended or the case's time ran out first.
await() {
    aw_deadline=$(($(date +%s) + CASE_TIMEOUT))
    while ! tr -d '\r' 2>/dev/null < "$log" | grep -q -E "$2"; do
        kill -0 "$1" 2>/dev/null && [ "$(date +%s)" -lt "$aw_deadline" ] || return 1
        sleep 0.02
    done
}

# await_phase PID PHASE: until the job's script is in PHASE (or past it).
await_phase() {
    aw_deadline=$(($(date +%s) + CASE_TIMEOUT))
    while :; do
        case $(phase_now) in
            "$2" | ended) return 0 ;;
        esac
        kill -0 "$1" 2>/dev/null && [ "$(date +%s)" -lt "$aw_deadline" ] || return 1
        sleep 0.02
    done
}

sleep_ms() {
    sleep "$(awk -v ms="$1" 'BEGIN { printf "%.3f", ms / 1000 }')"
}

# pull_at PID: pulls the stick at the case's moment: a random time within
# the stretch that moment lasts here (the script's phases as
# device-vm/phase.awk reads them from the guest's console).
pull_at() {
    case $moment in
        verification)
            if [ "$control" = 1 ]; then
                # The check reads the archive 800 ms after the script's end.
                await "$1" '^Exit Code:' || return 0
                random_below 1600
            else
                # The digests are taken before the script starts.
                await "$1" 'slot_toLoadTimeOut' || return 0
                random_below 2000
            fi
            ;;
        unpacking) await_phase "$1" unpacking || return 0; random_below 1200 ;;
        script)
            await "$1" '=== +(runBackupSH|runCmdSH)' || return 0
            case $control in
                1) random_below 3000 ;;
                2) random_below 1500 ;;
                *) random_below 2500 ;;
            esac
            ;;
    esac
    sleep_ms "$random"
    hit="$(phase_now) +$random ms"
    vm_pull_stick "$1" "$log" || hit="$hit, the guest had ended"
}

# The screen at the countdown's first second, whose tick is logged as it
# is painted; its note is the job's last.
take_screen() {
    await "$1" 'rebootCount  4' || return 1
    vm_screendump "$1" "$log" "$out/screen.png"
}

# stick_for FAULT: the stick's image and drive options for the case, and
# where its faults lie.
stick_for() {
    stick=$work/stick.img
    cp --sparse=always "$work/faulty.img" "$stick"
    stick_drive=$stick
    stick_limits=$NORMAL_STICK
    case $1 in
        readonly) stick_limits="$NORMAL_STICK,readonly=on" ;;
        slow) stick_limits=$SLOW_STICK ;;
        full) fill_stick "$stick" ;;
        bad) aim_bad_sectors "$stick" ;;
    esac
}

# fill_stick IMAGE: leaves less free room than the backup needs (a random
# part of the archive's size), with a file that fills the rest.
fill_stick() {
    free=$(mdir -i "$(vm_fat "$1")" ::/ | sed -n 's/^ *\([0-9 ]*\) bytes free.*/\1/p' | tr -d ' ')
    archive=$(du -sb "$work/data" | awk '{ print $1 }')
    random_below "$archive"
    head -c $((free - random)) /dev/zero > "$work/filler"
    mcopy -i "$(vm_fat "$1")" "$work/filler" ::/filler
    rm -f "$work/filler"
    hit="$(($(mdir -i "$(vm_fat "$1")" ::/ | sed -n 's/^ *\([0-9 ]*\) bytes free.*/\1/p' \
        | tr -d ' ') / 1024)) KiB free"
}

# aim_bad_sectors IMAGE: 16 failing sectors at a random place: inside the
# newest backup (restoration) or the package (upgrade) for reads, where
# the guest will write the archive (from the allocation hint, within the
# archive's size) for the backup.
aim_bad_sectors() {
    case $control in
        1)
            fat_geometry "$1"
            first=$(first_sector "$fat_next")
            last=$((first + $(du -sb "$work/data" | awk '{ print $1 }') / 512))
            event=write_aio iotype=write
            ;;
        2)
            where=$(file_sectors "$1" "/run/data/data-$SNUM/data-$SNUM-20260102120000-2.tar") \
                || vm_die "the newest backup on $1 is not in one run of clusters"
            set -- $where
            first=$1 last=$2 event=read_aio iotype=read
            ;;
        *)
            where=$(file_sectors "$1" /run/upgrade/update-V0002.tar) \
                || vm_die "the package on $1 is not in one run of clusters"
            set -- $where
            first=$1 last=$2 event=read_aio iotype=read
            ;;
    esac
    random_below $((last - first - 16))
    bad_first=$((first + random))
    bad_sectors "$work/bad.cfg" "$event" "$iotype" "$bad_first" 16
    stick_drive=blkdebug:$work/bad.cfg:$stick
    hit="sectors $bad_first-$((bad_first + 15)) of $first-$last"
}

# What the device holds now: its disk's /data, /etc and /opt, and the run/
# folder of the stick, read on the host.
read_back() {
    vm_system_dump "$work/system.img" "$out/system"
    vm_medium_dump "$1" "$out/usb"
}

data_now() {
    if [ -d "$out/system/data" ]; then manifest "$out/system/data"; else echo missing; fi
}

# The package's hook leaves a mark of its own beside the payload, which no
# package holds.
software_now() {
    head -n 1 "$out/system/etc/version.cfg" 2>/dev/null
    manifest "$out/system/opt" | grep -v '^\./app/hooked '
}

software_of() {
    echo "$1"
    manifest "$2"
}

folder() {
    echo "$out/usb/run/data/data-$SNUM"
}

# The archive the tool chose to restore, from its log (CR LF lines).
chosen_by_tool() {
    tr -d '\r' < "$log" | sed -n 's/.*checkBackIndex  backfileName  "\(.*\)"$/\1/p' | sed 's|.*/||'
}

# The newest backup the device can read whole: the newest intact one, or
# the older when the newest lies on bad sectors.
expected_backup() {
    if [ "$job" = restoration ] && [ "$fault" = bad ]; then
        echo "data-$SNUM-20260101120000-1.tar"
    else
        echo "data-$SNUM-20260102120000-2.tar"
    fi
}

check_end() {
    [ "$ended" = yes ] || violation "the guest did not end by itself within $CASE_TIMEOUT s"
    grep -q 'device-vm: reboot requested' "$log" \
        || violation "the job did not end in the tool's reboot"
    tr -d '\r' < "$log" | grep -q 'rebootCount  1' || violation "the countdown did not reach 1"
    if [ ! -s "$out/screen.png" ]; then
        violation "no picture of the countdown's screen"
        end=unreadable
        return
    fi
    printf "JOB='%s' VERSION='V0000'\n" "$job" > "$out/run.env"
    reading=$(read_note "$out") || {
        violation "the note cannot be read: ${reading#*	}"
        end=unreadable
        return
    }
    end=${reading%%	*}
}

# A success on the screen must be true on the media read back.
check_claim() {
    [ "$end" = success ] || return 0
    case $job in
        backup)
            named=$(tr -d '\r' < "$log" | sed -n 's/.*checkBackUpFiles  backUpFileName   *"\(.*\)"$/\1/p' \
                | sed 's|.*/||')
            archive=$(folder)/$named
            if [ -z "$named" ] || [ ! -f "$archive" ]; then
                violation "the screen shows success, but the backup '$named' is not on the stick"
            elif ! matches_side_file "$archive"; then
                violation "the screen shows success, but $named does not match its side file on the stick"
            elif [ "$(archive_manifest "$archive")" != "$data_before" ]; then
                violation "the screen shows success, but $named does not hold the device's data"
            fi
            ;;
        restoration)
            chosen=$(chosen_by_tool)
            if [ "$chosen" != "$(expected_backup)" ]; then
                violation "the screen shows success for '$chosen', not the newest readable backup $(expected_backup)"
            elif [ "$(data_now)" != "$(archive_manifest "$work/faulty/run/data/data-$SNUM/$chosen")" ]; then
                violation "the screen shows success, but /data is not what $chosen holds"
            fi
            ;;
        upgrade)
            [ "$(software_now)" = "$(software_of V0002 "$work/packages/V0002/opt")" ] \
                || violation "the screen shows success, but the software is not V0002's whole"
            ;;
    esac
}

# Whatever its end, a restoration that could read its stick chose the
# newest backup it could read whole: past one on bad sectors to the older.
# A pulled stick may leave it nothing to choose.
check_choice() {
    [ "$job" = restoration ] && [ "$fault" != pulled ] || return 0
    chosen=$(chosen_by_tool)
    [ "$chosen" = "$(expected_backup)" ] \
        || violation "the restoration chose '$chosen', not the newest readable backup $(expected_backup)"
}

# The device's own data and software: the old or the new, never lost,
# mixed or left half done.
check_device() {
    now=$(data_now)
    if [ "$now" = missing ]; then
        violation "/data is missing"
    elif [ "$now" != "$data_before" ] && [ "$now" != "$data_restored" ]; then
        violation "/data is neither the data before the job nor the restored backup"
    fi
    software=$(software_now)
    [ "$software" = "$software_before" ] || [ "$software" = "$(software_of V0002 "$work/packages/V0002/opt")" ] \
        || violation "the software is neither the old nor V0002's whole"
    left=$(grep -E '^(data\.|\.korvello)' "$out/system/root-entries" || true)
    left="$left$(cd "$out/system" && find opt -name '*.korvello-*' 2>/dev/null)"
    [ -z "$left" ] || violation "left half done: $(echo $left)"
    # A failing job leaves the device as it was.
    case $end in
        success) ;;
        *)
            [ "$now" = "$data_before" ] || violation "the screen shows $end, but /data changed"
            [ "$software" = "$software_before" ] || [ "$job" != upgrade ] \
                || violation "the screen shows $end, but the software changed"
            ;;
    esac
}

# The same job on a good stick must work: its script exits 0, and the
# backup, the data or the software it leaves is what it must be.
check_next_job() {
    good=$work/good-now.img
    cp --sparse=always "$work/good.img" "$good"
    data_then=$(data_now)
    log=$out/next.log
    VM_STICK_LIMITS=$NORMAL_STICK VM_PLATFORM=offscreen
    export VM_STICK_LIMITS VM_PLATFORM
    pid=$(vm_boot x86_64 "$work/system.img" "$good" "$work/sdcard.img" "$log" \
        "device_vm.control=$control" device_vm.device=0 "device_vm.snum=$SNUM")
    await "$pid" '^Exit Code:' || true
    vm_power_cut "$pid"
    read_back "$good"
    if ! tr -d '\r' < "$log" | grep -q '^Exit Code: 0'; then
        violation "the $job on a good stick afterwards did not succeed"
        return
    fi
    case $job in
        backup)
            archive=$(ls "$(folder)"/*-3.tar 2>/dev/null | head -n 1)
            [ -n "$archive" ] && matches_side_file "$archive" \
                && [ "$(archive_manifest "$archive")" = "$data_then" ] \
                || violation "the backup on a good stick afterwards is not whole"
            ;;
        restoration)
            [ "$(data_now)" = "$(archive_manifest "$work/good/run/data/data-$SNUM/data-$SNUM-20260102120000-2.tar")" ] \
                || violation "the restoration on a good stick afterwards did not restore the newest backup"
            ;;
        upgrade)
            [ "$(software_now)" = "$(software_of V0003 "$work/packages/V0003/opt")" ] \
                || violation "the upgrade on a good stick afterwards did not install V0003 whole"
            ;;
    esac
}

# korvello-medium check on the stick with bad sectors under its newest
# backup must say why the restoration passed that backup over. A copy of
# the files read on the host has lost the bad sectors, so check runs in a
# guest, on the stick through the same blkdebug rules, the device's kernel
# reading it; the host tool is put into a copy of the device's disk.
check_report() {
    cp --sparse=always "$work/system.img" "$work/check.img"
    debugfs -w -R "write $work/korvello-medium /bin/korvello-medium" "$work/check.img" >/dev/null 2>&1
    debugfs -w -R "sif /bin/korvello-medium mode 0100755" "$work/check.img" >/dev/null 2>&1
    VM_STICK_LIMITS=$NORMAL_STICK VM_PLATFORM=offscreen
    export VM_STICK_LIMITS VM_PLATFORM
    pid=$(vm_boot x86_64 "$work/check.img" "$stick_drive" "$work/sdcard.img" "$out/check.log" \
        device_vm.check=1 "device_vm.snum=$SNUM")
    vm_wait "$pid" "$CASE_TIMEOUT" || violation "the guest running korvello-medium check did not end"
    tr -d '\r' < "$out/check.log" | sed -n '/device-vm: check begins/,/device-vm: check ends/p' \
        > "$out/check.txt"
    newest=data-$SNUM-20260102120000-2.tar
    line=$(grep -F "$newest" "$out/check.txt" | head -n 1)
    say "case $case_number: korvello-medium check on the stick: ${line:-nothing on $newest}" | tr -s ' '
    echo "$line" | grep -q "passed over: the archive cannot be read" \
        || violation "korvello-medium check does not say that $newest cannot be read"
}

run_case() {
    out=$work/case-$case_number
    mkdir -p "$out"
    log=$out/console.log
    hit=
    # Each case starts from the device as set up, so that one case's
    # outcome cannot hide the next one's.
    cp --sparse=always "$work/system-base.img" "$work/system.img"
    stick_for "$fault"
    data_restored=$data_before
    [ "$job" != restoration ] \
        || data_restored=$(archive_manifest "$work/faulty/run/data/data-$SNUM/$(expected_backup)")
    started=$(date +%s)
    VM_STICK_LIMITS=$stick_limits VM_PLATFORM=linuxfb
    export VM_STICK_LIMITS VM_PLATFORM
    pid=$(vm_boot x86_64 "$work/system.img" "$stick_drive" "$work/sdcard.img" "$log" \
        "device_vm.control=$control" device_vm.device=0 "device_vm.snum=$SNUM" device_vm.phases=1)
    [ "$fault" != pulled ] || pull_at "$pid"
    take_screen "$pid" || true
    ended=yes
    vm_wait "$pid" $((CASE_TIMEOUT - ($(date +%s) - started))) || ended=no
    read_back "$stick"
    check_end
    say "case $case_number: $job, $fault${moment:+ during the $moment}${hit:+ ($hit)}:" \
        "\"$end\" after $(($(date +%s) - started)) s"
    check_claim
    check_choice
    check_device
    [ "$job" != restoration ] || [ "$fault" != bad ] || check_report
    check_next_job
}

# --- The matrix --------------------------------------------------------

# One row per job, fault and moment: "CONTROL FAULT [MOMENT]".
matrix() {
    for control in 1 2 3; do
        echo "$control pulled script"
        echo "$control pulled verification"
        [ "$control" != 2 ] || echo "$control pulled unpacking"
        for fault in bad readonly full slow; do
            echo "$control $fault"
        done
    done
}

# --short: each fault once per job, the stick pulled at a moment chosen at
# random among the job's.
short_matrix() {
    for control in 1 2 3; do
        moments="script verification"
        [ "$control" != 2 ] || moments="$moments unpacking"
        set -- $moments
        random_below $#
        eval "echo \"$control pulled \${$((random + 1))}\""
        for fault in bad readonly full slow; do
            echo "$control $fault"
        done
    done
}

started_run=$(date +%s)
say "seed $seed; setting up"
set_up
if [ -n "$short" ]; then short_matrix; else matrix; fi | while read -r row; do
    set -- $row
    [ -z "$only_job" ] || [ "$(kind_of "$1")" = "$only_job" ] || continue
    [ -z "$only_fault" ] || [ "$2" = "$only_fault" ] || continue
    echo "$row"
done > "$work/rows"
rows=$(wc -l < "$work/rows")
[ "$rows" -gt 0 ] || usage
[ -n "$short" ] && cases=$rows
say "$cases cases over $rows rows of job and fault"
while [ "$case_number" -lt "$cases" ]; do
    row=$(sed -n "$((case_number % rows + 1))p" "$work/rows")
    case_number=$((case_number + 1))
    set -- $row
    control=$1 fault=$2 moment=${3:-}
    job=$(kind_of "$control")
    run_case
done
say "took $(($(date +%s) - started_run)) s"
say "$case_number cases, $violations violations"
[ "$violations" = 0 ]
