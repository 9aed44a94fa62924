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
#       --platform P     offscreen (default) or linuxfb
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

NATIVE_BUILD=build
ARM64_BUILD=build-arm64

need_builds() {
    [ -x "$NATIVE_BUILD/app/korvello" ] && [ -x "$NATIVE_BUILD/tools/medium/korvello-medium" ] \
        || scripts/build.sh "$NATIVE_BUILD"
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
    arch=x86_64 control=1 device=0 snum=A7 data= medium= out=$VM_CACHE/run
    while [ $# -gt 0 ]; do
        case $1 in
            --arch) arch=$2 ;;
            --control) control=$2 ;;
            --device) device=$2 ;;
            --snum) snum=$2 ;;
            --data) data=$2 ;;
            --medium) medium=$2 ;;
            --out) out=$2 ;;
            --platform) VM_PLATFORM=$2 ;;
            *) vm_die "unknown option $1" ;;
        esac
        shift 2
    done
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
    vm_system_image "$out/system.img" "$arch" "$(korvello_for "$arch")" "$data" V1.0
    vm_medium_image "$out/usb.img" 64 "$medium"
    vm_medium_image "$out/sdcard.img" 64 "$medium"
    started=$(date +%s)
    pid=$(vm_boot "$arch" "$out/system.img" "$out/usb.img" "$out/sdcard.img" "$out/console.log" \
        "device_vm.control=$control" "device_vm.device=$device" "device_vm.snum=$snum")
    vm_wait "$pid" 600 || vm_die "the guest did not end within 600 s; see $out/console.log"
    echo "device-vm: the guest ran $(($(date +%s) - started)) s; console: $out/console.log"
    vm_system_dump "$out/system.img" "$out/system"
    vm_medium_dump "$out/usb.img" "$out/usb"
    vm_medium_dump "$out/sdcard.img" "$out/sdcard"
    echo "device-vm: the device's /data, /etc and /opt are in $out/system;" \
        "the media's run/ in $out/usb and $out/sdcard"
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
        # The countdown's first tick is logged as it is painted.
        while ! grep -q 'rebootCount  4' "$log" 2>/dev/null && kill -0 "$pid" 2>/dev/null; do
            sleep 0.1
        done
        vm_screendump "$pid" "$log" "$out/${job#*:}.png" \
            || echo "device-vm: no picture of the ${job#*:}; see $log" >&2
        vm_wait "$pid" 120 || vm_die "the ${job#*:} guest did not end; see $log"
    done
    echo "device-vm: pictures in $out"
}

case ${1:-} in
    prepare) prepare ;;
    pictures) shift; pictures "$@" ;;
    run) shift; run_one "$@" ;;
    suite) shift; need_builds; prepare; . device-vm/suite.sh; suite_main "$@" ;;
    *) sed -n '2,29p' "$0" >&2; exit 2 ;;
esac
