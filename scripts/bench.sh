#!/bin/sh
# Builds and runs korvello-bench: every speed and memory figure beside its
# reference, measured in the same run, medians of several runs, printed as a
# Markdown table after a description of the machine. Not a test: the figures
# depend on the machine, and nothing here passes or fails on them.
#
#   scripts/bench.sh [--runs N] [--sections digest,restoration,backup,listing,crowds,startup] [WORK_DIR]
#
# WORK_DIR (default build/bench-work) gets about 10 GiB of data files; it is
# created and removed again. Cold figures drop the page cache through
# /proc/sys/vm/drop_caches, which needs root; run without root, the table
# says that they are missing. Run it on a machine that is otherwise quiet.
set -eu
cd "$(dirname "$0")/.."

runs=5
sections=""
work=build/bench-work
while [ $# -gt 0 ]; do
    case $1 in
        --runs) runs=$2; shift 2 ;;
        --sections) sections=$2; shift 2 ;;
        -h|--help) sed -n '2,12p' "$0"; exit 0 ;;
        -*) echo "bench.sh: unknown option $1" >&2; exit 2 ;;
        *) work=$1; shift ;;
    esac
done

scripts/build.sh >/dev/null
if [ -e "$work" ]; then
    echo "bench.sh: $work exists; give a folder that does not" >&2
    exit 2
fi
mkdir -p "$work"
work=$(cd "$work" && pwd)
trap 'rm -rf "$work"' EXIT

if [ "$(id -u)" -ne 0 ]; then
    echo "bench.sh: not root: the page cache cannot be dropped, cold figures are left out" >&2
fi

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
memory=$(awk '/^MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo)
filesystem=$(df -PT "$work" | awk 'NR == 2 { print $2 " on " $1 }')
echo "Measured $(date -u +%Y-%m-%d) on ${cpu:-an unnamed CPU}, $(nproc) cores, $memory RAM,"
echo "Linux $(uname -r) ($(uname -m)), data on $filesystem, Qt $(pkg-config --modversion Qt5Core),"
echo "$(md5sum --version | head -1), $(tar --version | head -1); medians of $runs runs."
echo

set -- --work "$work" --simulator build/sim/korvello-sim --medium medium --runs "$runs"
[ -z "$sections" ] || set -- "$@" --sections "$sections"
build/tools/bench/korvello-bench "$@"
