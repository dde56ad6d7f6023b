#!/usr/bin/env python3

# SPDX-FileCopyrightText: 2026 The Tessaro installer developers
#
# SPDX-License-Identifier: GPL-2.0-or-later

"""make mutants: plants small faults in a copy of the sources, one at a
time, and reports for each whether the test suite catches it.

Each fault is one small change to one line of one source file: a
comparison, a bound, a dropped quote, a dropped restore, a wrong status.
For every fault the copy is rebuilt and the suite runs in four phases,
unit, end-to-end, terminal and test-machine tests, stopping at the first
phase that fails: the fault is caught, by the first failing test. A fault that every
phase passes is missed. The fleet tests and the run on a host with the SDK
installed are left out: no fault of the list is in what they alone cover.

The fleet test alone sees the Ansible role, so a fault there runs it
alone. Besides the hand-written faults below, --seed draws faults from the
standard mutation operators (operators.py) at random lines: the first
--count of them (60 by default) that build are run.

With --diff REV it plants faults at the lines written since REV (commits
and the work tree alike): one fault per changed line, drawn from the
operators that apply there (the next one of the line when it does not
build), or --count of those lines, chosen with --seed. Each runs the tests
that can see its file first (those whose sources name it), then the rest
of the tests of its kind, and stops at the first that fails.

  mutants.py [--list] [--only N[,N...]]
  mutants.py --seed N [--count K] [--list]
  mutants.py --diff REV [--seed N] [--count K] [--only N[,N...]] [--list]

--root DIR works on another checkout than the one that holds this script.
"""
import contextlib
import os
import re
import shutil
import subprocess
import sys
import tempfile

import yaml

import operators

