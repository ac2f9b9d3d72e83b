#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Adds the licence's SPDX line to the top of every source file that lacks it
(after a #! line where there is one). Usage: add_spdx.py SOURCE_DIR."""
import pathlib
import subprocess
import sys

SPDX = "SPDX-License-Identifier: Apache-2.0"
COMMENT = {".cpp": "// ", ".h": "// ", ".inc": "// ", ".py": "# ", ".sh": "# ", ".txt": "# ", "": "# "}

root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
names = subprocess.run(["git", "-C", str(root), "ls-files"], capture_output=True, text=True, check=True).stdout.splitlines()
for name in names:
    path = root / name
    if path.parts[len(root.parts)] in {"samples", "docs"} or "seeds" in path.parts or "regressions" in path.parts:
        continue
    if not (path.suffix in {".cpp", ".h", ".inc", ".py", ".sh"} or path.name in {"CMakeLists.txt", "setup", "run"}):
        continue
    text = path.read_text(encoding="utf-8")
    if SPDX in "\n".join(text.splitlines()[:5]):
        continue
    line = COMMENT[path.suffix] + SPDX + "\n"
    if text.startswith("#!"):
        first, _, rest = text.partition("\n")
        text = first + "\n" + line + rest
    else:
        text = line + text
    path.write_text(text, encoding="utf-8")
