#!/bin/sh
# Builds for the device and proves the build: installs the aarch64 cross
# toolchain, the arm64 Qt and qemu when missing, cross-builds every target in
# build-arm64/ and runs the whole suite under qemu user emulation on the
# offscreen platform.
#   scripts/test-arm64.sh
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh --arm64

build_dir=build-arm64
started=$(date +%s)
scripts/build.sh "$build_dir" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/aarch64-linux-gnu.cmake"
built=$(date +%s)

if ! file "$build_dir/app/korvello" | grep -q 'ARM aarch64'; then
    echo "test-arm64.sh: $build_dir/app/korvello is not an aarch64 executable:" >&2
    file "$build_dir/app/korvello" >&2
    exit 1
fi

echo "test-arm64.sh: cross build took $((built - started)) s; the tests' time follows"
cd "$build_dir"
ctest --output-on-failure --parallel 2