# (file, text as it stands, text with the fault, what the fault is)
MUTANTS = [
    ("src/core/text.cpp", "c == '+' || c == '=' || c == '@' || c == '%';",
     "c == '+' || c == '=' || c == '@' || c == '%' || c == '~';", "a leading ~ left unquoted"),
    ("src/core/text.cpp", "quoted += \"'\\\\''\";", "quoted += \"'\";", "a quote inside quotes not escaped"),
    ("src/core/text.cpp", "if (static_cast<std::size_t>(needed) < sizeof small) {",
     "if (static_cast<std::size_t>(needed) <= sizeof small) {", "formatting: off by one at 512 characters"),
    ("src/core/text.cpp", "text.resize(max);", "text.resize(max - 1);", "the cut keeps one character too few"),
    ("src/core/text.h", "inline constexpr std::size_t kTextMax = 4095;",
     "inline constexpr std::size_t kTextMax = 4096;", "text cap one too large"),
    ("src/core/log.cpp", "\"%Y-%m-%dT%T%z\"", "\"%Y-%m-%dT%T\"", "log timestamp without its offset"),
    ("src/core/log.cpp", "std::fwrite(bytes, 1, size, file.get());",
     "std::fprintf(file.get(), \"%.*s\", static_cast<int>(size), bytes);", "logged output cut at a NUL"),
    ("src/core/run_state.cpp", "return \"upgrading\";", "return \"upgrade\";", "wrong action name"),
    ("src/core/run_state.cpp", "int remove_config = 1;", "int remove_config = 0;",
     "removal keeps the settings"),
    ("src/dialogs/dialog.cpp", "return answer == 0 ? 1 : 0;", "return answer == 0 ? 0 : 1;",
     "cancel confirmation inverted"),
    ("src/dialogs/dialog.cpp", "std::max(levels[2], 3)", "std::max(levels[2], 4)", "console level lowered to 4"),
    ("src/dialogs/dialog.cpp", "        stop_screen();\n        restore_console_level();\n    }\n    write_log",
     "        stop_screen();\n    }\n    write_log", "exit path drops the console level restore"),
    ("src/core/fatal_signals.cpp", "kFatalSignals[] = {SIGINT,  SIGTERM, SIGHUP, ",
     "kFatalSignals[] = {SIGINT,  SIGTERM, SIGTERM, ", "SIGHUP not guarded"),
    ("src/core/fatal_signals.cpp", "if (month <= 2)", "if (month < 2)", "signal timestamp: February's year"),
    ("src/core/fatal_signals.cpp", "gmtoff < 0 ? \"-\" : \"+\"", "\"+\"",
     "signal timestamp: negative offset signed +"),
    ("src/core/fatal_signals.cpp", "    ::kill(-group, sig);\n", "    ::kill(-group, sig - sig);\n",
     "the running command never gets the signal"),
    ("src/host/run_lock.cpp", "if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {", "if (false) {",
     "a second installer is not refused"),
    ("src/exec/terminal_line.cpp", "width = SLwchar_wcwidth(code);", "width = 1;",
     "wide characters counted as one column"),
    ("src/screen/buttons.cpp", "return two_button_bar(width, accept, _(\" Accept \"), exit, _(\" Decline \"));",
     "return two_button_bar(width, exit, _(\" Accept \"), accept, _(\" Decline \"));",
     "licence buttons swapped"),
    ("src/dialogs/choice.cpp", "return types[j].id;", "return j;", "selection returns the position"),
    ("src/dialogs/choice.cpp", "installButtonsWithTxt(width, focus, cancel, _(\"Retry\"), _(\"Cancel\"));",
     "installButtonsWithTxt(width, cancel, focus, _(\"Retry\"), _(\"Cancel\"));", "retry question focus on cancel"),
    ("src/dialogs/agreement.cpp", "return ended == decline ? 0 : 1;", "return ended == accept ? 1 : 0;",
     "licence hot keys decline"),
    ("src/dialogs/agreement.cpp", "std::max(text_rows_left(1 + grid_rows(bar)), kAgreementMinRows)",
     "std::max(text_rows_left(grid_rows(bar)), kAgreementMinRows)",
     "licence box one row taller"),
    ("src/dialogs/text_dialogs.cpp", "return ended == abort_button ? 1 : 0;", "return ended == abort_button ? 0 : 1;",
     "dependency dialog answer inverted"),
    ("src/dialogs/progress.cpp", "    close_grid_window(prepForm);\n    newtFormDestroy(prepForm);",
     "    newtFormDestroy(prepForm);", "progress window never removed"),
    ("src/screen/status_window.cpp", "std::fputs(_(\"Done\\n\"), stdout);", "std::fputs(_(\"Done\"), stdout);",
     "status line without its line end"),
    ("src/screen/text_layout.h", "inline constexpr int kDialogFrameRows = 7;",
     "inline constexpr int kDialogFrameRows = 5;", "tall dialogs two rows too tall"),
    ("src/screen/scrolling_text.h", "if (flowed.height > max_rows)", "if (flowed.height > max_rows + 1)",
     "a text one row too tall does not scroll"),
    ("src/exec/shell_child.cpp", "        if (errno == EINTR)\n            continue;",
     "        if (errno == EINTR && false)\n            continue;", "interrupted reads counted as errors"),
    ("src/exec/runner.cpp", "            if (mess != nullptr)\n                collected.append(block, got);",
     "            collected.append(block, got);", "unwanted output kept"),
    ("src/exec/runner.cpp", "if (wrote && mess != nullptr)", "if ((wrote || mess != nullptr) && mess != nullptr)",
     "a quiet command clears the caller's buffer"),
    ("src/exec/runner.cpp", "        return code;\n", "        return code & 0x7f;\n", "exit code 255 reported as 127"),
    ("src/exec/progress_reader.cpp", "int percent = std::clamp(read_percentage(line), 0, 100);",
     "int percent = read_percentage(line);", "bar figures not clamped"),
    ("src/exec/progress_reader.cpp", "(static_cast<long long>(part) * 100 + percent)",
     "(static_cast<long long>(part) * 50 + percent)", "second half scaled wrong"),
    ("src/exec/progress_reader.cpp", "if (last_run || result != 0)\n        close_terminal_line();",
     "if (last_run)\n        close_terminal_line();", "failed run leaves its progress line open"),
    ("src/exec/progress_reader.cpp", "std::size_t room = size - 1 - captured.size();",
     "std::size_t room = size - captured.size();", "capture one byte too many"),
    ("src/host/locate.cpp", "        if (candidate.size() > limit)\n            return std::nullopt;\n        if (accept",
     "        if (candidate.size() >= limit)\n            return std::nullopt;\n        if (accept",
     "upward search refuses a candidate at the limit"),
    ("src/host/locate.h", "inline constexpr std::size_t kDirSearchMax = 1023;",
     "inline constexpr std::size_t kDirSearchMax = 1024;", "directory search limit one too large"),
    ("src/host/locate.cpp", "escaped += \"\\\\040\";", "escaped += \" \";", "mount points with blanks unmatched"),
    ("src/host/locate.cpp", "return (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) ? 0 : 1;",
     "return S_ISREG(st.st_mode) ? 0 : 1;", "a dangling link is not a file"),
    ("src/host/file_ops.cpp", "shell_quote(to).c_str(), shell_quote(from).c_str()));",
     "to.c_str(), shell_quote(from).c_str()));", "untar's target unquoted"),
    ("src/host/file_ops.cpp", "    if (line.size() > kTextMax) {\n        write_log(\"%s: command",
     "    if (line.size() > kTextMax + 1000) {\n        write_log(\"%s: command", "overlong file command lines run"),
    ("src/host/file_ops.cpp", "escape_chars(val, \"/\\\\&\")", "escape_chars(val, \"/\\\\\")",
     "set_param leaves & unescaped"),
    ("src/host/probes.cpp", "return std::strcmp(identity.machine, \"x86_64\") == 0 ? 1 : 0;",
     "return std::strcmp(identity.machine, \"x86_64\") == 0 ? 0 : 1;", "architecture probe inverted"),
    ("src/driver/command_line.cpp", "if (!show_version && !help)", "if (!show_version)",
     "-h with an overlong log path refused"),
    ("src/driver/command_line.cpp", "} else if (unattended_install && unattended_remove) {",
     "} else if (unattended_install && unattended_remove && force_mode) {", "-i -r accepted"),
    ("src/driver/command_line.h", "inline constexpr unsigned kLogPathMax = 4095;",
     "inline constexpr unsigned kLogPathMax = 4096;", "log path limit one too large"),
    ("src/driver/backend.cpp", "shell_quote(product_code).c_str(), shell_quote(log_file).c_str());",
     "shell_quote(product_code).c_str(), log_file.c_str());", "pm.sh's log path unquoted"),
    ("src/driver/backend.h", "inline constexpr int PM_BUSY = 123;", "inline constexpr int PM_BUSY = 124;",
     "wrong busy status"),
    ("src/driver/wizard.cpp", "msg = cut_text(msg, buf_size - 1);", "msg = cut_text(msg, buf_size);",
     "disk-space message cut one too late"),
    ("src/driver/wizard.cpp", "    if (id == 2)\n        return ACTION_REMOVE;",
     "    if (id == 2)\n        return ACTION_REMOVE_CONFLICT;", "removal of the wrong manifest"),
    ("src/driver/installation.cpp", "attempt < kInstallAttempts; ++attempt", "attempt < kInstallAttempts - 1; ++attempt",
     "one package-manager attempt too few"),
    ("src/driver/installation.cpp", "run_cli_installer_parted(\"-i\", PACKAGE_MANIFEST, 2, 1);",
     "run_cli_installer_parted(\"-i\", PACKAGE_MANIFEST, 2, 0);", "upgrade's second half as the first"),
    ("src/driver/installation.cpp", "(*list)[0] == 'm') ? 1 : 0;", "(*list)[0] == 'o') ? 1 : 0;",
     "optional packages taken for mandatory ones"),
    ("src/driver/product_checks.cpp", "if (status == SERVER_RUNNING_A || status == SERVER_RUNNING_B) {",
     "if (status == SERVER_RUNNING_A) {", "one running-server status missed"),
    ("src/main.cpp", "setenv(\"KST_WRAPPER_LIBREPO\", \"\", 1);", "setenv(\"KST_WRAPPER_LIBREPO\", \"\", 0);",
     "the tools' variable not overwritten"),
    ("src/main.cpp", "        stop_screen();\n        restore_console_level();\n    }\n    if (reboot_required)",
     "        stop_screen();\n    }\n    if (reboot_required)", "normal end drops the console level restore"),
]

