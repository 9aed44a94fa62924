#!/bin/sh
# Configures and builds into a build folder. Used by the README's commands.
#   scripts/build.sh [BUILD_DIR] [extra cmake arguments...]
set -eu
cd "$(dirname "$0")/.."
build_dir=${1:-build}
[ $# -gt 0 ] && shift
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVELLO_WERROR=ON "$@" >/dev/null
cmake --build "$build_dir" --parallel "$(nproc)"
