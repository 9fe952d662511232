#!/usr/bin/env python3
"""scripts/check-layers.py on small trees: each case is one file with one
include line, and the check must pass or fail as the layers say."""
import importlib.util
import os
import subprocess
import sys
import tempfile
import unittest

CHECK = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "check-layers.py")
_spec = importlib.util.spec_from_file_location("check_layers", CHECK)
check_layers = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(check_layers)

# Headers that exist in every tree, so that relative includes resolve.
HEADERS = [
    "util/bos.h", "platform/headless/headless_window.h", "platform/vendor/client.h", "base/base_env.h",
    "entry/entry.h", "flat/flat_connection.h", "flat/sql/parse.h", "drivers/dbase/dbf_table.h",
    "drivers/dbase/index/ndx.h", "drivers/text/txt_table.h", "tests/util/test_support.h",
    "tests/base/base_test_support.h", "tests/flat/flat_test_support.h", "tests/e2e/odbc_env.h",
    "fuzz/fuzz_check.h", "drivers/flattest/flattest_table.h",
]

# (including file, include line, passes)
CASES = [
    ("util/ram.cpp", '#include "util/bos.h"', True),
    ("util/ram.cpp", "#include <cstring>", True),
    ("util/ram.cpp", '#include "base/base_env.h"', False),
    ("util/ram.cpp", '#include "platform/headless/headless_window.h"', False),
    ("util/ram.cpp", "#include <sql.h>", False),
    ("util/ram.cpp", '  #  include "../base/base_env.h"', False),
    ("platform/headless/hooks.cpp", '#include "util/bos.h"', True),
    ("platform/headless/hooks.cpp", '#include "platform/headless/headless_window.h"', True),
    ("platform/headless/hooks.cpp", '#include "platform/vendor/client.h"', False),
    ("platform/headless/hooks.cpp", '#include "base/base_env.h"', False),
    ("platform/headless/hooks.cpp", "#include <sqlext.h>", False),
    ("base/base_env.cpp", '#include "platform/headless/headless_window.h"', True),
    ("base/base_env.cpp", "#include <sqlext.h>", True),
    ("base/base_env.cpp", '#include "entry/entry.h"', False),
    ("base/base_env.cpp", '#include "../entry/entry.h"', False),
    ("base/base_env.cpp", '#include "flat/flat_connection.h"', False),
    ("entry/entry.cpp", '#include "base/base_env.h"', True),
    ("entry/entry.cpp", '#include "flat/flat_connection.h"', False),
    ("flat/sql/parse.cpp", '#include "parse.h"', True),
    ("flat/sql/parse.cpp", '#include "flat/flat_connection.h"', True),
    ("flat/sql/parse.cpp", '#include "entry/entry.h"', False),
    ("flat/sql/parse.cpp", '#include "drivers/dbase/dbf_table.h"', False),
    ("drivers/dbase/dbf_table.cpp", '#include "entry/entry.h"', True),
    ("drivers/dbase/dbf_table.cpp", '#include "flat/sql/parse.h"', True),
    ("drivers/dbase/dbf_table.cpp", '#include "drivers/dbase/index/ndx.h"', True),
    ("drivers/dbase/dbf_table.cpp", '#include "drivers/text/txt_table.h"', False),
    ("drivers/dbase/dbf_table.cpp", '#include "../text/txt_table.h"', False),
    ("drivers/dbase/dbf_table.cpp", '#include "../../../outside.h"', False),
    ("tests/util/ram_test.cpp", '#include "tests/util/test_support.h"', True),
    ("tests/util/ram_test.cpp", '#include "platform/headless/headless_window.h"', True),
    ("tests/util/ram_test.cpp", '#include "base/base_env.h"', False),
    ("tests/util/ram_test.cpp", '#include "tests/base/base_test_support.h"', False),
    ("tests/base/base_env_test.cpp", '#include "base_test_support.h"', True),
    ("tests/base/base_env_test.cpp", '#include "tests/util/test_support.h"', True),
    ("tests/base/base_env_test.cpp", '#include "entry/entry.h"', False),
    ("tests/platform/headless/window_test.cpp", '#include "platform/headless/headless_window.h"', True),
    ("tests/platform/headless/window_test.cpp", '#include "base/base_env.h"', False),
    ("tests/drivers/dbase/dbf_test.cpp", '#include "drivers/dbase/dbf_table.h"', True),
    ("tests/drivers/dbase/dbf_test.cpp", '#include "drivers/text/txt_table.h"', False),
    ("tests/drivers/dbase/dbf_test.cpp", '#include "tests/flat/flat_test_support.h"', True),
    ("tests/base/base_env_test.cpp", '#include "tests/flat/flat_test_support.h"', False),
    ("tests/flat/flat_table_test.cpp", '#include "drivers/flattest/flattest_table.h"', True),
    ("tests/flat/flat_table_test.cpp", '#include "drivers/dbase/dbf_table.h"', False),
    ("tests/e2e/dm_test.cpp", '#include "odbc_env.h"', True),
    ("tests/e2e/dm_test.cpp", "#include <sql.h>", True),
    ("tests/e2e/dm_test.cpp", '#include "util/bos.h"', False),
    ("fuzz/scanner_fuzz.cpp", '#include "fuzz/fuzz_check.h"', True),
    ("fuzz/scanner_fuzz.cpp", '#include "flat/sql/parse.h"', True),
    ("util/ram.cpp", '// #include "base/base_env.h"', True),
]


def run_check(root):
    return subprocess.run([sys.executable, CHECK, root], capture_output=True, text=True)


def make_tree(root, files):
    for path, text in files.items():
        full = os.path.join(root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w") as out:
            out.write(text)


class CheckLayersTest(unittest.TestCase):
    def test_cases(self):
        for including, line, passes in CASES:
            with self.subTest(file=including, include=line), tempfile.TemporaryDirectory() as root:
                files = {h: "#pragma once\n" for h in HEADERS}
                files[including] = "// a file\n" + line + "\n"
                make_tree(root, files)
                problems = check_layers.check(root)
                if passes:
                    self.assertEqual(problems, [])
                else:
                    self.assertEqual(len(problems), 1, problems)
                    self.assertTrue(problems[0].startswith(including + ":2: includes "), problems)

    def test_a_clean_tree_passes(self):
        with tempfile.TemporaryDirectory() as root:
            make_tree(root, {h: "#pragma once\n" for h in HEADERS})
            result = run_check(root)
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def test_every_violation_is_reported(self):
        with tempfile.TemporaryDirectory() as root:
            files = {h: "#pragma once\n" for h in HEADERS}
            files["util/a.cpp"] = '#include "base/base_env.h"\n#include "entry/entry.h"\n'
            files["drivers/text/t.cpp"] = '#include "drivers/dbase/dbf_table.h"\n'
            make_tree(root, files)
            result = run_check(root)
            self.assertEqual(result.returncode, 1)
            self.assertEqual(result.stdout.splitlines(), [
                "drivers/text/t.cpp:1: includes drivers/dbase/dbf_table.h (drivers/dbase), "
                "which drivers/text may not see",
                "util/a.cpp:1: includes base/base_env.h (base), which util may not see",
                "util/a.cpp:2: includes entry/entry.h (entry), which util may not see",
                "3 include(s) reach a layer above their own",
            ])


if __name__ == "__main__":
    unittest.main()