PHASES = [("unit", ["-L", "unit"]), ("end-to-end", ["-L", "e2e"]), ("terminal", ["-L", "terminal"]),
          ("machine", ["-L", "machine"])]
# The Ansible role is what only the fleet test drives.
FLEET_PHASES = [("fleet", ["-L", "fleet"])]


def run(command, cwd, log):
    return subprocess.run(command, cwd=cwd, stdout=log, stderr=subprocess.STDOUT).returncode


def first_failure(output):
    match = re.search(r"^\s*\d+ - (\S+) \(Failed\)", output, re.M) or re.search(r"\*\*\*Failed\s.*?(\S+)$", output, re.M)
    return match.group(1) if match else "a failing test"


def well_formed(path, text):
    """Whether a script or a YAML file with a fault still parses: what does
    not is skipped, as C++ that does not compile is."""
    if path.endswith(".yml"):
        try:
            yaml.safe_load(text)
            return True
        except yaml.YAMLError:
            return False
    if path.endswith((".cpp", ".h")):
        return True
    if path.endswith(".py"):
        try:
            compile(text, path, "exec")
            return True
        except SyntaxError:
            return False
    shell = "bash" if text.startswith("#!/bin/bash") or text.startswith("#!/usr/bin/env bash") else "sh"
    return subprocess.run([shell, "-n"], input=text, text=True, capture_output=True).returncode == 0


