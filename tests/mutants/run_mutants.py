#!/usr/bin/env python3
"""make mutants / make mutants-wine: one-line changes to the product that a test must catch.

    run_mutants.py           the host mutations, against the host tests
    run_mutants.py --wine    the Windows ones, each against the Wine tests that should catch it

Each mutation in mutations.json names a file, an exact snippet of it and its replacement, and
where it is caught: a host mutation a GoogleTest filter ("tests", the tests that see the changed
line), a Windows one a Wine suite ("wine", a file of tests/wine) and its -k filter ("k"). The
environment variable MUTANTS, when set, keeps only the mutations whose name or file contains it.

The tracked sources are copied to build/mutants/src; only files that differ are rewritten, so
the builds there stay incremental from one run to the next.

Host: the copy is built without sanitizers in build/mutants/host (clang, and lld when there is
one), and the unmutated tests must pass. Warnings do not fail these builds: a mutant that draws
one (an unused constant) must still be caught by a test. Then for each mutation the snippet is
replaced in the copy, unit_tests is rebuilt (one object and the link) and run with
--gtest_fail_fast: first the tests of its filter, and only when none of them failed, all the
others. The first failing test is the mutation's killer; a test that hangs is killed after
TEST_TIMEOUT_S and counts as the killer.

Windows: the copy is cross-built in build/mutants/windows (the release build's options), and the
Wine tests each mutation names must pass unmutated. Then for each mutation the exe alone is
rebuilt and those Wine tests run against it (through build/mutants/wine-build, whose host/ is the
host build of the work tree, for fwimage and fwsim, and with the work tree's Wine prefixes).

Either way the copy is put back before the next mutation. Prints a table and exits 1 when a
mutation survives, does not compile, or its snippet is not found exactly once (in any mutation,
selected or not).
"""
import json
import os
import re
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WORK = os.path.join(ROOT, "build", "mutants")
SOURCE = os.path.join(WORK, "src")
HOST_BUILD = os.path.join(WORK, "host")
WINDOWS_BUILD = os.path.join(WORK, "windows")
WINE_BUILD = os.path.join(WORK, "wine-build")  # windows/ and host/ as the Wine suites want them
TESTS = os.path.join(HOST_BUILD, "unit_tests")
JOBS = os.environ.get("JOBS", str(os.cpu_count() or 2))
SELECTION = os.environ.get("MUTANTS", "")
TEST_TIMEOUT_S = 120  # a mutant that hangs a test counts as killed by the timeout
WINE_TIMEOUT_S = 900
FAILED = re.compile(r"^\[  FAILED  \] (\S+)", re.M)
RUNNING = re.compile(r"^\[ RUN      \] (\S+)", re.M)
WINE_FAILED = re.compile(r"^FAIL (\S+)", re.M)


def say(text):
    print(text, flush=True)


def load_mutations(windows):
    """The selected mutations of one kind; exits when any mutation no longer fits its file."""
    with open(os.path.join(ROOT, "tests", "mutants", "mutations.json")) as file:
        mutations = json.load(file)
    broken = []
    for m in mutations:
        with open(os.path.join(ROOT, m["file"])) as file:
            count = file.read().count(m["original"])
        if count != 1:
            broken.append(f"{m['name']}: snippet found {count} times in {m['file']}")
        if m["original"] == m["mutant"]:
            broken.append(f"{m['name']}: the mutant is the original")
        if ("wine" in m) == ("tests" in m) or ("wine" in m) != ("k" in m):
            broken.append(f"{m['name']}: needs either \"tests\" or \"wine\" with \"k\"")
    if broken:
        say("mutants: mutations that no longer fit the source:\n  " + "\n  ".join(broken))
        sys.exit(1)
    return [m for m in mutations
            if ("wine" in m) == windows and (SELECTION in m["name"] or SELECTION in m["file"])]


def copy_tree():
    """Copies the tracked files, keeping the times of those that did not change, and removes
    what is no longer tracked: the builds glob their sources, and a file deleted from the tree
    would otherwise still be compiled into the copy."""
    files = subprocess.run(["git", "ls-files", "-z"], cwd=ROOT, check=True,
                           capture_output=True).stdout.decode().split("\0")
    tracked = set(filter(None, files))
    for folder, _dirs, names in os.walk(SOURCE):
        for name in names:
            path = os.path.join(folder, name)
            if os.path.relpath(path, SOURCE) not in tracked:
                os.remove(path)
    for name in tracked:
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


def build(folder, target):
    result = subprocess.run(["cmake", "--build", folder, "-j", JOBS, "--target", target],
                            capture_output=True, text=True)
    return result.returncode == 0, result.stdout + result.stderr


# ---- host -------------------------------------------------------------------------------------

