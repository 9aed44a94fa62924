#!/bin/sh
# How long the three jobs take on a slow USB stick, on the emulated device
# (scripts/device-vm.sh): a benchmark, not a test; CI does not run it.
#
#   scripts/bench-stick.sh [--size MiB] [--write-mbps N] [--read-mbps N]
#                          [--unthrottled] [--probe] [--jobs LIST] [--out DIR]
#
# One x86_64 guest with SIZE MiB of data (default 1024) runs, each on a
# fresh boot and so with a cold page cache, a backup of its data onto the
# stick, a restoration of that backup, and an upgrade with a package of
# SIZE MiB. The stick is throttled by QEMU to N MB/s (10^6 bytes) written
# (default 20) and read (default 30), as a USB 2.0 stick; --unthrottled
# leaves it as fast as the host, to show what the emulated processor
# alone allows. The system disk, as the device's eMMC, is not throttled.
#
# Each job's time comes from the tool's own debug log (its lines carry the
# seconds since the tool started): the busy steps only, without the
# screen's fixed delays between them and without the countdown:
#   backup       the script, then the verification
#   restoration  the choice of the backup (which hashes it), then the script
#   upgrade      the package's check (which hashes it), then the script
# What a step moves on the stick is counted by QEMU itself (the stick's
# "info blockstats" on the monitor, read before and after each step, while
# the stick is idle), so that a read the guest's page cache served is not
# counted. The floor of a step is its bytes written at the write speed
# plus its bytes read at the read speed; the ratio is the step's time over
# its floor. Prints one table per step and one per job, with the minutes
# one GiB of data takes on such a stick. --jobs backup or backup,restoration
# runs only those (the restoration restores the backup just made).
#
# --probe runs no job: a stand-in backup script times, in the guest, what
# the jobs' scripts are made of, each alone on SIZE MiB: reading the data
# from the page cache, BusyBox's md5sum and tar on it, tar into md5sum, and
# writing to and reading from the stick (its pages dropped first). It shows
# whether the emulated processor or the stick bounds a job.
set -eu
cd "$(dirname "$0")/.."
. device-vm/lib.sh

usage() {
    sed -n '5,7p' "$0" >&2
    exit 2
}

size_mib=1024
write_mbps=20
read_mbps=30
throttled=yes
probe=
jobs=backup,restoration,upgrade
work=$VM_CACHE/stick-times
while [ $# -gt 0 ]; do
    case $1 in
        --size) [ $# -ge 2 ] || usage; size_mib=$2; shift ;;
        --write-mbps) [ $# -ge 2 ] || usage; write_mbps=$2; shift ;;
        --read-mbps) [ $# -ge 2 ] || usage; read_mbps=$2; shift ;;
        --unthrottled) throttled= ;;
        --probe) probe=yes ;;
        --jobs) [ $# -ge 2 ] || usage; jobs=$2; shift ;;
        --out) [ $# -ge 2 ] || usage; work=$2; shift ;;
        *) usage ;;
    esac
    shift
done
for number in "$size_mib" "$write_mbps" "$read_mbps"; do
    case $number in '' | *[!0-9]* | 0*) usage ;; esac
done

scripts/install-deps.sh --vm
[ -x build/app/korvello ] && [ -x build/tools/medium/korvello-medium ] || scripts/build.sh build
vm_fetch x86_64
vm_initrd x86_64

say() {
    echo "stick-times: $*"
}

rm -rf "$work"
mkdir -p "$work"
cp build/app/korvello build/tools/medium/korvello-medium "$work/"
system=$work/system.img
usb=$work/usb.img
sdcard=$work/sdcard.img
console=$work/console.log

# SIZE MiB in 16 files of noise, which neither tar nor the stick shrinks.
fill_folder() {
    mkdir -p "$1"
    for n in $(seq 1 16); do
        head -c "$((size_mib * 1048576 / 16))" /dev/urandom > "$1/file-$n.bin"
    done
}

