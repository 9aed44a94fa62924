#!/bin/sh
# Installs every Debian package that building, testing and taking screen
# pictures need. Idempotent: when everything is there it changes nothing.
# Works as root or through sudo.
#
#   scripts/install-deps.sh            native build and tests
#   scripts/install-deps.sh --arm64    also the aarch64 cross toolchain, the
#                                      arm64 Qt libraries and qemu user emulation
#   scripts/install-deps.sh --vm       also what the emulated device needs:
#                                      qemu system emulation, FAT and ext4
#                                      image tools, and the arm64 package
#                                      lists its guest kernel comes from
#   scripts/install-deps.sh --fuzz     also clang and its libFuzzer runtime
set -eu

NATIVE_PACKAGES="cmake make g++ pkg-config qtbase5-dev qtbase5-dev-tools libqt5test5 \
xvfb xauth fonts-noto-cjk busybox coreutils tar file"
# qtbase5-dev is Multi-Arch: same, so the arm64 copy installs beside the
# native one; moc, uic and rcc stay the native ones from qtbase5-dev-tools.
ARM64_PACKAGES="crossbuild-essential-arm64 qtbase5-dev:arm64 libqt5test5:arm64 \
qemu-user-static"
# The guests' kernels and BusyBox are unpacked from downloaded packages,
# never installed: busybox-static conflicts with busybox.
VM_PACKAGES="qemu-system-x86 qemu-system-arm mtools dosfstools e2fsprogs busybox gzip"
FUZZ_PACKAGES="clang libclang-rt-14-dev"

want_arm64=no
want_vm=no
want_fuzz=no
for arg in "$@"; do
    case "$arg" in
        --arm64) want_arm64=yes ;;
        --vm) want_vm=yes ;;
        --fuzz) want_fuzz=yes ;;
        -h|--help) sed -n '2,13p' "$0"; exit 0 ;;
        *) echo "install-deps.sh: unknown option $arg" >&2; exit 2 ;;
    esac
done

if [ "$(id -u)" -eq 0 ]; then
    SUDO=""
elif command -v sudo >/dev/null 2>&1; then
    SUDO="sudo"
else
    echo "install-deps.sh: run as root or install sudo" >&2
    exit 1
fi

native_arch=$(dpkg --print-architecture)

# A name without an architecture means the native one (or "all"): once arm64
# is added, dpkg-query answers for both copies of a Multi-Arch package, and
# the arm64 copy alone must not pass for the native one.
installed() {
    case "$1" in
        *:*) name=${1%%:*}; wanted=${1#*:} ;;
        *) name=$1; wanted=$native_arch ;;
    esac
    dpkg-query -W -f='${db:Status-Abbrev}|${Architecture}\n' "$name" 2>/dev/null \
        | grep -Eq "^ii *\|($wanted|all)\$"
}

missing() {
    for pkg in "$@"; do
        installed "$pkg" || printf '%s ' "$pkg"
    done
}

packages="$NATIVE_PACKAGES"
lists_stale=no
if [ "$want_arm64" = yes ] || [ "$want_vm" = yes ]; then
    if ! dpkg --print-foreign-architectures | grep -qx arm64; then
        $SUDO dpkg --add-architecture arm64
        lists_stale=yes
    fi
fi
if [ "$want_arm64" = yes ]; then
    packages="$packages $ARM64_PACKAGES"
fi
if [ "$want_vm" = yes ]; then
    packages="$packages $VM_PACKAGES"
fi
if [ "$want_fuzz" = yes ]; then
    packages="$packages $FUZZ_PACKAGES"
fi

# shellcheck disable=SC2086
todo=$(missing $packages)
if [ -z "$todo" ]; then
    # apt-get download needs the arm64 lists even when nothing is missing.
    if [ "$lists_stale" = yes ]; then
        $SUDO apt-get update -qq
    fi
    exit 0
fi

echo "install-deps.sh: installing $todo"
# The package lists must be read again after an architecture is added, and
# are fetched anyway whenever something is missing.
$SUDO apt-get update -qq
# shellcheck disable=SC2086
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $todo >/dev/null
