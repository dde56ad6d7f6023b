# SPDX-FileCopyrightText: 2026 The Tessaro installer developers
#
# SPDX-License-Identifier: GPL-2.0-or-later

"""Generated faults for make mutants: every place in the installer's
sources, the sample back end's scripts, the packaging and the Ansible role
where a standard mutation operator applies, and a seeded random choice of
them.

A site is one change to one line: (path, line number, line as it stands,
line with the fault, operator). Operators by kind of file:

  C++     relational and equality swapped (< <= > >= == !=), && <-> ||,
          an integer constant +1 or -1, a condition negated (if, while),
          a statement dropped
  shell   a command dropped, a flag or a redirection dropped, a test
          operator swapped (-lt -le -gt -ge -eq -ne = !=), && <-> ||,
          a constant +1 or -1, a condition negated
  YAML    a boolean flipped, a Jinja filter dropped, a when: condition
          negated, and <-> or, == <-> !=, a constant +1 or -1
  Python  relational and equality swapped, and <-> or, in <-> not in,
          is None <-> is not None, a constant +1 or -1, a condition
          negated (if, elif, while), a statement dropped

changed_sites() gives the sites of the lines that a change wrote.
"""
import os
import random
import re
import subprocess

SHELL_SCRIPTS = ["sample-sdk/installer-cli", "sample-sdk/payload/bin/tessaro-sdk-info"]
# Every script that make package and the role run.
SHELL_DIRS = ["sample-sdk/installer", "packaging", "deploy"]
YAML_DIRS = ["deploy"]
PYTHON_DIRS = ["deploy"]
# This tool itself, which its own unit test drives.
TOOL_SCRIPTS = ["tests/mutation/mutants.py", "tests/mutation/operators.py"]


def source_files(root):
    """The files mutated, each with its kind, in a fixed order."""
    found = []
    for top, _, names in os.walk(os.path.join(root, "src")):
        found += [(os.path.join(top, n), "c++") for n in names if n.endswith((".cpp", ".h"))]
    found += [(os.path.join(root, p), "shell") for p in SHELL_SCRIPTS if os.path.isfile(os.path.join(root, p))]
    for directory in SHELL_DIRS:
        for top, _, names in os.walk(os.path.join(root, directory)):
            found += [(os.path.join(top, n), "shell") for n in names if n.endswith(".sh")]
    for directory in YAML_DIRS:
        for top, _, names in os.walk(os.path.join(root, directory)):
            found += [(os.path.join(top, n), "yaml") for n in names if n.endswith(".yml")]
    for directory in PYTHON_DIRS:
        for top, _, names in os.walk(os.path.join(root, directory)):
            found += [(os.path.join(top, n), "python") for n in names if n.endswith(".py")]
    found += [(os.path.join(root, p), "python") for p in TOOL_SCRIPTS if os.path.isfile(os.path.join(root, p))]
    return sorted((os.path.relpath(p, root), kind) for p, kind in found)


def mask_code(line, line_comment, in_comment=False, block=None):
    """The line with the text of string and character literals and of
    comments (from `line_comment` on, and between the two marks of `block`)
    blanked, so operators are only found in code; and whether a block
    comment is still open at its end."""
    out = []
    i = 0
    quote = None
    while i < len(line):
        c = line[i]
        if in_comment:
            if line.startswith(block[1], i):
                in_comment = False
                out.append(" " * len(block[1]))
                i += len(block[1])
                continue
            out.append(" ")
        elif quote:
            if c == "\\":
                out.append("  ")
                i += 2
                continue
            if c == quote:
                quote = None
                out.append(c)
            else:
                out.append(" ")
        elif line.startswith(line_comment, i):
            out.append(" " * (len(line) - i))
            break
        elif block and line.startswith(block[0], i):
            in_comment = True
            out.append(" " * len(block[0]))
            i += len(block[0])
            continue
        elif c in "\"'":
            quote = c
            out.append(c)
        else:
            out.append(c)
        i += 1
    return "".join(out)[: len(line)].ljust(len(line)), in_comment


def mask_cxx(line, in_comment):
    return mask_code(line, "//", in_comment, ("/*", "*/"))


def mask_shell(line):
    """The line with its comment blanked (quoted text stays: shell lines
    carry their commands' flags in quotes too)."""
    quote = None
    for i, c in enumerate(line):
        if quote:
            if c == quote:
                quote = None
        elif c in "\"'":
            quote = c
        elif c == "#" and (i == 0 or line[i - 1] in " \t;"):
            return line[:i].ljust(len(line))
    return line


def replace_at(line, start, end, text):
    return line[:start] + text + line[end:]


