#!/bin/sh
# The README's first command. Installs what is missing, builds, and makes one
# real backup on a simulated device in out/sim-device: sample data in its
# /data, a medium laid out by korvello-medium, and the tool started with
# control 1, which runs the backup on its own and ends in the simulated
# reboot. In a window when a display is there, headless otherwise. Ends by
# printing the archive written and md5sum's check of it.
#
#   scripts/demo.sh [BUILD_DIR]      (default: build)
#
# Each run adds one backup to the medium; remove out/ to start afresh.
set -eu
cd "$(dirname "$0")/.."
build_dir=${1:-build}

scripts/install-deps.sh
scripts/build.sh "$build_dir"

device=$PWD/out/sim-device
medium=$device/mnt/usb/sda1
snum=${snum:-A7}
export snum

# The device's own files: its version and the data a backup takes.
mkdir -p "$device/etc" "$medium"
[ -f "$device/etc/version.cfg" ] || printf 'V1.0\n' > "$device/etc/version.cfg"
if [ ! -d "$device/data" ]; then
    mkdir -p "$device/data/settings" "$device/data/logs"
    printf 'brightness=80\nvolume=3\n' > "$device/data/settings/device.conf"
    printf 'first start\n' > "$device/data/logs/start.log"
    head -c 65536 /dev/urandom > "$device/data/logs/samples.bin"
fi

"$build_dir/tools/medium/korvello-medium" prepare "$medium"

platform=""
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    platform="-platform offscreen"
    echo "demo: no display, running headless"
fi
echo "demo: backing up $device/data with serial $snum; the job ends in a 5 s countdown"
started=$(mktemp)
trap 'rm -f "$started"' EXIT
# shellcheck disable=SC2086
"$build_dir/sim/korvello-sim" --root "$device" $platform -c 1

folder=$medium/run/data/data-$snum
archive=$(find "$folder" -name '*.tar' -newer "$started" 2>/dev/null | head -n 1)
if [ -z "$archive" ]; then
    echo "demo: no archive was written in $folder" >&2
    exit 1
fi
name=${archive##*/}
echo
echo "demo: archive written: $archive"
echo "demo: md5sum -c ${name%.tar}.md5 in $folder:"
cd "$folder"
md5sum -c "${name%.tar}.md5"