# The system disk: made small by vm_system_image, then grown to hold the
# data, its restored copy beside it (the restoration unpacks before it
# swaps) and the upgrade's staged payload; the data goes in with debugfs.
system_disk() {
    mkdir -p "$work/seed"
    echo "brightness=80" > "$work/seed/device.conf"
    vm_system_image "$system" x86_64 "$work/korvello" "$work/seed" V1.0
    e2fsck -f -p "$system" >/dev/null || vm_die "e2fsck of $system failed"
    resize2fs "$system" "$((size_mib * 3 + 512))M" >/dev/null 2>&1 || vm_die "resize2fs failed"
    fill_folder "$work/data"
    for file in "$work"/data/*; do
        echo "write $file /data/${file##*/}"
    done > "$work/debugfs.cmd"
    debugfs -w -f "$work/debugfs.cmd" "$system" >/dev/null 2>&1 || vm_die "debugfs write failed"
    rm -rf "$work/data"
}

# The stick: the reference scripts, room for the backup and the package.
stick() {
    mkdir -p "$work/medium"
    "$work/korvello-medium" prepare "$work/medium" >/dev/null
    vm_medium_image "$usb" "$((size_mib * 2 + 256))" "$work/medium"
    vm_medium_image "$sdcard" 64
}

# A package of SIZE MiB onto the stick, for the upgrade.
package() {
    fill_folder "$work/payload/opt/bench"
    "$work/korvello-medium" pack-upgrade --version V2.0 --payload "$work/payload" \
        --output "$work/update-V2.0.tar" >/dev/null || vm_die "pack-upgrade failed"
    rm -rf "$work/payload"
    mmd -i "$(vm_fat "$usb")" ::/run/upgrade 2>/dev/null || true
    mcopy -i "$(vm_fat "$usb")" "$work/update-V2.0.tar" "$work/update-V2.0.tar.md5" ::/run/upgrade/ \
        || vm_die "mcopy of the package failed"
    package_bytes=$(stat -c %s "$work/update-V2.0.tar")
    rm -f "$work/update-V2.0.tar"
}

