#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""The include-cycle check, on small folders made for each case."""

import pathlib
import subprocess
import sys
import tempfile
import unittest

CHECK = pathlib.Path(__file__).resolve().parents[2] / "tools" / "check_include_cycles.py"


def run_check(files: dict[str, str]) -> subprocess.CompletedProcess:
    with tempfile.TemporaryDirectory() as folder:
        root = pathlib.Path(folder) / "src"
        for name, text in files.items():
            path = root / name
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_text(text)
        return subprocess.run([sys.executable, str(CHECK), str(root)], capture_output=True, text=True)


class IncludeCycles(unittest.TestCase):
    def test_units_joined_through_their_sources_form_a_cycle(self):
        # No header includes another: the circle closes only through the sources.
        result = run_check({
            "a/One.h": "", "a/One.cpp": '#include "a/One.h"\n#include "b/Two.h"\n',
            "b/Two.h": "", "b/Two.cpp": '#include "b/Two.h"\n#include "a/One.h"\n',
        })
        self.assertEqual(result.returncode, 1)
        self.assertIn("a/One, b/Two", result.stdout)

    def test_chain_and_own_header_are_no_cycle(self):
        result = run_check({
            "a/One.h": '#include "b/Two.h"\n', "a/One.cpp": '#include "a/One.h"\n',
            "b/Two.h": "", "b/Two.cpp": '#include "b/Two.h"\n#include "Three.h"\n',
            "b/Three.h": "#include <vector>\n",
        })
        self.assertEqual(result.returncode, 0, result.stdout)

    def test_includes_outside_the_folder_cannot_close_a_cycle(self):
        result = run_check({"One.cpp": '#include "engine/Two.h"\n', "Two.h": '#include "One.h"\n', "One.h": ""})
        self.assertEqual(result.returncode, 0, result.stdout)

    def test_include_beside_the_file_counts(self):
        result = run_check({
            "w/One.h": '#include "Two.h"\n',
            "w/Two.h": "", "w/Two.cpp": '#include "w/Two.h"\n#include "w/One.h"\n',
        })
        self.assertEqual(result.returncode, 1)
        self.assertIn("w/One, w/Two", result.stdout)

    def test_missing_folder_is_a_usage_error(self):
        result = subprocess.run([sys.executable, str(CHECK), "/nonexistent-folder"], capture_output=True, text=True)
        self.assertEqual(result.returncode, 2)


if __name__ == "__main__":
    unittest.main()
