#!/usr/bin/env python3
"""Fails when two units of src/ depend on each other through their includes.

A unit is a header with its source file (common/RegistryKey.h and .cpp); a unit depends on
every unit whose header it includes. Any cycle among units is printed.

    check_include_cycles.py SOURCE_ROOT
"""
import os
import re
import sys


def main():
    src = os.path.join(sys.argv[1], "src")
    include = re.compile(r'^\s*#\s*include\s+"([^"]+)\.h"', re.M)
    graph = {}
    for folder, _, files in os.walk(src):
        for name in files:
            if not name.endswith((".h", ".cpp")):
                continue
            path = os.path.join(folder, name)
            unit = os.path.relpath(path, src).rsplit(".", 1)[0]
            with open(path, encoding="utf-8", errors="replace") as f:
                needs = set(include.findall(f.read()))
            graph.setdefault(unit, set()).update(n for n in needs if n != unit)
    # Depth-first search for back edges.
    state, cycles, stack = {}, [], []

    def visit(unit):
        state[unit] = 1
        stack.append(unit)
        for need in sorted(graph.get(unit, ())):
            if need not in graph:
                continue
            if state.get(need) == 1:
                cycles.append(stack[stack.index(need):] + [need])
            elif need not in state:
                visit(need)
        stack.pop()
        state[unit] = 2

    for unit in sorted(graph):
        if unit not in state:
            visit(unit)
    for cycle in cycles:
        print("include cycle: " + " -> ".join(cycle))
    if not cycles:
        print("no include cycles among %d units" % len(graph))
    return 1 if cycles else 0


if __name__ == "__main__":
    sys.exit(main())