# The stand-in backup script of --probe: each figure as "what bytes
# seconds" in run/probe.txt on the stick. /proc/uptime counts in 10 ms.
probe_script() {
    cat <<'PROBE'
#!/bin/sh
out=${0%/*}/probe.txt
now() { cut -d ' ' -f 1 /proc/uptime; }
bytes=$(cat /data/*.bin | wc -c)
timed() {
    what=$1
    shift
    from=$(now)
    sh -c "$*" > /dev/null 2>&1
    echo "$what $bytes $(awk -v a="$from" -v b="$(now)" 'BEGIN { print b - a }')" >> "$out"
}
: > "$out"
timed "data read again from the page cache (cat)" 'cat /data/*.bin'
timed "data read again from the page cache (cat)" 'cat /data/*.bin'
timed "md5sum of the data" 'cat /data/*.bin | md5sum'
timed "tar of the data" 'tar -cf - -C /data . | cat'
timed "tar of the data into md5sum" 'tar -cf - -C /data . | md5sum'
timed "written to the stick and synced (cat)" "cat /data/*.bin > ${0%/*}/probe.bin && sync"
echo 3 > /proc/sys/vm/drop_caches
timed "read from the stick, its pages dropped (cat)" "cat ${0%/*}/probe.bin"
timed "md5sum of the file on the stick, in the page cache" "md5sum ${0%/*}/probe.bin"
rm -f "${0%/*}/probe.bin"
sync
exit 1
PROBE
}

run_probe() {
    probe_script > "$work/backup_script.sh"
    chmod +x "$work/backup_script.sh"
    mcopy -o -i "$(vm_fat "$usb")" "$work/backup_script.sh" ::/run/backup_script.sh \
        || vm_die "cannot put the probe onto the stick"
    rm -f "$console"
    VM_PLATFORM=offscreen
    export VM_PLATFORM
    pid=$(vm_boot x86_64 "$system" "$usb" "$sdcard" "$console" \
        device_vm.control=1 device_vm.device=0 device_vm.snum=A7)
    vm_wait "$pid" 3600 || vm_die "the probe's guest did not end; see $console"
    mcopy -n -i "$(vm_fat "$usb")" ::/run/probe.txt "$work/probe.txt" 2>/dev/null \
        || vm_die "the probe left no figures; see $console"
    echo "| in the guest, alone | bytes | time | MB/s |"
    echo "|---|---|---|---|"
    awk '{ s = $NF; b = $(NF - 1); NF -= 2
           printf "| %s | %.0f MB | %.1f s | %.1f |\n", $0, b / 1e6, s, (s > 0 ? b / 1e6 / s : 0) }' \
        "$work/probe.txt"
}

# Waits until the console shows a line holding TEXT, or the guest ends.
await_line() {
    while ! tr -d '\r' 2>/dev/null < "$console" | grep -q -F -- "$1"; do
        kill -0 "$pid" 2>/dev/null || return 1
        sleep 0.05
    done
}

# The stick's bytes read and written so far, as QEMU counts them: "READ
# WRITTEN". The monitor's answers pile up in $console.monitor.txt; the
# newest line about the stick is this query's once their count has grown.
stick_counts() {
    monitor=$console.monitor.txt
    asked=$(tr -d '\r' 2>/dev/null < "$monitor" | grep -c 'usb: .*rd_bytes' || true)
    timeout 5 sh -c 'echo "info blockstats" > "$1.monitor.in"' sh "$console" \
        || vm_die "the monitor did not take info blockstats"
    tries=0
    while [ "$(tr -d '\r' < "$monitor" | grep -c '^.*usb: .*rd_bytes')" -le "$asked" ]; do
        [ "$tries" -lt 200 ] || vm_die "no answer to info blockstats"
        sleep 0.05
        tries=$((tries + 1))
    done
    tr -d '\r' < "$monitor" | grep 'usb: .*rd_bytes' | tail -n 1 \
        | sed -n 's/.*rd_bytes=\([0-9]*\) wr_bytes=\([0-9]*\).*/\1 \2/p'
}

# The seconds since the tool's start at which it logged the first line
# holding TEXT (QT_MESSAGE_PATTERN puts them in front).
logged_at() {
    tr -d '\r' < "$console" | awk -v text="$1" '
        $1 ~ /^[0-9]+\.[0-9]+$/ && index($0, text) { print $1; found = 1; exit }
        END { if (!found) exit 1 }'
}

# step JOB STEP FIRST_LINE LAST_LINE: waits for the step's first line,
# counts the stick, waits for its last line, counts again, and appends
# "JOB STEP SECONDS READ WRITTEN" to $work/steps. The stick is idle at
# both counts: before the first line the screen waits on a timer, after
# the last one on a timer or the countdown.
# stick_counts answers with two numbers, which become two parameters.
# shellcheck disable=SC2046
step() {
    await_line "$3" || vm_die "the $1 never logged \"$3\"; see $console"
    set -- "$@" $(stick_counts)
    await_line "$4" || vm_die "the $1 never logged \"$4\"; see $console"
    set -- "$@" $(stick_counts)
    from=$(logged_at "$3") to=$(logged_at "$4")
    echo "$1 $2 $(awk -v a="$from" -v b="$to" 'BEGIN { printf "%.3f", b - a }')" \
        "$(($7 - $5)) $(($8 - $6))" >> "$work/steps"
}

# run_job CONTROL JOB: one job on a fresh boot, its steps measured.
run_job() {
    rm -f "$console" "$console.monitor.txt"
    VM_MONITOR=yes VM_PLATFORM=offscreen
    export VM_MONITOR VM_PLATFORM
    pid=$(vm_boot x86_64 "$system" "$usb" "$sdcard" "$console" \
        "device_vm.control=$1" device_vm.device=0 device_vm.snum=A7 \
        'QT_MESSAGE_PATTERN="%{time process} %{message}"')
    cat "$console.monitor.out" > "$console.monitor.txt" &
    reader=$!
    started=$(date +%s)
    case $2 in
        backup)
            step backup script slot_toLoadTimeOut "Script execution completed"
            step backup verification slot_toCheckTimeOut handleRebootCount
            ;;
        restoration)
            step restoration choice slot_toLoadTimeOut "checkBackIndex  backfileName"
            step restoration script slot_toRunSHOut handleRebootCount
            ;;
        upgrade)
            step upgrade check slot_toLoadTimeOut "checkUpgradeFiles  upgradefileName"
            step upgrade script slot_toRunSHOut handleRebootCount
            ;;
    esac
    vm_wait "$pid" 600 || vm_die "the guest did not end after its $2; see $console"
    kill "$reader" 2>/dev/null || true
    wait "$reader" 2>/dev/null || true
    cp "$console" "$work/console-$2.log"
    say "$2: the guest ran $(($(date +%s) - started)) s"
    tr -d '\r' < "$work/console-$2.log" | grep -q ' Exit Code: 0$' || vm_die "the $2 failed; see $work/console-$2.log"
}

