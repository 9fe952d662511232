#!/usr/bin/env python3
"""Fails when a source file includes a header of a layer it may not see.

The folders are the layers, and dependencies only point down: util; the
platform stand-ins (platform/<part>, each on its own); base; entry and flat;
the drivers (drivers/<name>, which never see each other). The include roots
of the build already keep each target to its own layers; this check reads the
include lines themselves, so that a relative include ("../entry/entry.h")
cannot climb past them either.

Usage: check-layers.py [project root]   (default: the folder above scripts/)
"""
import os
import re
import sys

# The ODBC headers: nothing in util or platform knows ODBC.
ODBC = "<odbc>"
ODBC_HEADERS = {"sql.h", "sqlext.h", "sqltypes.h", "sqlucode.h", "odbcinst.h", "odbcinstext.h"}

# Each folder, lowest layer first, with the folders whose headers its files
# may include. "*" stands for one folder name (a platform part, a driver);
# "{own}" is the including file's own folder; a folder also admits the
# folders below it ("platform" admits every platform part).
PRODUCT_LAYERS = [
    ("util", ["util"]),
    ("platform/*", ["util", "{own}"]),
    ("base", ["util", "platform", "base", ODBC]),
    ("entry", ["util", "platform", "base", "entry", ODBC]),
    ("flat", ["util", "platform", "base", "flat", ODBC]),
    ("drivers/*", ["util", "platform", "base", "entry", "flat", "{own}", ODBC]),
]

# Programs that only use the layers: they may include any of them.
EVERYTHING = ["util", "platform", "base", "entry", "flat", "drivers", ODBC]
CONSUMERS = [
    ("fuzz", EVERYTHING + ["fuzz"]),
    ("bench", EVERYTHING + ["bench"]),
]

# Tests mirror the tree: tests/<folder> may include what <folder> may, the
# test support of those folders (tests/util, tests/flat, ...) and its own
# folder. Exceptions:
TEST_RULES = [
    # End-to-end tests reach the drivers only through the Driver Manager.
    ("tests/e2e", ["{own}", ODBC]),
    # The scripts' tests are not C++.
    ("tests/scripts", ["{own}"]),
]
TEST_EXTRAS = {
    # The trace window and the window helpers are tested on the headless
    # windows that the utility library reaches through its hooks.
    "tests/util": ["platform"],
    # The engine is tested through the test file driver's classes.
    "tests/flat": ["drivers/flattest"],
}

SOURCE_SUFFIXES = (".h", ".hpp", ".c", ".cc", ".cpp", ".inc")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def match(pattern, parts):
    """The folder a pattern names for a path split into parts, or None."""
    pattern_parts = pattern.split("/")
    if len(parts) <= len(pattern_parts):
        return None
    for want, got in zip(pattern_parts, parts):
        if want != "*" and want != got:
            return None
    return "/".join(parts[: len(pattern_parts)])


def rule_for(path):
    """(own folder, allowed folders) for a file, or None when no rule holds it."""
    parts = path.split("/")
    for pattern, allowed in TEST_RULES + PRODUCT_LAYERS + CONSUMERS:
        own = match(pattern, parts)
        if own:
            return own, [own if a == "{own}" else a for a in allowed]
    if parts[0] == "tests":
        mirrored = rule_for("/".join(parts[1:]))
        if mirrored:
            own = "tests/" + mirrored[0]
            support = ["tests/" + folder for folder in mirrored[1] if folder != ODBC]
            return own, mirrored[1] + support + TEST_EXTRAS.get(own, []) + [own]
    return None


def folder_of(path):
    """The folder a header belongs to, for the messages and the rules."""
    if path == ODBC:
        return ODBC
    rule = rule_for(path)
    return rule[0] if rule else path.split("/")[0]


def admits(allowed, folder):
    return any(folder == a or folder.startswith(a + "/") for a in allowed)


def resolve(root, including, quote, name):
    """The project path an include names, ODBC for an ODBC header, None for
    a header from outside the project."""
    if quote == "<" and name in ODBC_HEADERS:
        return ODBC
    if quote == '"':
        beside = os.path.normpath(os.path.join(os.path.dirname(including), name))
        if os.path.isfile(os.path.join(root, beside)):
            return beside.replace(os.sep, "/")
        if name in ODBC_HEADERS:
            return ODBC
    path = os.path.normpath(name).replace(os.sep, "/")
    if path.startswith("../"):
        return path
    if os.path.isfile(os.path.join(root, path)) or rule_for(path):
        return path
    return None


def source_files(root):
    tops = {pattern.split("/")[0] for pattern, _ in PRODUCT_LAYERS + CONSUMERS} | {"tests"}
    for top in sorted(tops):
        for folder, dirs, files in os.walk(os.path.join(root, top)):
            dirs.sort()
            for name in sorted(files):
                if name.endswith(SOURCE_SUFFIXES):
                    yield os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")


def check(root):
    """The violations in the tree, as printable lines."""
    problems = []
    for path in source_files(root):
        rule = rule_for(path)
        if not rule:
            continue
        own, allowed = rule
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as source:
            for number, line in enumerate(source, 1):
                found = INCLUDE.match(line)
                if not found:
                    continue
                header = resolve(root, path, found.group(1), found.group(2))
                if header is None:
                    continue
                if header.startswith("../"):
                    problems.append(f"{path}:{number}: includes {found.group(2)}, outside the project")
                    continue
                folder = folder_of(header)
                if not admits(allowed, folder):
                    problems.append(f"{path}:{number}: includes {found.group(2)} ({folder}), "
                                    f"which {own} may not see")
    return problems


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    problems = check(os.path.abspath(root))
    for problem in problems:
        print(problem)
    if problems:
        print(f"{len(problems)} include(s) reach a layer above their own")
        return 1
    print("every include stays within its layers")
    return 0


if __name__ == "__main__":
    sys.exit(main())