SUITE = re.compile(r"^TEST(?:_F|_P)?\((\w+),", re.M)


def suites_naming(root, path):
    """The test suites whose source files name `path`: its header (the
    path under src/), its base name (a script, a tool), or its stem with
    _test (the test that mirrors it)."""
    stem = os.path.splitext(os.path.basename(path))[0]
    names = {os.path.basename(path)}
    if path.startswith("src/"):
        names.add(os.path.splitext(path[4:])[0] + ".h")
    suites = set()
    for top, _, files in os.walk(os.path.join(root, "tests")):
        for name in files:
            if not name.endswith(".cpp"):
                continue
            with open(os.path.join(top, name), encoding="utf-8", errors="replace") as source:
                text = source.read()
            if name == stem + "_test.cpp" or any(n in text for n in names):
                suites.update(SUITE.findall(text))
    return sorted(suites)


def phases_for(root, path):
    """The test runs that can see a fault in `path`, those that name it
    first: (what, ctest arguments)."""
    if path.startswith("deploy/"):
        kinds = FLEET_PHASES
    elif path.startswith("tests/"):
        kinds = PHASES[:1]
    elif path.startswith("packaging/"):
        kinds = [("terminal", ["-L", "terminal"])] + FLEET_PHASES
    elif path.startswith("sample-sdk/"):
        kinds = PHASES[1:]
    else:
        kinds = PHASES
    suites = suites_naming(root, path)
    if not suites:
        return kinds
    own = "^(\\w+/)?(" + "|".join(suites) + ")\\."
    labels = [a for _, selection in kinds for a in selection if a != "-L"]
    first = [("its own tests", ["-R", own, "-L", "|".join(labels)])]
    return first + [(phase, selection + ["-E", own]) for phase, selection in kinds]


def judge(copy, build, path, log, phases=None):
    """Builds the copy with its fault and runs the tests that can see it:
    the verdict. A test that fails is run once more before it counts, so a
    test that failed only under load does not pass for a catch."""
    if run(["cmake", "--build", build], copy, log) != 0:
        return None
    if phases is None:
        phases = FLEET_PHASES if path.startswith("deploy/") else PHASES
    for phase, selection in phases:
        for attempt in (1, 2):
            result = subprocess.run(["ctest", "--test-dir", build, "-j3", "--timeout", "300",
                                     "--stop-on-failure", "--output-on-failure"] + selection,
                                    cwd=copy, capture_output=True, text=True, errors="replace")
            log.write(result.stdout)
            if result.returncode == 0:
                break
            failed = first_failure(result.stdout)
            again = subprocess.run(["ctest", "--test-dir", build, "--timeout", "300", "-R", f"^{re.escape(failed)}$"],
                                   cwd=copy, capture_output=True, text=True, errors="replace")
            log.write(again.stdout)
            if again.returncode != 0:
                return f"caught by {failed} ({phase})"
            log.write(f"{failed} failed once and then passed: the phase runs again\n")
    return "MISSED"


