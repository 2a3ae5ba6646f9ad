#!/usr/bin/env python3
"""make mutants: one-line changes to the update sequence that the host tests must catch.

Each mutation in mutations.json names a file, an exact snippet of it and its replacement. The
tracked sources are copied to build/mutants/src and built once without sanitizers; then, for each
mutation in turn, the snippet is replaced in the copy, unit_tests is rebuilt and run in one
process with --gtest_fail_fast, and the first failing test is the mutation's killer. The copy is
put back before the next one. Prints a table and exits 1 when a mutation survives, does not
compile, or its snippet is not found exactly once; exits 1 also when the unmutated tests fail.
"""
import json
import os
import re
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WORK = os.path.join(ROOT, "build", "mutants")
SOURCE = os.path.join(WORK, "src")
BUILD = os.path.join(WORK, "build")
TESTS = os.path.join(BUILD, "unit_tests")
JOBS = os.environ.get("JOBS", str(os.cpu_count() or 2))
TEST_TIMEOUT_S = 600
FAILED = re.compile(r"^\[  FAILED  \] (\S+)", re.M)
RUNNING = re.compile(r"^\[ RUN      \] (\S+)", re.M)


def say(text):
    print(text, flush=True)


def load_mutations():
    with open(os.path.join(ROOT, "tests", "mutants", "mutations.json")) as file:
        mutations = json.load(file)
    broken = []
    for m in mutations:
        with open(os.path.join(ROOT, m["file"])) as file:
            count = file.read().count(m["original"])
        if count != 1:
            broken.append(f"{m['name']}: snippet found {count} times in {m['file']}")
    if broken:
        say("mutants: mutations that no longer fit the source:\n  " + "\n  ".join(broken))
        sys.exit(1)
    return mutations


def copy_tree():
    """Copies the tracked files, keeping the times of those that did not change."""
    files = subprocess.run(["git", "ls-files", "-z"], cwd=ROOT, check=True,
                           capture_output=True).stdout.decode().split("\0")
    for name in filter(None, files):
        source, target = os.path.join(ROOT, name), os.path.join(SOURCE, name)
        with open(source, "rb") as file:
            data = file.read()
        if os.path.exists(target):
            with open(target, "rb") as file:
                if file.read() == data:
                    continue
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as file:
            file.write(data)


def build():
    result = subprocess.run(["cmake", "--build", BUILD, "-j", JOBS, "--target", "unit_tests"],
                            capture_output=True, text=True)
    return result.returncode == 0, result.stdout + result.stderr


def run_tests():
    """The first failing test, or "" when every test passed."""
    try:
        result = subprocess.run([TESTS, "--gtest_fail_fast", "--gtest_brief=1"], cwd=BUILD,
                                capture_output=True, text=True, timeout=TEST_TIMEOUT_S)
    except subprocess.TimeoutExpired:
        return f"(timeout after {TEST_TIMEOUT_S} s)"
    output = result.stdout + result.stderr
    if result.returncode == 0:
        return ""
    failed = FAILED.search(output)
    if failed:
        return failed.group(1).rstrip(",")
    running = RUNNING.findall(output)
    return f"(crash in {running[-1]})" if running else f"(exit {result.returncode})"


def main():
    started = time.time()
    mutations = load_mutations()
    say(f"==== mutants: {len(mutations)} mutations; copy and build in {WORK} ====")
    copy_tree()
    subprocess.run(["cmake", "-S", SOURCE, "-B", BUILD, "-DNORVANE_SANITIZE=OFF"], check=True,
                   stdout=subprocess.DEVNULL)
    built, log = build()
    if not built:
        say(log)
        say("mutants: the unmutated sources do not build")
        return 1
    baseline = run_tests()
    if baseline:
        say(f"mutants: the unmutated tests fail ({baseline}); fix them first")
        return 1
    rows, survivors = [], 0
    for m in mutations:
        mutant_started = time.time()
        path = os.path.join(SOURCE, m["file"])
        with open(path) as file:
            original = file.read()
        with open(path, "w") as file:
            file.write(original.replace(m["original"], m["mutant"], 1))
        try:
            built, log = build()
            killer = run_tests() if built else None
        finally:
            with open(path, "w") as file:
                file.write(original)
        if killer is None:
            verdict = "DOES NOT COMPILE"
            say(log[-2000:])
        elif killer:
            verdict = "killed by " + killer
        else:
            verdict = "SURVIVED"
        survivors += 0 if killer else 1
        rows.append((m["name"], verdict))
        say(f"  {m['name']} -> {verdict} ({time.time() - mutant_started:.0f} s)")
    build()  # leave the build matching the sources
    width = max(len(name) for name, _ in rows)
    say(f"\n{'mutation'.ljust(width)}  result")
    for name, verdict in rows:
        say(f"{name.ljust(width)}  {verdict}")
    say(f"\nmutants: {len(rows) - survivors} of {len(rows)} killed in "
        f"{time.time() - started:.0f} s")
    return 1 if survivors else 0


if __name__ == "__main__":
    sys.exit(main())
