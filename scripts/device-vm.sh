#!/bin/sh
# The device in a virtual machine: a Debian kernel under QEMU (TCG) with a
# static BusyBox as its userland, an ext4 system disk holding /data and
# /etc/version.cfg, and a USB stick and an SD card with a FAT32 partition
# each (/mnt/usb/sda1, /mnt/sdcard/mmcblk1p1). The production korvello starts as
# the device's start-up starts it (snum=... korvello -d N -c N), and its
# real reboot ends the guest (QEMU runs with -no-reboot). Nothing on the
# host is written but the images and the cache in out/device-vm.
#
#   scripts/device-vm.sh prepare          fetch the kernels and BusyBox once
#   scripts/device-vm.sh run [options]    one job on a fresh device
#       --arch x86_64|aarch64   (x86_64)   the aarch64 guest runs
#                                          build-arm64/app/korvello
#       --control N --device N --snum S     as on the device (1, 0, A7)
#       --data DIR       the device's /data (default: a small sample)
#       --medium DIR     the stick's contents (default: run/ with the
#                        reference scripts, from korvello-medium prepare)
#       --out DIR        where the images, the console log and the outcome
#                        go (default: out/device-vm/run)
#       --platform P     linuxfb (default on x86_64) or offscreen (the
#                        default on aarch64, which has no screen)
#     On linuxfb the screen is taken at the countdown's first second and the
#     run ends with the note it shows and a verdict on the media read back:
#       device-vm: note "..."; verdict: true|false (why)
#     The exit code is 1 when the note is unreadable or not true; offscreen
#     has no screen to read, and says so.
#   scripts/device-vm.sh suite [--no-aarch64]
#                                         the guest suite: each job on FAT32,
#                                         done and refused, and a round trip
#                                         of the aarch64 build
#   scripts/device-vm.sh pictures [DIR]   the three jobs on linuxfb, the
#                                         screen taken from QEMU's VGA at the
#                                         first second of each countdown, as
#                                         DIR/{backup,restoration,upgrade}.png
#                                         (default: out/device-vm/pictures)
set -eu
cd "$(dirname "$0")/.."
. device-vm/lib.sh
. device-vm/verdict.sh

NATIVE_BUILD=build
ARM64_BUILD=build-arm64

need_builds() {
    [ -x "$NATIVE_BUILD/app/korvello" ] && [ -x "$NATIVE_BUILD/tools/medium/korvello-medium" ] \
        && [ -x "$NATIVE_BUILD/tools/pictures/korvello-pictures" ] || scripts/build.sh "$NATIVE_BUILD"
}

prepare() {
    scripts/install-deps.sh --vm
    for prepared in x86_64 aarch64; do
        vm_fetch "$prepared"
        vm_initrd "$prepared"
    done
}

korvello_for() {
    case $1 in
        x86_64) echo "$NATIVE_BUILD/app/korvello" ;;
        aarch64) echo "$ARM64_BUILD/app/korvello" ;;
    esac
}

sample_data() {
    mkdir -p "$1/settings" "$1/logs/2026"
    printf 'brightness=80\nvolume=3\n' > "$1/settings/device.conf"
    printf 'first start\r\n' > "$1/logs/2026/start.log"
    head -c 300000 /dev/urandom > "$1/logs/2026/samples.bin"
    ln -s logs/2026 "$1/current"
    : > "$1/empty"
}

run_one() {
    arch=x86_64 control=1 device=0 snum=A7 data= medium= out=$VM_CACHE/run platform=
    while [ $# -gt 0 ]; do
        case $1 in
            --arch) arch=$2 ;;
            --control) control=$2 ;;
            --device) device=$2 ;;
            --snum) snum=$2 ;;
            --data) data=$2 ;;
            --medium) medium=$2 ;;
            --out) out=$2 ;;
            --platform) platform=$2 ;;
            *) vm_die "unknown option $1" ;;
        esac
        shift 2
    done
    # Only the x86_64 guest has a screen (QEMU's VGA).
    [ -n "$platform" ] || { [ "$arch" = x86_64 ] && platform=linuxfb || platform=offscreen; }
    VM_PLATFORM=$platform
    prepare
    need_builds
    rm -rf "$out"
    mkdir -p "$out"
    if [ -z "$data" ]; then
        data=$out/sample-data
        sample_data "$data"
    fi
    if [ -z "$medium" ]; then
        medium=$out/medium
        mkdir -p "$medium"
        "$NATIVE_BUILD/tools/medium/korvello-medium" prepare "$medium" >/dev/null
    fi
    version=V1.0
    remember_before "$out" "$control" "$device" "$snum" "$data" "$medium" "$version"
    vm_system_image "$out/system.img" "$arch" "$(korvello_for "$arch")" "$data" "$version"
    vm_medium_image "$out/usb.img" 64 "$medium"
    vm_medium_image "$out/sdcard.img" 64 "$medium"
    started=$(date +%s)
    rm -f "$out/screen.png"
    pid=$(vm_boot "$arch" "$out/system.img" "$out/usb.img" "$out/sdcard.img" "$out/console.log" \
        "device_vm.control=$control" "device_vm.device=$device" "device_vm.snum=$snum")
    [ "$platform" != linuxfb ] || take_screen "$pid" "$out/console.log" "$out/screen.png"
    vm_wait "$pid" 600 || vm_die "the guest did not end within 600 s; see $out/console.log"
    echo "device-vm: the guest ran $(($(date +%s) - started)) s; console: $out/console.log"
    vm_system_dump "$out/system.img" "$out/system"
    vm_medium_dump "$out/usb.img" "$out/usb"
    vm_medium_dump "$out/sdcard.img" "$out/sdcard"
    echo "device-vm: the device's /data, /etc and /opt are in $out/system;" \
        "the media's run/ in $out/usb and $out/sdcard"
    last_note "$out" "$platform"
}

