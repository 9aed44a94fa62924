#!/bin/sh
# Configures the project the way embedded build systems drive CMake (prefix
# /usr, BUILD_TESTING=OFF, nothing of ours on the command line), builds it in
# build-install/, installs it into a DESTDIR and checks the tree: korvello in
# usr/bin, the reference medium scripts in usr/share/korvello/medium, all
# executable, and nothing else.
#   scripts/check-install.sh
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh

build_dir=build-install
# Configure as a fresh embedded build does: a cached option from an earlier
# run must not stand in for what BUILD_TESTING=OFF decides.
rm -f "$build_dir/CMakeCache.txt"
cmake -S . -B "$build_dir" -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_TESTING=OFF >/dev/null
# The device's Qt may come without Qt5Test: with tests off it must not be asked for.
if grep -q '^Qt5Test_DIR:' "$build_dir/CMakeCache.txt"; then
    echo "check-install.sh: the build looks for Qt5Test with tests switched off" >&2
    exit 1
fi
cmake --build "$build_dir" --parallel "$(nproc)"

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR="$stage" cmake --install "$build_dir" >/dev/null

expected="usr/bin/korvello"
for script in backup_script.sh recover_script.sh upgrade_script.sh; do
    if [ -f "medium/$script" ]; then
        expected="$expected
usr/share/korvello/medium/$script"
    fi
done

failed=0
for path in $expected; do
    if [ ! -f "$stage/$path" ] || [ ! -x "$stage/$path" ]; then
        echo "check-install.sh: missing or not executable: $path" >&2
        failed=1
    fi
done

unexpected=$(cd "$stage" && find . ! -type d | sed 's|^\./||' | { grep -vxF "$expected" || true; })
if [ -n "$unexpected" ]; then
    echo "check-install.sh: installed but not part of the device image:" >&2
    echo "$unexpected" >&2
    failed=1
fi

if [ "$failed" -ne 0 ]; then
    exit 1
fi
echo "check-install.sh: the installed tree holds exactly:"
echo "$expected"
