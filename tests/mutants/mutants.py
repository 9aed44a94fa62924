#!/usr/bin/env python3
"""Runs the test suites against deliberately broken copies of the code.

Each mutant replaces one exact piece of a source file. The harness copies the
checkout into a scratch folder, builds it once, then for each mutant applies
it, rebuilds incrementally, runs the suites that should catch it and puts the
file back. A mutant is "caught" when a suite fails, "survived" when all pass.

    tests/mutants/mutants.py [--build DIR] [--only ID,...] [--suites a,b]

The list lives in mutants.txt beside this file, one mutant per block:

    id: short-name
    file: services/utils.cpp
    old: exact text
    new: replacement text
    suites: tst_utils tst_jobs
    rows: backup: wrong digest|backup: no side file

"rows" (optional) limits tst_jobs to those rows of its table, to keep a pass
short; a mutant that survives them is worth a run of the whole suite.
Blocks are separated by blank lines; "old" and "new" may hold {NL} for line
feeds. Nothing under the checkout itself is changed.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(os.path.dirname(HERE))


def read_mutants(path):
    mutants, block = [], {}
    for line in open(path, encoding="utf-8").read().split("\n") + [""]:
        if not line.strip():
            if block:
                mutants.append(block)
            block = {}
            continue
        if line.startswith("#"):
            continue
        key, _, value = line.partition(":")
        block[key.strip()] = value[1:].replace("{NL}", "\n") if value.startswith(" ") else value
    return mutants


def run(cmd, cwd, timeout=None):
    return subprocess.run(cmd, cwd=cwd, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, timeout=timeout).returncode


def run_suite(suite, mutant, build):
    """The suite under CTest, or only the jobs' rows the mutant names."""
    if suite != "tst_jobs" or "rows" not in mutant:
        return run(["ctest", "-R", f"^{suite}$", "--timeout", "300"], build)
    rows = ["jobs:" + row.strip() for row in mutant["rows"].split("|")]
    env = dict(os.environ, LC_ALL="C.UTF-8", QT_QPA_PLATFORM="offscreen")
    tests = os.path.join(build, "tests")
    try:
        return subprocess.run([os.path.join(tests, suite)] + rows, cwd=tests, env=env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=600).returncode
    except subprocess.TimeoutExpired:
        return 1


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", help="scratch folder to reuse")
    parser.add_argument("--only", help="comma-separated mutant ids")
    parser.add_argument("--suites", help="comma-separated suites instead of each mutant's")
    args = parser.parse_args()

    mutants = read_mutants(os.path.join(HERE, "mutants.txt"))
    if args.only:
        wanted = set(args.only.split(","))
        mutants = [m for m in mutants if m["id"] in wanted]
    scratch = args.build or tempfile.mkdtemp(prefix="korvello-mutants-")
    source = os.path.join(scratch, "src")
    build = os.path.join(scratch, "build")
    if not os.path.isdir(source):
        subprocess.check_call(["git", "worktree", "add", "--detach", source, "HEAD"], cwd=TOP,
                              stdout=subprocess.DEVNULL)
    subprocess.check_call(["cmake", "-S", source, "-B", build, "-DCMAKE_BUILD_TYPE=Debug"],
                          stdout=subprocess.DEVNULL)
    if run(["cmake", "--build", build, "--parallel", "2"], source) != 0:
        sys.exit("mutants.py: the unbroken code does not build")

    caught, survived = [], []
    for mutant in mutants:
        path = os.path.join(source, mutant["file"])
        original = open(path, encoding="utf-8").read()
        if original.count(mutant["old"]) != 1:
            print(f"{mutant['id']}: not applicable (text found {original.count(mutant['old'])} times)")
            continue
        broken = original.replace(mutant["old"], mutant["new"])
        open(path, "w", encoding="utf-8").write(broken)
        try:
            suites = (args.suites or mutant["suites"]).replace(",", " ").split()
            # Only what the suites run: the executables they start, and themselves.
            targets = ["korvello", "korvello-sim", "korvello-medium"] + [
                s for s in suites
                if any(os.path.exists(os.path.join(source, "tests", sub, s + ".cpp"))
                       for sub in ("", "fuzz"))]
            if run(["cmake", "--build", build, "--parallel", "2", "--target"] + targets,
                   source) != 0:
                verdict = "caught (does not build)"
            else:
                failed = next((s for s in suites if run_suite(s, mutant, build) != 0), None)
                verdict = f"caught by {failed}" if failed else "SURVIVED"
        finally:
            open(path, "w", encoding="utf-8").write(original)
        (survived if verdict == "SURVIVED" else caught).append(mutant["id"])
        print(f"{mutant['id']}: {verdict}", flush=True)
    print(f"mutants.py: {len(caught)} caught, {len(survived)} survived: {' '.join(survived)}")


if __name__ == "__main__":
    main()