# remember_before OUT CONTROL DEVICE SNUM DATA MEDIUM VERSION: what the judge
# needs of the device before the job (device-vm/verdict.sh). DATA and MEDIUM
# are only read: the images are made from copies.
remember_before() {
    rb_job=
    case $2 in
        1) rb_job=backup ;;
        2) rb_job=restoration ;;
        3) rb_job=upgrade ;;
    esac
    rb_medium=usb
    [ "$3" != 1 ] || rb_medium=sdcard
    rb_out=$(cd "$1" && pwd)
    mkdir -p "$rb_out/before/opt"
    ls "$6/run/data/data-$4" > "$rb_out/before/archives" 2>/dev/null || true
    {
        echo "JOB='$rb_job' SNUM='$4' MEDIUM='$rb_medium' VERSION='$7'"
        echo "DATA='$(cd "$5" && pwd)' OPT='$rb_out/before/opt' BEFORE='$rb_out/before/archives'"
    } > "$rb_out/run.env"
}

# The screen at the countdown's first second, whose tick is logged as it is
# painted; the note above the countdown is the job's last.
take_screen() {
    ts_deadline=$(($(date +%s) + 600))
    while ! grep -q 'rebootCount  4' "$2" 2>/dev/null; do
        kill -0 "$1" 2>/dev/null && [ "$(date +%s)" -lt "$ts_deadline" ] || return 0
        sleep 0.1
    done
    vm_screendump "$1" "$2" "$3" || echo "device-vm: no picture of the screen; see $2" >&2
}

# The run's last line: the note read from the screen and whether the media
# bear it out. Fails when the note cannot be read or is not true.
last_note() {
    if [ "$2" != linuxfb ]; then
        echo "device-vm: no screen to read on the $2 platform; no note, no verdict"
        return 0
    fi
    if [ ! -s "$1/screen.png" ]; then
        echo "device-vm: note unreadable (no picture of the countdown); verdict: none"
        return 1
    fi
    ln_reading=$(read_note "$1") || {
        echo "device-vm: note unreadable (${ln_reading#*	}; see $1/screen.png); verdict: none"
        return 1
    }
    ln_end=${ln_reading%%	*}
    ln_note=${ln_reading#*	}
    ln_note=${ln_note%%	*}
    ln_verdict=$(verdict "$1" "$ln_end") && ln_status=0 || ln_status=1
    echo "device-vm: note \"$ln_note\"; verdict: $ln_verdict"
    return $ln_status
}

# One device through a backup, a restoration and an upgrade, each shown on
# the guest's frame buffer by linuxfb as the device shows it.
pictures() {
    out=${1:-$VM_CACHE/pictures}
    prepare
    need_builds
    VM_PLATFORM=linuxfb
    work=$VM_CACHE/pictures-device
    rm -rf "$work"
    mkdir -p "$work/medium" "$work/payload/opt/app" "$out"
    sample_data "$work/data"
    "$NATIVE_BUILD/tools/medium/korvello-medium" prepare "$work/medium" >/dev/null
    echo "app V2.0" > "$work/payload/opt/app/app.txt"
    "$NATIVE_BUILD/tools/medium/korvello-medium" pack-upgrade --version V2.0 \
        --payload "$work/payload" "$work/medium" >/dev/null
    vm_system_image "$work/system.img" x86_64 "$NATIVE_BUILD/app/korvello" "$work/data" V1.0
    vm_medium_image "$work/usb.img" 64 "$work/medium"
    vm_medium_image "$work/sdcard.img" 64
    for job in 1:backup 2:restoration 3:upgrade; do
        log=$work/${job#*:}.log
        pid=$(vm_boot x86_64 "$work/system.img" "$work/usb.img" "$work/sdcard.img" "$log" \
            "device_vm.control=${job%%:*}" device_vm.device=0 device_vm.snum=A7)
        take_screen "$pid" "$log" "$out/${job#*:}.png"
        vm_wait "$pid" 120 || vm_die "the ${job#*:} guest did not end; see $log"
    done
    echo "device-vm: pictures in $out"
}

case ${1:-} in
    prepare) prepare ;;
    pictures) shift; pictures "$@" ;;
    run) shift; run_one "$@" ;;
    suite) shift; need_builds; prepare; . device-vm/suite.sh; suite_main "$@" ;;
    *) sed -n '2,35p' "$0" >&2; exit 2 ;;
esac