def run_unit_tests(gtest_filter):
    """The first failing test of the filter, or "" when every test passed."""
    try:
        result = subprocess.run([TESTS, "--gtest_fail_fast", "--gtest_filter=" + gtest_filter],
                                cwd=HOST_BUILD,
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


def host_killer(mutation):
    """The tests that see the line first, then the rest."""
    return run_unit_tests(mutation["tests"]) or run_unit_tests("-" + mutation["tests"])


def prepare_host():
    # clang builds the tree in about two thirds of g++'s time, and lld links a mutant's
    # unit_tests in half the time of the default linker.
    options = ["-DNORVANE_SANITIZE=OFF", "-DNORVANE_WERROR=OFF", "-DCMAKE_C_COMPILER=clang",
               "-DCMAKE_CXX_COMPILER=clang++"]
    if shutil.which("ld.lld"):
        options.append("-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld")
    subprocess.run(["cmake", "-S", SOURCE, "-B", HOST_BUILD] + options, check=True,
                   stdout=subprocess.DEVNULL)
    built, log = build(HOST_BUILD, "unit_tests")
    if not built:
        say(log)
        say("mutants: the unmutated sources do not build")
        return False
    baseline = run_unit_tests("*")
    if baseline:
        say(f"mutants: the unmutated tests fail ({baseline}); fix them first")
        return False
    return True


# ---- Windows ----------------------------------------------------------------------------------

def wine_env():
    env = dict(os.environ)
    env.setdefault("NORVANE_WINE_PREFIX", os.path.join(ROOT, "build", "wine-prefix"))
    env.setdefault("NORVANE_WINE_VDEV_PREFIX", os.path.join(ROOT, "build", "wine-prefix-vdev"))
    env.setdefault("NORVANE_WINE_BASE_PREFIX", os.path.join(ROOT, "build", "wine-prefix-base"))
    return env


def run_wine_tests(suite, pattern):
    """The failing Wine tests of the suite's -k pattern, or "" when they passed."""
    command = [sys.executable, os.path.join(ROOT, "tests", "wine", suite), "-k", pattern,
               "--build-dir", WINE_BUILD]
    try:
        result = subprocess.run(command, capture_output=True, text=True, env=wine_env(),
                                timeout=WINE_TIMEOUT_S)
    except subprocess.TimeoutExpired:
        return f"(timeout after {WINE_TIMEOUT_S} s)"
    if result.returncode == 0 and not re.search(r"^0 passed", result.stdout, re.M):
        return ""
    failed = WINE_FAILED.findall(result.stdout)
    return " ".join(f"{suite}:{name}" for name in failed) or f"({suite} exit {result.returncode})"


def wine_killer(mutation):
    return run_wine_tests(mutation["wine"], mutation["k"])


def prepare_windows(mutations):
    host_tools = os.path.join(ROOT, "build", "host")
    if not os.path.exists(os.path.join(host_tools, "fwsim")):
        say("mutants: build/host/fwsim is missing: build the host build first (make build-host)")
        return False
    subprocess.run(["cmake", "-S", SOURCE, "-B", WINDOWS_BUILD, "-DNORVANE_WERROR=OFF",
                    "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(SOURCE, "cmake",
                                                             "mingw-w64-x86_64.cmake"),
                    "-DCMAKE_BUILD_TYPE=Release"], check=True, stdout=subprocess.DEVNULL)
    built, log = build(WINDOWS_BUILD, "all")
    if not built:
        say(log[-4000:])
        say("mutants: the unmutated sources do not build for Windows")
        return False
    os.makedirs(WINE_BUILD, exist_ok=True)
    for name, target in (("windows", WINDOWS_BUILD), ("host", host_tools)):
        link = os.path.join(WINE_BUILD, name)
        if not os.path.islink(link):
            os.symlink(target, link)
    for suite, pattern in sorted({(m["wine"], m["k"]) for m in mutations}):
        failed = run_wine_tests(suite, pattern)
        if failed:
            say(f"mutants: the unmutated exe fails {suite} -k {pattern} ({failed}); fix it first")
            return False
    return True


# ---- both -------------------------------------------------------------------------------------

def main():
    windows = "--wine" in sys.argv[1:]
    started = time.time()
    mutations = load_mutations(windows)
    kind = "Windows" if windows else "host"
    say(f"==== mutants: {len(mutations)} {kind} mutations; copy and build in {WORK} ====")
    if not mutations:
        say(f"mutants: no {kind} mutation matches MUTANTS={SELECTION}")
        return 1
    copy_tree()
    if not (prepare_windows(mutations) if windows else prepare_host()):
        return 1
    say(f"  unmutated build and tests pass ({time.time() - started:.0f} s)")
    folder, target = (WINDOWS_BUILD, "NorvaneFwUpdater") if windows else (HOST_BUILD, "unit_tests")
    rows, survivors = [], 0
    for m in mutations:
        mutant_started = time.time()
        path = os.path.join(SOURCE, m["file"])
        with open(path) as file:
            original = file.read()
        with open(path, "w") as file:
            file.write(original.replace(m["original"], m["mutant"], 1))
        try:
            built, log = build(folder, target)
            killer = (wine_killer(m) if windows else host_killer(m)) if built else None
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
    build(folder, target)  # leave the build matching the sources
    width = max(len(name) for name, _ in rows)
    say(f"\n{'mutation'.ljust(width)}  result")
    for name, verdict in rows:
        say(f"{name.ljust(width)}  {verdict}")
    say(f"\nmutants: {len(rows) - survivors} of {len(rows)} killed in "
        f"{time.time() - started:.0f} s")
    return 1 if survivors else 0


if __name__ == "__main__":
    sys.exit(main())