# What make deps fetched into the checkout that git does not track, and the
# tests need: shared with the copy, not copied.
FETCHED = [".cache", "tests/support/bom-validator/node_modules"]


def copy_sources(root, copy):
    files = subprocess.run(["git", "ls-files", "-co", "--exclude-standard"], cwd=root, check=True,
                           capture_output=True, text=True).stdout.split("\n")
    for name in filter(None, files):
        if os.path.isfile(os.path.join(root, name)):
            os.makedirs(os.path.dirname(os.path.join(copy, name)), exist_ok=True)
            shutil.copy2(os.path.join(root, name), os.path.join(copy, name))
    for name in FETCHED:
        if os.path.exists(os.path.join(root, name)):
            os.makedirs(os.path.dirname(os.path.join(copy, name)) or copy, exist_ok=True)
            os.symlink(os.path.realpath(os.path.join(root, name)), os.path.join(copy, name))


def line_replaced(number, text):
    """A change for planted(): line `number` (from 1) becomes `text`."""
    def change(original):
        lines = original.split("\n")
        lines[number - 1] = text
        return "\n".join(lines)
    return change


@contextlib.contextmanager
def planted(copy, path, change):
    """Writes change(text), the file with the fault, over one file of the
    copy, yields it, and gives the file back as it was afterwards."""
    target = os.path.join(copy, path)
    with open(target, encoding="utf-8") as source:
        original = source.read()
    text = change(original)
    with open(target, "w", encoding="utf-8") as source:
        source.write(text)
    try:
        yield text
    finally:
        with open(target, "w", encoding="utf-8") as source:
            source.write(original)


def hand_written(root, copy, build, log, only):
    results = []
    for number, (path, before, after, what) in enumerate(MUTANTS, 1):
        if only is not None and number not in only:
            continue
        with planted(copy, path, lambda text, b=before, a=after: text.replace(b, a, 1)):
            verdict = judge(copy, build, path, log) or "caught by the compiler"
        results.append(verdict)
        print(f"{number:3} {path}: {what}: {verdict}", flush=True)
    return results


def verdict_of(copy, build, path, number, text, log, phases=None):
    """The verdict on line `number` of `path` replaced by `text`; None when
    the copy does not build (or the script does not parse) with it."""
    with planted(copy, path, line_replaced(number, text)) as changed:
        return judge(copy, build, path, log, phases) if well_formed(path, changed) else None


def generated(root, copy, build, log, seed, count, listing):
    """The first count faults of the seed's order that build (or parse)."""
    results = []
    skipped = 0
    for path, number, before, after, what in operators.sample(root, seed):
        if len(results) == count:
            break
        diff = f"    --- {path}:{number}\n    -{before}\n    +{after}"
        if listing:
            results.append("listed")
            print(f"{len(results):3} {path}:{number}: {what}\n{diff}")
            continue

        verdict = verdict_of(copy, build, path, number, after, log)
        if verdict is None:
            skipped += 1
            print(f"    skipped, does not build: {path}:{number}: {what}", flush=True)
            continue
        results.append(verdict)
        print(f"{len(results):3} {path}:{number}: {what}: {verdict}", flush=True)
        if verdict.startswith("MISSED"):
            print(diff, flush=True)
    if skipped:
        print(f"{skipped} faults did not build and were skipped")
    return results