# The tables: per step and per job, from $work/steps.
report() {
    awk -v wbps="$write_bps" -v rbps="$read_bps" -v archive="$1" -v package="$2" -v throttled="$throttled" '
        function mb(b) { return sprintf("%.0f MB", b / 1e6) }
        function floor_of(r, w) { return throttled ? w / wbps + r / rbps : 0 }
        function row(name, t, r, w,   f) {
            f = floor_of(r, w)
            printf "| %s | %s / %s | %s | %.1f s | %s |", name, mb(w), mb(r),
                f ? sprintf("%.1f s", f) : "-", t, f ? sprintf("%.2f", t / f) : "-"
        }
        {
            printf "%s", (NR == 1 ? "| job, step | written / read on the stick | floor | time | ratio |\n|---|---|---|---|---|\n" : "")
            row($1 ", " $2, $3, $4, $5); print ""
            if (!($1 in seen)) { order[++jobs] = $1; seen[$1] = 1 }
            t[$1] += $3; r[$1] += $4; w[$1] += $5
        }
        END {
            print ""
            print "| job | written / read on the stick | floor | time | ratio | minutes per GiB |"
            print "|---|---|---|---|---|---|"
            for (i = 1; i <= jobs; i++) {
                j = order[i]
                row(j, t[j], r[j], w[j])
                printf " %.1f |\n", t[j] / ((j == "upgrade" ? package : archive) / 1073741824) / 60
            }
        }' "$work/steps"
}

write_bps=$((write_mbps * 1000000))
read_bps=$((read_mbps * 1000000))
if [ -n "$throttled" ]; then
    export VM_STICK_LIMITS=throttling.bps-read=$read_bps,throttling.bps-write=$write_bps
    limits="throttled to $write_mbps MB/s written and $read_mbps MB/s read"
else
    unset VM_STICK_LIMITS
    limits="unthrottled"
fi
say "$size_mib MiB of data, the stick $limits"
say "before: $(uptime)"
begun=$(date +%s)
system_disk
stick
if [ -n "$probe" ]; then
    run_probe
    say "after: $(uptime)"
    exit 0
fi
: > "$work/steps"
run_job 1 backup
archive=$(mdir -b -i "$(vm_fat "$usb")" ::/run/data/data-A7 2>/dev/null | grep '\.tar$' | head -n 1)
archive_bytes=$(mcopy -n -i "$(vm_fat "$usb")" "$archive" - 2>/dev/null | wc -c)
say "the archive: ${archive##*/}, $archive_bytes bytes"
package_bytes=$archive_bytes
case ,$jobs, in *,restoration,*) run_job 2 restoration ;; esac
case ,$jobs, in
    *,upgrade,*)
        package
        say "the package: $package_bytes bytes"
        run_job 3 upgrade
        ;;
esac
say "after: $(uptime)"
say "took $(($(date +%s) - begun)) s"
report "$archive_bytes" "$package_bytes"
