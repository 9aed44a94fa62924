#!/bin/sh
# Builds the fuzz targets of tests/fuzz with clang, under AddressSanitizer
# and UndefinedBehaviorSanitizer, in build-fuzz/, and runs each of them.
#
#   scripts/fuzz.sh [--time SECONDS | --runs N] [TARGET...]
#
# Every target by default, each for 30 s (--time) or N executions (--runs).
# Each starts from the inputs its corpus keeps (tests/fuzz/corpus/TARGET);
# what it finds new goes to a scratch folder, never into the checkout. A
# finding stops that target and keeps its input in build-fuzz/findings/:
# once the fault is fixed, the input joins the corpus, and the suite replays
# it from then on. One line per target, "fuzz TARGET: N runs in S s, no
# finding" or "fuzz TARGET: FINDING ...", then "fuzz: T targets, F findings".
# Exits 1 on a finding.
set -eu
cd "$(dirname "$0")/.."

usage() {
    sed -n '2,15p' "$0" >&2
    exit 2
}

limit=-max_total_time=30
targets=
while [ $# -gt 0 ]; do
    case $1 in
        --time) [ $# -ge 2 ] || usage; limit=-max_total_time=$2; shift ;;
        --runs) [ $# -ge 2 ] || usage; limit=-runs=$2; shift ;;
        -*) usage ;;
        *) targets="$targets $1" ;;
    esac
    shift
done
[ -n "$targets" ] || targets=$(sed -n 's/^foreach(target \(.*\))$/\1/p' tests/fuzz/CMakeLists.txt)

scripts/install-deps.sh --fuzz
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DKORVELLO_FUZZ=ON -DKORVELLO_WERROR=ON >/dev/null
cmake --build build-fuzz --parallel "$(nproc)" >/dev/null

# Each input is written to a file, as a medium would hold it: in memory
# where the machine has it, several times faster than a disk.
[ -w /dev/shm ] && export TMPDIR=/dev/shm
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p build-fuzz/findings
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
findings=0
count=0
for target in $targets; do
    count=$((count + 1))
    mkdir -p "$scratch/$target"
    started=$(date +%s)
    if build-fuzz/tests/fuzz/fuzz_"$target" "$limit" -print_final_stats=1 \
        -artifact_prefix="build-fuzz/findings/$target-" \
        "$scratch/$target" "tests/fuzz/corpus/$target" > "$scratch/$target.log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$scratch/$target.log")
        echo "fuzz $target: $runs runs in $(($(date +%s) - started)) s, no finding"
    else
        findings=$((findings + 1))
        echo "fuzz $target: FINDING"
        grep -E '^fuzz: |^  (got|wanted):|ERROR: |SUMMARY: |artifact' "$scratch/$target.log" \
            | head -n 8 | sed 's/^/    /'
    fi
done
echo "fuzz: $count targets, $findings findings"
[ "$findings" = 0 ]
