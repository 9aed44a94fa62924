#!/bin/sh
# Installs what is missing, builds, and starts the tool on a simulated device
# (out/sim-device) with its main menu. In a window when a display is there,
# headless otherwise.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build
device=out/sim-device
mkdir -p "$device/mnt/usb/sda1/run" "$device/etc"
[ -f "$device/etc/version.cfg" ] || printf 'V1.0\n' > "$device/etc/version.cfg"
platform=""
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    platform="-platform offscreen"
    echo "demo: no display, running headless; end it with Ctrl-C"
fi
# shellcheck disable=SC2086
exec build/sim/korvello-sim --root "$device" $platform
