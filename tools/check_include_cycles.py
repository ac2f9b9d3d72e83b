#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Finds include cycles among the units of source folders.

A unit is a header and its source of the same name in the same folder
(windows/Main.h and windows/Main.cpp are one unit). An include names a file
relative to the folder given (the include paths of the build are folder
qualified, "windows/Main.h") or to the including file's own folder. Includes
that resolve to neither (the engine's headers seen from ui/, the system's
headers) are outside the folder and cannot close a cycle within it.

Usage: check_include_cycles.py FOLDER...
Prints each cycle found and exits 1 when there is one; 0 otherwise.
"""

import pathlib
import re
import sys

SOURCE_SUFFIXES = {".h", ".hpp", ".cpp", ".cc"}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.MULTILINE)


def unit_of(path: pathlib.Path, root: pathlib.Path) -> str:
    return str(path.relative_to(root).with_suffix(""))


def include_graph(root: pathlib.Path) -> dict[str, set[str]]:
    graph: dict[str, set[str]] = {}
    for path in sorted(root.rglob("*")):
        if path.suffix not in SOURCE_SUFFIXES or not path.is_file():
            continue
        unit = unit_of(path, root)
        edges = graph.setdefault(unit, set())
        for name in INCLUDE.findall(path.read_text(encoding="utf-8", errors="replace")):
            for candidate in (root / name, path.parent / name):
                if candidate.is_file() and candidate.suffix in SOURCE_SUFFIXES:
                    target = unit_of(candidate.resolve(), root.resolve())
                    if target != unit:
                        edges.add(target)
                    break
    return graph


def cycles(graph: dict[str, set[str]]) -> list[list[str]]:
    """The strongly connected components of more than one unit (Tarjan)."""
    index: dict[str, int] = {}
    low: dict[str, int] = {}
    stack: list[str] = []
    on_stack: set[str] = set()
    found: list[list[str]] = []

    def visit(unit: str) -> None:
        index[unit] = low[unit] = len(index)
        stack.append(unit)
        on_stack.add(unit)
        for target in sorted(graph.get(unit, ())):
            if target not in index:
                visit(target)
                low[unit] = min(low[unit], low[target])
            elif target in on_stack:
                low[unit] = min(low[unit], index[target])
        if low[unit] == index[unit]:
            component = []
            while True:
                member = stack.pop()
                on_stack.discard(member)
                component.append(member)
                if member == unit:
                    break
            if len(component) > 1:
                found.append(sorted(component))

    sys.setrecursionlimit(10000)
    for unit in sorted(graph):
        if unit not in index:
            visit(unit)
    return found


def main(folders: list[str]) -> int:
    if not folders:
        print(__doc__.strip().splitlines()[-2], file=sys.stderr)
        return 2
    status = 0
    for folder in folders:
        root = pathlib.Path(folder)
        if not root.is_dir():
            print(f"{folder}: no such folder", file=sys.stderr)
            return 2
        for component in cycles(include_graph(root)):
            print(f"{folder}: include cycle among {', '.join(component)}")
            status = 1
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