def diff_faults(root, copy, build, log, revision, seed, count, listing, only=None):
    """One fault per line written since `revision` (or `count` of the
    lines), each judged by the tests that can see its file; with `only`,
    just the faults of those numbers in the list."""
    lines = operators.changed_sites(root, revision, seed)
    written = "written by" if ".." in revision or "," in revision else "since"
    print(f"{len(lines)} changed lines with faults to plant {written} {revision}"
          + (f"; {count} of them (seed {seed})" if count is not None and count < len(lines) else ""), flush=True)
    results = []
    skipped = 0
    phases = {}
    position = 0
    for choices in lines:
        if count is not None and position == count:
            break
        position += 1
        for path, number, before, after, what in choices:
            diff = f"    --- {path}:{number}\n    -{before}\n    +{after}"
            if only is not None and position not in only and not listing:
                print(f"{position:3} {path}:{number}: {what}: left out (--only)", flush=True)
                break
            if listing:
                verdict = "listed"
            else:
                if path not in phases:
                    phases[path] = phases_for(root, path)
                verdict = verdict_of(copy, build, path, number, after, log, phases[path])
            if verdict is None:
                skipped += 1
                print(f"    skipped, does not build: {path}:{number}: {what}", flush=True)
                continue
            results.append(verdict)
            print(f"{position:3} {path}:{number}: {what}: {verdict}\n{diff}", flush=True)
            break
    if skipped:
        print(f"{skipped} faults did not build and gave way to another of their line")
    return results


def catcher(verdict):
    """The test a verdict names as the one that caught its fault, if any."""
    found = re.match(r"caught by (\S+) \(", verdict)
    return found.group(1) if found else None


def main():
    arguments = sys.argv[1:]

    def value(flag):
        return arguments[arguments.index(flag) + 1] if flag in arguments else None
    root = os.path.abspath(value("--root") or os.path.dirname(os.path.dirname(os.path.dirname(
        os.path.abspath(__file__)))))
    only = {int(n) for n in value("--only").split(",")} if value("--only") else None
    seed = value("--seed")
    revision = value("--diff")
    count = int(value("--count") or 60)
    if revision is not None:
        seed = int(seed or 0)
        count = int(value("--count")) if value("--count") else None
    problems = []
    for number, (path, before, after, _) in enumerate(MUTANTS if revision is None and seed is None else [], 1):
        with open(os.path.join(root, path), encoding="utf-8") as source:
            found = source.read().count(before)
        if found != 1:
            problems.append(f"fault {number} ({path}): the text stands there {found} times, not once")
    if problems:
        print("\n".join(problems))
        return 2
    if "--list" in arguments and revision is not None:
        diff_faults(root, None, None, None, revision, seed, count, True)
        return 0
    if "--list" in arguments and seed is not None:
        generated(root, None, None, None, int(seed), count, True)
        return 0
    if "--list" in arguments:
        for number, (path, _, _, what) in enumerate(MUTANTS, 1):
            print(f"{number:3} {path}: {what}")
        return 0

    scratch = tempfile.mkdtemp(prefix="installer-mutants.")
    copy = os.path.join(scratch, "src-copy")
    copy_sources(root, copy)
    build = os.path.join(copy, "build")
    log_path = os.path.join(scratch, "mutants.log")
    with open(log_path, "w", encoding="utf-8") as log:
        if run(["cmake", "-S", copy, "-B", build, "-G", "Ninja"], copy, log) != 0 or \
                run(["cmake", "--build", build], copy, log) != 0:
            print(f"the unchanged copy does not build; see {log_path}")
            return 1
        if revision is not None:
            results = diff_faults(root, copy, build, log, revision, seed, count, False, only)
        elif seed is None:
            results = hand_written(root, copy, build, log, only)
        else:
            print(f"seed {seed}: {count} generated faults")
            results = generated(root, copy, build, log, int(seed), count, False)
        run(["cmake", "--build", build], copy, log)
        # A test that fails without any fault catches nothing: what it
        # "caught" is not judged.
        broken = set()
        for test in sorted({catcher(v) for v in results} - {None}):
            again = subprocess.run(["ctest", "--test-dir", build, "--timeout", "300", "-R", f"^{re.escape(test)}$"],
                                   cwd=copy, capture_output=True, text=True, errors="replace")
            if again.returncode != 0:
                broken.add(test)
        if broken:
            print(f"not judged: what these tests caught, as they fail without any fault: {', '.join(sorted(broken))}")
        results = [v for v in results if catcher(v) not in broken]
    caught = sum(not v.startswith("MISSED") for v in results)
    print(f"score: {caught} of {len(results)} faults caught ({100.0 * caught / max(1, len(results)):.0f}%)")
    shutil.rmtree(scratch, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
