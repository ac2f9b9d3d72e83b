#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Checks the rules every source file of the project keeps:
  - it carries the licence's SPDX line near its top;
  - a hand-written C++ file has at most 800 lines (generated tables are named
    *.generated.* and are exempt).
Usage: check_sources.py SOURCE_DIR. Prints each breach; exits 1 on any."""
import pathlib
import subprocess
import sys

SPDX = "SPDX-License-Identifier: Apache-2.0"
LINE_LIMIT = 800
CHECKED_SUFFIXES = {".cpp", ".h", ".py", ".sh"}
CHECKED_NAMES = {"CMakeLists.txt", "setup", "run"}


def tracked_files(root: pathlib.Path):
    listed = subprocess.run(["git", "-C", str(root), "ls-files"], capture_output=True, text=True)
    if listed.returncode == 0 and listed.stdout.strip():
        return [root / name for name in listed.stdout.splitlines()]
    return [p for p in root.rglob("*") if p.is_file() and "build" not in p.parts and ".git" not in p.parts]


def main() -> int:
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    breaches = []
    for path in tracked_files(root):
        if not path.is_file():
            continue
        relative = path.relative_to(root)
        if relative.parts[0] in {"samples", "docs"} or "seeds" in relative.parts or "regressions" in relative.parts:
            continue
        if path.suffix not in CHECKED_SUFFIXES and path.name not in CHECKED_NAMES:
            continue
        text = path.read_text(encoding="utf-8", errors="replace")
        head = "\n".join(text.splitlines()[:5])
        if SPDX not in head:
            breaches.append(f"{relative}: no '{SPDX}' line in its first five lines")
        if path.suffix in {".cpp", ".h"} and ".generated." not in path.name:
            lines = text.count("\n")
            if lines > LINE_LIMIT:
                breaches.append(f"{relative}: {lines} lines, more than {LINE_LIMIT}")
    for breach in breaches:
        print(breach)
    return 1 if breaches else 0


if __name__ == "__main__":
    sys.exit(main())
