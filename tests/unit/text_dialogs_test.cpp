// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "dialogs/text_dialogs.h"

#include <gtest/gtest.h>

#include "support/process.h"

TEST(PasswordFilter, MasksPrintableKeysWithinTheBuffer)
{
    char buffer[32] = {};
    EXPECT_EQ(passwdfilter(nullptr, buffer, 'x', 0), '*');
    EXPECT_EQ(passwdfilter(nullptr, buffer, '~', 30), '*');
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(buffer[30], '~');
    EXPECT_EQ(passwdfilter(nullptr, buffer, 'y', 31), 'y');
    EXPECT_EQ(passwdfilter(nullptr, buffer, '\t', 1), '\t');
    EXPECT_EQ(passwdfilter(nullptr, buffer, 127, 1), 127);
    EXPECT_EQ(passwdfilter(nullptr, buffer, 'z', -1), 'z');
    EXPECT_EQ(buffer[1], '\0');
}

TEST(ReportLayout, EveryLineEndBecomesBlankAndLineEnd)
{
    // Each line feed followed by another turns into a blank.
    EXPECT_EQ(layout_report_text("a\n\n\n"), "a  \n");
    // Without the screen the report is written as laid out, and the
    // dependency dialog answers 0 without touching *retry.
    TempDir dir;
    write_file(dir / "report", "  x\ny\n");
    ProcessResult layout = run_process({SCREEN_DRIVER, "--text", "layoutTextFromFile", dir / "report"});
    EXPECT_EQ(layout.out, "x \ny \nRESULT=0\n");
    ProcessResult dep = run_process({SCREEN_DRIVER, "--text", "depDialog", dir / "report"});
    EXPECT_EQ(dep.out, "x \ny \nRESULT=0\nRETRY=-7\n");
}

TEST(MissedPackages, TextModeListsThemOnStandardError)
{
    ProcessResult r = run_process({SCREEN_DRIVER, "--text", "missedPackages", "libfoo", "libbar"});
    EXPECT_EQ(r.err, "missedPackages[0]:libfoo\nmissedPackages[1]:libbar\n");
}

TEST(ReadStdin, OneLineWithoutItsEndAndEmptyAtEndOfInput)
{
    ProcessResult r = run_process({SCREEN_DRIVER, "--text", "read_stdin", "Name? "}, "", {}, "abc\nnext\n");
    EXPECT_EQ(r.out, "Name? RESULT=0\nLINE=[abc]\n");
    ProcessResult empty = run_process({SCREEN_DRIVER, "--text", "read_stdin", "Name? "});
    EXPECT_EQ(empty.out, "Name? RESULT=0\nLINE=[]\n");
    std::string long_line(5000, 'q');
    ProcessResult cut = run_process({SCREEN_DRIVER, "--text", "read_stdin", ""}, "", {}, long_line + "\n");
    EXPECT_EQ(cut.out, "RESULT=0\nLINE=[" + std::string(4094, 'q') + "]\n");
}