def matching_paren(masked, open_at):
    depth = 0
    for i in range(open_at, len(masked)):
        if masked[i] == "(":
            depth += 1
        elif masked[i] == ")":
            depth -= 1
            if depth == 0:
                return i
    return None


def swap_sites(line, masked, swaps):
    """Each operator of `swaps` (text -> its replacements) where it stands
    in the code: the line with one replaced, and what was swapped."""
    for operator, replacements in swaps.items():
        for match in re.finditer(re.escape(operator), masked):
            for replacement in replacements:
                yield replace_at(line, match.start(), match.end(), replacement), \
                    f"{operator.strip()} -> {replacement.strip()}"


CXX_SWAPS = {" < ": [" <= ", " > "], " <= ": [" < "], " > ": [" >= ", " < "], " >= ": [" > "],
             " == ": [" != "], " != ": [" == "], " && ": [" || "], " || ": [" && "]}
DECLARATION = re.compile(r"^(?:(?:const|static|constexpr|struct|extern|inline|unsigned|volatile)\s+)*"
                         r"[A-Za-z_][\w:]*(?:<[^;]*>)?[\s*&]+[A-Za-z_]\w*\s*(?:[=({\[;,]|$)")
NOT_TYPES = ("return ", "delete ", "throw ", "else ", "goto ", "case ")
NUMBER = re.compile(r"(?<![\w.])(\d+)(?![\w.'])")


def constant_sites(line, masked, skip):
    for match in NUMBER.finditer(masked):
        if skip(masked, match.start(), match.end()):
            continue
        value = int(match.group(1))
        for other in (value + 1, value - 1):
            if other >= 0:
                yield replace_at(line, match.start(), match.end(), str(other)), "constant %+d" % (other - value)


def cxx_sites(lines):
    in_comment = False
    previous = ";"
    for number, line in enumerate(lines, 1):
        masked, in_comment = mask_cxx(line, in_comment)
        code = masked.strip()
        if not code or code.startswith("#"):
            continue
        for mutated, what in swap_sites(line, masked, CXX_SWAPS):
            yield number, mutated, what
        for mutated, what in constant_sites(line, masked, lambda m, s, e: False):
            yield number, mutated, what
        for match in re.finditer(r"\b(if|while) \(", masked):
            close = matching_paren(masked, match.end() - 1)
            if close is not None:
                inner = line[match.end():close]
                yield number, replace_at(line, match.end(), close, f"!({inner})"), "condition negated"
        statement_alone = previous.endswith((";", "{", "}", ":", ")")) and not previous.endswith("::")
        declaration = DECLARATION.match(code) and not code.startswith(NOT_TYPES)
        if statement_alone and code.endswith(";") and code != "};" and not declaration \
                and not code.startswith(("return", "break", "continue", "case")):
            indent = line[: len(line) - len(line.lstrip())]
            yield number, indent + "{}", "statement dropped"
        previous = code


SHELL_TESTS = {"-lt": "-le", "-le": "-lt", "-gt": "-ge", "-ge": "-gt", "-eq": "-ne", "-ne": "-eq"}
SHELL_KEYWORDS = ("if ", "then", "else", "elif ", "fi", "for ", "do", "done", "while ", "case ", "esac",
                  ";;", "{", "}", "(", ")", "local ", "set ", "trap ", "exit", "return")
REDIRECTION = re.compile(r"\s*(?:\d?>>?|<)\s*(?:&\d|\"[^\"]*\"|'[^']*'|[^\s;|&)]+)")
FLAG = re.compile(r"(?<=\s)(?:--[a-z][-a-z]*(?:=\S+)?|-[a-zA-Z]+)(?=[\s\"';)]|$)")


SHELL_SWAPS = {" = ": [" != "], " != ": [" = "], " && ": [" || "], " || ": [" && "]}


def fd_number(masked, start, end):
    """Whether the digits at start:end are a descriptor (2>, >&1) or $1."""
    return (end < len(masked) and masked[end] in "<>&") or (start > 0 and masked[start - 1] in "<>&$")


HEREDOC = re.compile(r"<<(-?)\s*['\"]?(\w+)['\"]?")


