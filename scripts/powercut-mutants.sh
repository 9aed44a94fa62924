#!/bin/sh
# Proves that the power-cut run catches broken medium scripts.
#
#   scripts/powercut-mutants.sh [CUTS] [--only ID,...] [--seed S]
#
# For each mutant of tests/mutants/scripts.txt the three reference scripts
# are copied into a scratch folder and the mutant is applied there (the
# checkout is never changed); then scripts/powercut.sh runs CUTS cuts
# (default 12) of the mutant's job with those scripts on the stick and
# stops at the first violation. Each mutant gets one line:
#   mutant ID: caught after K cuts (first violation: ...)
#   mutant ID: NOT caught in K cuts
# and the last line is "powercut-mutants: M mutants, C caught, S not caught".
# Exit code: 0 every mutant caught; 1 some mutant not caught; 2 the harness
# itself failed (a mutant that does not apply or does not parse, a
# power-cut run that broke instead of answering), which counts the mutant
# as not caught as well. POWERCUT names another power-cut script, so that
# the harness can be tried without the emulator. Every run's output stays
# in the scratch folder, named in the first line.
set -eu
cd "$(dirname "$0")/.."

list=tests/mutants/scripts.txt
powercut=${POWERCUT:-scripts/powercut.sh}
reference_scripts="backup_script.sh recover_script.sh upgrade_script.sh"

usage() {
    sed -n '2,19p' "$0" >&2
    exit 2
}

cuts=12
only=
seed=$(date +%s)
case ${1:-} in
    [0-9]*) cuts=$1; shift ;;
esac
case $cuts in
    *[!0-9]*) usage ;;
esac
while [ $# -gt 0 ]; do
    case $1 in
        --only) [ $# -ge 2 ] || usage; only=$2; shift 2 ;;
        --seed) [ $# -ge 2 ] || usage; seed=$2; shift 2 ;;
        *) usage ;;
    esac
done

say() {
    echo "powercut-mutants: $*"
}

# The block format has one reader, mutants.py's; this asks it for
# "ID<TAB>JOB" per mutant, or applies one mutant to a folder that holds
# copies of the scripts. Applying refuses (exit 1, one line) unless each
# "old" occurs exactly once where it is applied, and the script changes:
# text found twice or not at all would make a different fault from the one
# the list describes, and an unchanged script is no fault at all.
mutants_tool() {
    python3 - "$list" "$@" <<'EOF'
import os
import sys

sys.path.insert(0, os.path.join("tests", "mutants"))
from mutants import read_mutants

mutants = read_mutants(sys.argv[1])
command = sys.argv[2]
if command == "list":
    for mutant in mutants:
        print(f"{mutant['id']}\t{mutant.get('job', '')}")
    sys.exit(0)

wanted, folder = sys.argv[3], sys.argv[4]
mutant = next((m for m in mutants if m["id"] == wanted), None)
if mutant is None:
    sys.exit(f"no mutant {wanted} in {sys.argv[1]}")
path = os.path.join(folder, os.path.basename(mutant["file"]))
if not mutant["file"].startswith("medium/") or not os.path.isfile(path):
    sys.exit(f"{mutant['file']} is not one of the medium scripts")
text = open(path, encoding="utf-8").read()
for suffix in ["", "2"]:
    if "old" + suffix not in mutant:
        continue
    old, new = mutant["old" + suffix], mutant.get("new" + suffix, "")
    if text.count(old) != 1:
        sys.exit(f"old{suffix} found {text.count(old)} times in {mutant['file']}")
    text = text.replace(old, new)
if text == open(path, encoding="utf-8").read():
    sys.exit(f"it changes nothing in {mutant['file']}")
open(path, "w", encoding="utf-8").write(text)
print(os.path.basename(path))
EOF
}

# Copies the reference scripts into FOLDER and checks that each parses.
reference_copy() {
    mkdir -p "$1"
    for script in $reference_scripts; do
        cp "medium/$script" "$1/$script"
        sh -n "$1/$script" || return 1
    done
}

