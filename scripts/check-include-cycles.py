#!/usr/bin/env python3
"""Fails when the product's sources include each other in a loop.

A header and its source file are one unit (a file's name without its extension, within its top folder:
Orvandel/src/update/new_version.h and .cpp are Orvandel/update/new_version). A unit depends on the units
whose headers its files include, with #include "..." (looked up beside the file first) or #include <...>
(looked up in the include folders only, as the compiler does; a system header is found in none and
counts nothing); the check fails, naming each loop, when a unit depends on itself through others.
Usage: scripts/check-include-cycles.py [--help]
"""
import os
import re
import sys

PRODUCT = ["shared", "Orvandel", "Miravelo", "uninstaller", "host"]
INCLUDE_FOLDERS = ["shared/include", "shared/src", "Orvandel/src", "Miravelo/src", "uninstaller/src",
                   "host/include", "host/src", "host/sim"]
INCLUDE = re.compile(r'^\s*#\s*include\s+(?:"([^"]+)"|<([^>]+)>)', re.MULTILINE)


def unit_of(path):
    parts = path.split("/")
    stem = os.path.splitext(parts[-1])[0]
    inner = [p for p in parts[1:-1] if p not in ("src", "include")]
    return "/".join([parts[0]] + inner + [stem])


def resolve(including, name, quoted):
    for folder in ([os.path.dirname(including)] if quoted else []) + INCLUDE_FOLDERS:
        candidate = os.path.normpath(os.path.join(folder, name))
        if os.path.isfile(candidate):
            return candidate
    return None


def product_files():
    for top in PRODUCT:
        for folder, _, names in os.walk(top):
            for name in sorted(names):
                if name.endswith((".h", ".cpp")):
                    yield os.path.join(folder, name)


def find_loops(graph):
    loops, state, stack = [], {}, []

    def visit(unit):
        state[unit] = "open"
        stack.append(unit)
        for other in sorted(graph.get(unit, ())):
            if state.get(other) == "open":
                loops.append(stack[stack.index(other):] + [other])
            elif other not in state:
                visit(other)
        stack.pop()
        state[unit] = "done"

    for unit in sorted(graph):
        if unit not in state:
            visit(unit)
    return loops


def main():
    if len(sys.argv) > 1:
        print(__doc__.strip())
        return 0 if sys.argv[1] in ("-h", "--help") else 2
    os.chdir(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    graph = {}
    for path in product_files():
        with open(path, encoding="utf-8") as source:
            text = source.read()
        unit = unit_of(path)
        graph.setdefault(unit, set())
        for quoted, angled in INCLUDE.findall(text):
            target = resolve(path, quoted or angled, bool(quoted))
            if target and unit_of(target) != unit:
                graph[unit].add(unit_of(target))
    loops = find_loops(graph)
    for loop in loops:
        print("include loop: " + " -> ".join(loop), file=sys.stderr)
    return 1 if loops else 0


if __name__ == "__main__":
    sys.exit(main())