def shell_sites(lines):
    continued = False
    document = None
    for number, line in enumerate(lines, 1):
        # A here-document's lines are text, not commands.
        if document is not None:
            if (line.lstrip("\t") if document[0] else line) == document[1]:
                document = None
            continue
        masked = mask_shell(line)
        heredoc = HEREDOC.search(masked)
        if heredoc:
            document = (heredoc.group(1) == "-", heredoc.group(2))
        code = masked.strip()
        was_continued = continued
        continued = code.endswith(("\\", "|", "&&", "||"))
        if not code:
            continue
        for word, other in SHELL_TESTS.items():
            for match in re.finditer(rf"(?<=\s){word}(?=\s)", masked):
                yield number, replace_at(line, match.start(), match.end(), other), f"{word} -> {other}"
        for mutated, what in swap_sites(line, masked, SHELL_SWAPS):
            yield number, mutated, what
        for mutated, what in constant_sites(line, masked, fd_number):
            yield number, mutated, what
        for match in re.finditer(r"(?<![\w-])(if|while|elif) (?!!)", masked):
            yield number, replace_at(line, match.end(), match.end(), "! "), "condition negated"
        for match in REDIRECTION.finditer(masked):
            if "<<" in match.group(0) or match.group(0).strip().startswith("<("):
                continue
            yield number, replace_at(line, match.start(), match.end(), ""), "redirection dropped"
        if "[" not in code and not code.startswith("#"):
            for match in FLAG.finditer(masked):
                yield number, replace_at(line, match.start() - 1, match.end(), ""), "flag dropped"
        simple = not was_continued and not continued and not code.startswith(SHELL_KEYWORDS) \
            and not code.endswith((")", "{", "(")) and "=" not in code.split(" ")[0]
        if simple:
            indent = line[: len(line) - len(line.lstrip())]
            yield number, indent + ":", "command dropped"


FILTER = re.compile(r"\s*\|\s*[a-z_]+(?:\([^()]*\))?")


YAML_SWAPS = {" and ": [" or "], " or ": [" and "], " == ": [" != "], " != ": [" == "]}
PROSE_KEYS = {"description", "short_description", "author", "license", "company", "galaxy_info"}


def yaml_sites(lines):
    parents = []
    for number, line in enumerate(lines, 1):
        code = line.strip()
        if not code or code.startswith("#"):
            continue
        indent = len(line) - len(line.lstrip(" -"))
        while parents and parents[-1][0] >= indent:
            parents.pop()
        key = re.match(r"\s*(?:- )*([\w.]+):(?:\s|$)", line)
        if key:
            parents.append((indent, key.group(1)))
        if any(name in PROSE_KEYS for _, name in parents):
            continue
        for word, other in (("true", "false"), ("false", "true"), ("yes", "no"), ("no", "yes")):
            for match in re.finditer(rf"(?<=: ){word}\b|(?<=- ){word}\b", line):
                yield number, replace_at(line, match.start(), match.end(), other), f"{word} -> {other}"
        for jinja in re.finditer(r"\{\{.*?\}\}", line):
            for match in FILTER.finditer(line, jinja.start(), jinja.end()):
                yield number, replace_at(line, match.start(), match.end(), ""), "filter dropped"
        match = re.match(r"(\s*(?:- )?when: )(.+)$", line)
        if match and not match.group(2).startswith(("|", ">")):
            yield number, f"{match.group(1)}not ({match.group(2)})", "condition negated"
            for f in FILTER.finditer(line, match.end(1)):
                yield number, replace_at(line, f.start(), f.end(), ""), "filter dropped"
        for mutated, what in swap_sites(line, line, YAML_SWAPS):
            yield number, mutated, what
        for mutated, what in constant_sites(line, line, lambda m, s, e: False):
            yield number, mutated, what


def mask_python(line):
    """The line with the text of its string literals and its comment
    blanked."""
    return mask_code(line, "#")[0]


PYTHON_SWAPS = {" < ": [" <= ", " > "], " <= ": [" < "], " > ": [" >= ", " < "], " >= ": [" > "],
                " == ": [" != "], " != ": [" == "], " and ": [" or "], " or ": [" and "],
                " not in ": [" in "], " is None": [" is not None"], " is not None": [" is None"]}
PYTHON_KEYWORDS = ("def ", "class ", "return", "import ", "from ", "if ", "elif ", "else", "for ", "while ",
                   "try", "except", "finally", "with ", "raise", "break", "continue", "pass", "@", "global ")
DOCSTRING = ('"' * 3, "'" * 3)


def python_sites(lines):
    depth = 0
    in_docstring = False
    for number, line in enumerate(lines, 1):
        quotes = sum(line.count(q) for q in DOCSTRING)
        if in_docstring or quotes:
            in_docstring = in_docstring != (quotes % 2 == 1)
            continue
        masked = mask_python(line)
        code = masked.strip()
        opened = depth
        depth += sum(masked.count(c) for c in "([{") - sum(masked.count(c) for c in ")]}")
        if not code:
            continue
        for mutated, what in swap_sites(line, masked, PYTHON_SWAPS):
            yield number, mutated, what
        for mutated, what in constant_sites(line, masked, lambda m, s, e: False):
            yield number, mutated, what
        match = re.match(r"(\s*(?:if|elif|while) )(.+):$", masked.rstrip())
        if match:
            condition = line[match.end(1):match.end(2)]
            yield number, replace_at(line, match.end(1), match.end(2), f"not ({condition})"), "condition negated"
        simple = opened == 0 and depth == 0 and not code.endswith((":", "\\", ",")) \
            and not code.startswith(PYTHON_KEYWORDS)
        if simple:
            indent = line[: len(line) - len(line.lstrip())]
            yield number, indent + "pass", "statement dropped"