# The job names of the list are those of powercut.sh's --job, so that a
# typo in the list is a harness failure, not a run of the wrong job.
known_job() {
    case $1 in
        backup | restoration | upgrade) return 0 ;;
    esac
    return 1
}

# verdict LOG EXIT_CODE: one line for the mutant's run. Only a summary line
# with a violation and exit code 1 counts as caught: an uncut first round
# that fails also exits 1, but without the summary, and that is a broken
# run, not a caught mutant.
verdict() {
    summary=$(sed -n 's/^powercut: \([0-9]*\) cuts, \([0-9]*\) violations$/\1 \2/p' "$1" | tail -n 1)
    done_cuts=${summary% *}
    violations=${summary#* }
    if [ -n "$summary" ] && [ "$2" = 1 ] && [ "$violations" -gt 0 ]; then
        first=$(sed -n 's/^powercut: \(cut [0-9]* (.*\)$/\1/p' "$1" | head -n 1)
        echo "caught after $done_cuts cuts (first violation: $first)"
        return 0
    fi
    if [ -n "$summary" ] && [ "$2" = 0 ] && [ "$violations" = 0 ]; then
        echo "NOT caught in $done_cuts cuts"
        return 1
    fi
    echo "the power-cut run broke (exit code $2, no verdict); see $1"
    return 2
}

# run_mutant ID JOB: prints the mutant's line; returns 0 caught, 1 not
# caught, 2 the harness failed.
run_mutant() {
    folder=$scratch/$1
    scripts=$folder/scripts
    reference_copy "$scripts" || { echo "mutant $1: the reference scripts do not parse"; return 2; }
    if ! known_job "$2"; then
        echo "mutant $1: unknown job '$2' (backup, restoration or upgrade)"
        return 2
    fi
    if ! changed=$(mutants_tool apply "$1" "$scripts" 2>"$folder/apply.err"); then
        echo "mutant $1 does not apply: $(cat "$folder/apply.err")"
        return 2
    fi
    # A mutant that does not even parse is caught by any run, and proves
    # nothing about power cuts.
    if ! sh -n "$scripts/$changed" 2>"$folder/parse.err"; then
        echo "mutant $1: $changed does not parse: $(head -n 1 "$folder/parse.err")"
        return 2
    fi
    status=0
    # A work folder of its own, so that two lists can run side by side.
    POWERCUT_WORK=$folder/work "$powercut" "$cuts" --seed "$seed" --job "$2" --scripts "$scripts" --until-violation \
        >"$folder/powercut.log" 2>&1 || status=$?
    line=$(verdict "$folder/powercut.log" "$status") && result=0 || result=$?
    echo "mutant $1: $line"
    return "$result"
}

mutants=$(mutants_tool list) || { say "cannot read $list"; exit 2; }
if [ -n "$only" ]; then
    for wanted in $(echo "$only" | tr ',' ' '); do
        printf '%s\n' "$mutants" | cut -f 1 | grep -qxF "$wanted" \
            || { say "no mutant $wanted in $list"; exit 2; }
    done
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/korvello-powercut-mutants.XXXXXX")
say "seed $seed; $cuts cuts per mutant; logs in $scratch"

# The unmutated scripts first: should one of them not parse, every mutant
# would look caught.
if ! reference_copy "$scratch/reference"; then
    say "the reference scripts do not parse"
    exit 2
fi

total=0 caught=0 missed=0 broken=0
tab=$(printf '\t')
while IFS=$tab read -r id job; do
    case ,$only, in
        ,, | *,"$id",*) ;;
        *) continue ;;
    esac
    total=$((total + 1))
    outcome=0
    run_mutant "$id" "$job" </dev/null || outcome=$?
    case $outcome in
        0) caught=$((caught + 1)) ;;
        1) missed=$((missed + 1)) ;;
        *) missed=$((missed + 1)) broken=$((broken + 1)) ;;
    esac
done <<EOF
$mutants
EOF

say "$total mutants, $caught caught, $missed not caught"
[ "$broken" = 0 ] || exit 2
[ "$missed" = 0 ]
