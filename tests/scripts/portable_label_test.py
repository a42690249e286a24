#!/usr/bin/env python3
"""Every test labelled portable runs only what the target portable_tests builds: each file of the build
folder that its command names is among the target's inputs (ninja -t inputs), so the macOS workflow's
tests job, which builds that target alone (scripts/test-portable.sh), has everything the label runs.

Usage: tests/scripts/portable_label_test.py BUILD_DIR
"""
import json
import os
import subprocess
import sys

if len(sys.argv) != 2 or sys.argv[1] in ("-h", "--help"):
    print(__doc__.strip().replace("Usage:", "usage:"))
    sys.exit(0 if len(sys.argv) == 2 else 2)
build = os.path.realpath(sys.argv[1])


def run(*command):
    return subprocess.run(command, cwd=build, capture_output=True, text=True, check=True).stdout


def target_files(target):
    """What building target makes: ninja's inputs, and the direct inputs of the phony targets on the way
    (ninja -t inputs leaves those out)."""
    files = set(run("ninja", "-t", "inputs", target).split())
    phony = [target]
    while phony:
        lines = run("ninja", "-t", "query", phony.pop()).splitlines()
        if len(lines) < 2 or lines[1].strip() != "input: phony":
            continue
        for line in lines[2:]:
            if not line.startswith("    "):
                break
            name = line.strip().removeprefix("|| ").removeprefix("| ")
            if name not in files:
                files.add(name)
                phony.append(name)
    return {os.path.join(build, name) for name in files}


tests = json.loads(run("ctest", "--show-only=json-v1", "-L", "portable"))["tests"]
built = target_files("portable_tests")
if not tests:
    sys.exit("FAIL: no test carries the label portable")
failed = False
for test in tests:
    for word in test.get("command", []):
        if not os.path.isabs(word):
            continue
        path = os.path.realpath(word)
        if path.startswith(build + os.sep) and not os.path.isdir(path) and path not in built:
            print(f"FAIL {test['name']}: runs {word}, which portable_tests does not build", file=sys.stderr)
            failed = True
print(f"{len(tests)} portable tests, each running only what portable_tests builds")
sys.exit(1 if failed else 0)