SITES = {"c++": cxx_sites, "shell": shell_sites, "yaml": yaml_sites, "python": python_sites}


def file_sites(root, path, kind, wanted=None):
    """The sites of one file; of the lines in `wanted` only, when it is
    given."""
    with open(os.path.join(root, path), encoding="utf-8") as source:
        lines = source.read().split("\n")
    for number, mutated, what in SITES[kind](lines):
        if mutated != lines[number - 1] and (wanted is None or number in wanted):
            yield (path, number, lines[number - 1], mutated, what)


def all_sites(root):
    """The sites of the whole tree but this tool's own: a change's lines
    alone reach those."""
    sites = []
    for path, kind in source_files(root):
        if path not in TOOL_SCRIPTS:
            sites += file_sites(root, path, kind)
    return sites


def changed_lines(root, revision):
    """{path: {line numbers}}: the lines that the work tree has new or
    changed since `revision`, committed or not. A `revision` that names
    commits instead (a range A..B, or a comma-separated list of commits and
    ranges) gives the lines of the work tree that those commits wrote and
    no later change rewrote, as git blame tells."""
    if ".." in revision or "," in revision:
        return blamed_lines(root, revision)
    diff = subprocess.run(["git", "diff", "--no-ext-diff", "--no-color", "--no-renames", "-U0", revision, "--"],
                          cwd=root, check=True, capture_output=True, text=True, errors="replace").stdout
    changed = {}
    path = None
    for line in diff.split("\n"):
        if line.startswith("+++ "):
            path = line[6:] if line.startswith("+++ b/") else None
        elif line.startswith("@@") and path is not None:
            match = re.match(r"@@ -\S+ \+(\d+)(?:,(\d+))? @@", line)
            start, count = int(match.group(1)), int(match.group(2) or 1)
            changed.setdefault(path, set()).update(range(start, start + count))
    return changed


def blamed_lines(root, commits):
    """{path: {line numbers}} of the work tree's lines last written by one of
    `commits` (A..B ranges and single commits, separated by commas)."""
    def git(*arguments):
        return subprocess.run(["git", *arguments], cwd=root, check=True, capture_output=True, text=True,
                              errors="replace").stdout.splitlines()
    chosen = set()
    for part in filter(None, commits.split(",")):
        chosen.update(git("rev-list", part) if ".." in part else git("rev-parse", "--verify", part + "^{commit}"))
    touched = set()
    for commit in chosen:
        touched.update(git("diff-tree", "--no-commit-id", "--name-only", "--no-renames", "-r", "--root", commit))
    changed = {}
    for path in sorted(touched):
        if not os.path.isfile(os.path.join(root, path)):
            continue
        blame = subprocess.run(["git", "blame", "-l", "-s", "--", path], cwd=root, check=True, capture_output=True,
                               text=True, errors="replace").stdout
        for number, line in enumerate(blame.split("\n")[:-1], 1):
            if line.lstrip("^")[:40] in chosen:
                changed.setdefault(path, set()).add(number)
    return changed


def changed_sites(root, revision, seed):
    """The faults at the lines written since `revision`, in files that
    make mutants plants in: one list per line, its faults in the seed's
    order (a fault that does not build gives way to the next of its line),
    the lines in the seed's order."""
    changed = changed_lines(root, revision)
    rng = random.Random(seed)
    lines = []
    for path, kind in source_files(root):
        if path not in changed:
            continue
        per_line = {}
        for site in file_sites(root, path, kind, changed[path]):
            per_line.setdefault(site[1], []).append(site)
        for number in sorted(per_line):
            rng.shuffle(per_line[number])
            lines.append(per_line[number])
    rng.shuffle(lines)
    return lines


def sample(root, seed):
    """Every site in the order the seed gives: lines first chosen at random,
    then one of the faults that apply at that line."""
    by_line = {}
    for site in all_sites(root):
        by_line.setdefault((site[0], site[1]), []).append(site)
    rng = random.Random(seed)
    lines = sorted(by_line)
    rng.shuffle(lines)
    return [rng.choice(by_line[key]) for key in lines]
