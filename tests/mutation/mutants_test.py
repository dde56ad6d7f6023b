#!/usr/bin/env python3

# SPDX-FileCopyrightText: 2026 The Tessaro installer developers
#
# SPDX-License-Identifier: GPL-2.0-or-later

"""make mutants DIFF=: on a throw-away project with two commits, the lines
the second commit wrote get their faults, each is run against the tests
and reported; lines it did not write get none.

The project: src/compare.cpp with one function its test checks at the
boundary and one that no test calls, and a Python file in the role's
place that its own test checks; the second commit changes one line of
each function and adds a comment."""
import os
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))

CMAKE = """cmake_minimum_required(VERSION 3.20)
project(throwaway CXX)
enable_testing()
add_executable(compare_test src/compare.cpp tests/boundaries_test.cpp)
target_include_directories(compare_test PRIVATE src)
add_test(NAME Compare.Boundaries COMMAND compare_test)
set_tests_properties(Compare.Boundaries PROPERTIES LABELS unit)
add_test(NAME compare_py COMMAND python3 ${CMAKE_SOURCE_DIR}/deploy/compare.py)
set_tests_properties(compare_py PROPERTIES LABELS fleet)
"""
TEST = """#define TEST(suite, name) int main()
#include "compare.h"
TEST(Compare, Boundaries) { return less(1, 2) && !less(2, 2) && !less(3, 2) ? 0 : 1; }
"""
BEFORE = """bool less(int a, int b) { return b > a; }
bool never(int a) { return a > 7; }
"""
PY_BEFORE = """import sys
def less(a, b):
    return b > a
sys.exit(0 if less(1, 2) and not less(2, 2) and not less(3, 2) else 1)
"""
# The last line's only fault, the statement dropped, does not parse.
PY_AFTER = PY_BEFORE.replace("b > a", "a < b") + "SPARE = sys.argv + \\\n    sys.argv\n"
AFTER = """// Two comparisons.
bool less(int a, int b) { return a < b; }
bool never(int a) { return a >= 7; }
"""


def git(project, *arguments):
    subprocess.run(["git", "-c", "user.name=t", "-c", "user.email=t@example.org", *arguments], cwd=project,
                   check=True, capture_output=True)


def write(project, path, text):
    os.makedirs(os.path.dirname(os.path.join(project, path)), exist_ok=True)
    with open(os.path.join(project, path), "w", encoding="utf-8") as out:
        out.write(text)


def main():
    failures = []
    with tempfile.TemporaryDirectory(prefix="mutants-test.") as project:
        for path, text in (("CMakeLists.txt", CMAKE), ("tests/boundaries_test.cpp", TEST), ("src/compare.cpp", BEFORE),
                           ("src/compare.h", "bool less(int a, int b);\n"),
                           ("deploy/compare.py", PY_BEFORE)):
            write(project, path, text)
        git(project, "init", "-q")
        git(project, "add", ".")
        git(project, "commit", "-q", "-m", "one")
        for path, text in (("src/compare.cpp", AFTER), ("deploy/compare.py", PY_AFTER)):
            write(project, path, text)
        git(project, "commit", "-q", "-am", "two")
        result = subprocess.run([sys.executable, os.path.join(HERE, "mutants.py"), "--root", project,
                                 "--diff", "HEAD~1", "--seed", "1"], capture_output=True, text=True, timeout=600)
        output = result.stdout + result.stderr
        # (what the report must say, why)
        rows = [
            (r"^4 changed lines with faults to plant since HEAD~1$", "the four changed lines, not the comment"),
            (r"^\s+\d+ deploy/compare\.py:3: [^\n]*: caught by compare_py \(fleet\)$", "the role's Python: caught"),
            (r"^\s+\d+ src/compare\.cpp:2: \S+ -> \S+: caught by Compare\.Boundaries \(its own tests\)$",
             "the tested line: caught by the test that names its header, run first"),
            (r"^\s+\d+ src/compare\.cpp:3: [^\n]*: MISSED\n\s+--- src/compare\.cpp:3\n\s+-bool never\(int a\) "
             r"\{ return a >= 7; \}\n\s+\+bool never", "the untested line: missed, with its change"),
            (r"^score: 2 of 3 faults caught \(67%\)$", "the score"),
            (r"^1 faults did not build and gave way to another of their line$", "the one that did not build"),
        ]
        seeded = subprocess.run([sys.executable, os.path.join(HERE, "mutants.py"), "--root", project,
                                 "--seed", "1", "--count", "1"], capture_output=True, text=True, timeout=600)
        output += seeded.stdout + seeded.stderr
        rows += [(r"^seed 1: 1 generated faults\n(    skipped[^\n]*\n)*\s+1 \S+:\d+: [^\n]*: "
                  r"(caught by \S+ \(\w+\)|MISSED)$", "a seeded fault anywhere, run"),
                 (r"^score: \d of 1 faults", "the seeded run's score")]
        if seeded.returncode != 0:
            failures.append(f"seeded: status {seeded.returncode}")
        for pattern, why in rows:
            if not re.search(pattern, output, re.M):
                failures.append(why)
        if result.returncode != 0:
            failures.append(f"status {result.returncode}")
        # A range names the lines its commits wrote that still stand: a
        # line rewritten since, here in the work tree, is no longer its.
        write(project, "src/compare.cpp", AFTER.replace("a >= 7", "a >= 8"))
        git(project, "checkout", "-q", "HEAD~1", "--", "deploy/compare.py")
        listed = subprocess.run([sys.executable, os.path.join(HERE, "mutants.py"), "--root", project,
                                 "--diff", "HEAD~1..HEAD", "--list"], capture_output=True, text=True, timeout=60)
        output += listed.stdout + listed.stderr
        if not re.search(r"\A1 changed lines with faults to plant written by HEAD~1\.\.HEAD\n\s+1 src/compare\.cpp:2: ",
                         listed.stdout):
            failures.append("a range: the line it wrote that still stands, alone")
        # Which lines of new files get faults: (file, text, the lines that do).
        # A here-document's text and the inner lines of a bracketed Python
        # statement get none.
        listing = [
            ("packaging/notes.sh", "#!/bin/sh\ncat <<EOF\n[ 1 -lt 2 ]\nEOF\n[ \"$1\" -lt 2 ]\n"
             "cat <<-END\n\t[ 1 -lt 2 ]\n\tEND\n[ \"$1\" -lt 2 ]\n", [2, 5, 6, 9]),
            ("deploy/sizes.py", "total = sum([\n    sizes\n])\nprint(total)\n", [4]),
            ("sample-sdk/installer-cli", "#!/bin/sh\n[ \"$1\" -lt 2 ]\n", [2]),
        ]
        for path, text, _ in listing:
            write(project, path, text)
        git(project, "add", *(path for path, _, _ in listing))
        listed = subprocess.run([sys.executable, os.path.join(HERE, "mutants.py"), "--root", project,
                                 "--diff", "HEAD", "--list"], capture_output=True, text=True, timeout=60)
        output += listed.stdout + listed.stderr
        for path, _, planted in listing:
            sites = {int(n) for n in re.findall(rf"^\s+\d+ {re.escape(path)}:(\d+): ", listed.stdout, re.M)}
            if sites != set(planted):
                failures.append(f"{path}: faults at lines {sorted(sites)}, not {planted}")
    if failures:
        print(output)
        print("failed: " + "; ".join(failures))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
