// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// Header, agreement and finish screens in a real terminal.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/screen_run.h"

TEST(Header, TitleOnTopAndHelpLineAtTheBottom)
{
    for (int rows : {24, 43}) {
        ScreenRun run(132, rows);
        run.start({"header", "The Header Text"});
        ASSERT_TRUE(run.term.wait_for("Header shown"));
        auto lines = run.term.rows();
        EXPECT_EQ(lines[0].rfind("The Header Text", 0), 0u);
        EXPECT_NE(lines[static_cast<std::size_t>(rows - 1)].find("  <Tab> to switch between elements  |  <Space> to select"),
                  std::string::npos);
        run.term.press("Enter");
        EXPECT_EQ(run.finish(), "RESULT=0\n");
    }
}

TEST(Agreement, DeclineHasTheFocusAndHotKeysAccept)
{
    TempDir dir;
    // Written on Windows: CR LF ends its lines as a line feed does.
    write_file(dir / "LICENSE", "First line of the licence.\r\nSecond line.\r\n");
    ScreenRun run;
    run.start({"scrAgreement", "License Agreement", "0", dir / "LICENSE", "0"});
    ASSERT_TRUE(run.term.wait_for("First line of the licence."));
    EXPECT_EQ(run.term.screen().find("^M"), std::string::npos) << run.term.screen();
    EXPECT_EQ(run.term.find("Second line.").first, run.term.find("First line of the licence.").first + 1)
        << run.term.screen();
    EXPECT_TRUE(run.term.cursor_on(" Decline "));
    EXPECT_NE(run.term.screen().find(" Accept "), std::string::npos);
    run.term.press("Enter");
    EXPECT_EQ(run.finish(), "RESULT=0\n");
    // A licence that begins with an empty line shows it: the box starts at
    // the file's first line (below the window's title and a blank row),
    // whether or not it scrolls.
    write_file(dir / "BLANK", "\nAfter a blank line.\n" + std::string(100, '\n') + "The end.\n");
    ScreenRun blank;
    blank.start({"scrAgreement", "License Agreement", "0", dir / "BLANK", "0"});
    ASSERT_TRUE(blank.term.wait_for("After a blank line."));
    EXPECT_EQ(blank.term.find("After a blank line.").first, blank.term.find("License Agreement").first + 3)
        << blank.term.screen();
    blank.term.press("Enter");
    EXPECT_EQ(blank.finish(), "RESULT=0\n");
    for (const char *key : {"Escape", "F12"}) {
        ScreenRun again;
        again.start({"scrAgreement", "License Agreement", "0", dir / "LICENSE", "0"});
        ASSERT_TRUE(again.term.wait_for("Second line."));
        again.term.press(key);
        EXPECT_EQ(again.finish(), "RESULT=1\n") << key;
    }
    // Whatever the file holds is shown as safely as the back end's text:
    // controls, C1, bidirectional overrides, zero-width characters and
    // line separators never reach the terminal, tabs stop every 8 columns,
    // and every row of the frame keeps its right border in one column.
    write_file(dir / "HOSTILE", "Column\tA\tB\nBell\a Back\b Del\x7f C1\xc2\x85 end\n"
                                "\xe2\x80\xaeRLO\xe2\x80\x8bZW\xe2\x80\xa8LS\xe2\x81\xa6 end\n");
    ScreenRun hostile;
    hostile.start({"scrAgreement", "License Agreement", "0", dir / "HOSTILE", "0"});
    ASSERT_TRUE(hostile.term.wait_for("Column"));
    const std::string shown = hostile.term.screen();
    EXPECT_NE(shown.find("Column  A       B"), std::string::npos) << shown;
    for (const char *raw : {"^G", "^H", "^?", "<85>", "\x07", "\x08", "\x7f", "\xc2\x85", "\xe2\x80\xae", "\xe2\x80\x8b",
                            "\xe2\x80\xa8", "\xe2\x81\xa6"})
        EXPECT_EQ(shown.find(raw), std::string::npos) << testing::PrintToString(std::string(raw)) << shown;
    auto border_column = [&](const std::string &text) {
        const std::string row = hostile.term.rows()[static_cast<std::size_t>(hostile.term.find(text).first)];
        const std::string before = row.substr(0, row.rfind("\xe2\x94\x82"));
        return std::count_if(before.begin(), before.end(), [](char c) { return (c & 0xC0) != 0x80; });
    };
    EXPECT_EQ(border_column("Bell"), border_column("Column")) << shown;
    EXPECT_EQ(border_column("RLO"), border_column("Column")) << shown;
    hostile.term.press("Enter");
    EXPECT_EQ(hostile.finish(), "RESULT=0\n");
    ScreenRun accept_first;
    accept_first.start({"scrAgreement", "Other agreement", "1", dir / "LICENSE", "1"});
    ASSERT_TRUE(accept_first.term.wait_for(" Disagree "));
    EXPECT_TRUE(accept_first.term.cursor_on(" Agree "));
    accept_first.term.press("Enter");
    EXPECT_EQ(accept_first.finish(), "RESULT=1\n");
}

TEST(Agreement, BoxIsAtMost64WideAndTakesEveryRowTheWindowMay)
{
    TempDir dir;
    std::string text;
    for (int i = 1; i <= 40; ++i)
        text += "Row" + std::to_string(i) + " " + std::string(70, 'w') + "\n";
    write_file(dir / "LICENSE", text);
    for (int cols : {80, 132}) {
        ScreenRun run(cols, 24);
        run.start({"scrAgreement", "License Agreement", "0", dir / "LICENSE", "0"});
        ASSERT_TRUE(run.term.wait_for("Row1 "));
        // 12 rows of at most 64 columns (all the screen leaves beside the
        // header, the help line, the frame and the buttons): each "RowN
        // word" block takes three rows, so Row4 ends the twelfth row and
        // Row5 is not shown.
        EXPECT_NE(run.term.screen().find("Row4"), std::string::npos) << cols;
        EXPECT_EQ(run.term.screen().find("Row5"), std::string::npos) << cols;
        EXPECT_NE(run.term.screen().find(std::string(64, 'w')), std::string::npos) << cols;
        EXPECT_EQ(run.term.screen().find(std::string(65, 'w')), std::string::npos) << cols;
        auto row1 = run.term.find("Row1");
        auto bottom = run.term.find(" Decline ");
        EXPECT_EQ(bottom.first - row1.first, 12 + 2) << cols;
        // The text is taller than the box: newt's scroll bar stands in the
        // box's last column, from its first row to its last.
        EXPECT_EQ(run.term.find("\xe2\x86\x91"), std::make_pair(row1.first, row1.second + 65)) << run.term.screen();
        EXPECT_EQ(run.term.find("\xe2\x86\x93"), std::make_pair(row1.first + 11, row1.second + 65)) << run.term.screen();
        run.term.press("Escape");
        EXPECT_EQ(run.finish(), "RESULT=1\n");
    }
    // At the smallest size the wizard takes (70x16) the text still gets
    // every row the window may take, four, and the scroll bar with them;
    // no screen row stays empty.
    ScreenRun low(70, 16);
    low.start({"scrAgreement", "License Agreement", "0", dir / "LICENSE", "0"});
    ASSERT_TRUE(low.term.wait_for("Row1 "));
    auto first = low.term.find("Row1");
    EXPECT_EQ(low.term.find("\xe2\x86\x91"), std::make_pair(first.first, first.second + 65)) << low.term.screen();
    EXPECT_EQ(low.term.find("\xe2\x86\x93"), std::make_pair(first.first + 3, first.second + 65)) << low.term.screen();
    EXPECT_EQ(low.term.find(" Decline ").first, first.first + 3 + 3) << low.term.screen();
    low.term.press("Escape");
    EXPECT_EQ(low.finish(), "RESULT=1\n");
    // At the end of the text, the thumb stands on the row just above the
    // down arrow, whatever the text's length and the box's height.
    for (int lines : {14, 40, 200}) {
        std::string numbered;
        for (int i = 1; i <= lines; ++i)
            numbered += "Line " + std::to_string(i) + "\n";
        write_file(dir / "LONG", numbered);
        for (int rows : {24, 20, 17}) {
            SCOPED_TRACE(std::to_string(lines) + " lines, " + std::to_string(rows) + " rows");
            ScreenRun at_end(80, rows);
            at_end.start({"scrAgreement", "License Agreement", "0", dir / "LONG", "0"});
            ASSERT_TRUE(at_end.term.wait_for("Line 1 "));
            at_end.term.press("End");
            ASSERT_TRUE(at_end.term.wait_for("Line " + std::to_string(lines) + " ")) << at_end.term.screen();
            const auto down = at_end.term.find("\xe2\x86\x93");
            ASSERT_GE(down.first, 0) << at_end.term.screen();
            EXPECT_EQ(at_end.term.find("\xe2\x96\xae"), std::make_pair(down.first - 1, down.second))
                << at_end.term.screen();
            at_end.term.press("Escape");
            EXPECT_EQ(at_end.finish(), "RESULT=1\n");
        }
    }
    // A text that fits has no scroll bar, nor any piece of one.
    write_file(dir / "LICENSE", "A short licence.\nIt fits.\n");
    ScreenRun fits(132, 43);
    fits.start({"scrAgreement", "License Agreement", "0", dir / "LICENSE", "0"});
    ASSERT_TRUE(fits.term.wait_for("It fits."));
    for (const char *piece : {"\xe2\x86\x91", "\xe2\x86\x93", "\xe2\x96\x92"})
        EXPECT_EQ(fits.term.find(piece).first, -1) << fits.term.screen();
    fits.term.press("Escape");
    EXPECT_EQ(fits.finish(), "RESULT=1\n");
}

TEST(Agreement, PageDownScrollsAndLongFilesAreShownWhole)
{
    TempDir dir;
    std::string text;
    int line = 0;
    while (text.size() < 100000)
        text += "licence line " + std::to_string(++line) + "\n";
    write_file(dir / "LICENSE", text);

    ScreenRun run(80, 24);
    run.start({"scrAgreement", "License Agreement", "0", dir / "LICENSE", "0"});
    ASSERT_TRUE(run.term.wait_for("licence line 1 "));
    run.term.press("Tab");  // the focus goes round to the text box
    // Page Down moves by the box's height (12 rows at 80x24): line 13 is
    // on top.
    run.term.press("NPage");
    ASSERT_TRUE(run.term.wait_for("licence line 24 "));
    EXPECT_EQ(run.term.screen().find("licence line 12 "), std::string::npos) << run.term.screen();
    EXPECT_NE(run.term.screen().find("licence line 13 "), std::string::npos) << run.term.screen();
    // A resize keeps the text where it was.
    run.term.resize(100, 30);
    ASSERT_TRUE(run.term.wait_for("licence line 30 "));
    EXPECT_NE(run.term.screen().find("licence line 13 "), std::string::npos) << run.term.screen();
    EXPECT_EQ(run.term.screen().find("licence line 12 "), std::string::npos) << run.term.screen();
    run.term.press("NPage", 500);
    ASSERT_TRUE(run.term.wait_for("licence line " + std::to_string(line) + " "));
    run.term.press("Escape");
    EXPECT_EQ(run.finish(), "RESULT=1\n");

    // Licences of any length are read to their last line: one of 73 KB
    // (whose clause 89 the box once cut mid-word), one of 2.6 MB.
    for (std::size_t size : {73783u, 2600000u}) {
        SCOPED_TRACE(size);
        std::string clauses;
        int clause = 0;
        while (clauses.size() < size)
            clauses += "Clause " + std::to_string(++clause) + ". The licensee shall read every clause of this licence.\n";
        write_file(dir / "LONG", clauses + "The last line of the licence.\n");
        ScreenRun whole(80, 24);
        whole.start({"scrAgreement", "License Agreement", "0", dir / "LONG", "0"});
        ASSERT_TRUE(whole.term.wait_for("Clause 1. "));
        whole.term.press("End");
        ASSERT_TRUE(whole.term.wait_for("The last line of the licence.")) << whole.term.screen();
        EXPECT_NE(whole.term.screen().find("Clause " + std::to_string(clause) + ". "), std::string::npos)
            << whole.term.screen();
        whole.term.press("Escape");
        EXPECT_EQ(whole.finish(), "RESULT=1\n");
    }
}

TEST(Agreement, TinyTerminalDoesNotCrash)
{
    TempDir dir;
    write_file(dir / "LICENSE", "Tiny terminal licence.\n");
    ScreenRun run(80, 14);
    run.start({"scrAgreement", "License Agreement", "0", dir / "LICENSE", "0"});
    ASSERT_TRUE(run.term.wait_for("Tiny terminal licence."));
    run.term.press("Enter");
    EXPECT_EQ(run.finish(), "RESULT=0\n");
}

TEST(Agreement, MissingFileEndsTheRun)
{
    ScreenRun run;
    run.start({"scrAgreement", "License Agreement", "0", "/no/such/LICENSE", "0"});
    ASSERT_TRUE(run.term.wait_for("Could not read /no/such/LICENSE: No such file or directory"));
    run.term.press("Enter");
    run.finish();
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.term.left_usable());
}

TEST(Finished, ExitAloneOrWithReboot)
{
    ScreenRun exit_only;
    exit_only.start({"scrFinished", "Done Title", "All finished.", "0", "1"});
    ASSERT_TRUE(exit_only.term.wait_for("All finished."));
    EXPECT_EQ(exit_only.term.screen().find("Reboot"), std::string::npos);
    EXPECT_TRUE(exit_only.term.cursor_on(" Exit "));
    exit_only.term.press("Enter");
    EXPECT_EQ(exit_only.finish(), "RESULT=0\n");

    ScreenRun reboot;
    reboot.start({"scrFinished", "Done Title", "All finished.", "1", "1"});
    ASSERT_TRUE(reboot.term.wait_for("Reboot"));
    EXPECT_TRUE(reboot.term.cursor_on("Reboot"));
    reboot.term.press("Enter");
    EXPECT_EQ(reboot.finish(), "RESULT=1\n");

    for (const char *key : {"Escape", "F12"}) {
        ScreenRun run;
        run.start({"scrFinished", "Done Title", "All finished.", "1", "1"});
        ASSERT_TRUE(run.term.wait_for("Reboot"));
        run.term.press(key);
        EXPECT_EQ(run.finish(), "RESULT=0\n");
    }
    ProcessResult text = run_process({SCREEN_DRIVER, "--text", "scrFinished", "T", "Final words.", "1", "1"});
    EXPECT_EQ(text.out, "Final words.\nRESULT=0\n");

    // At the smallest size, the finish texts' empty last lines are spacing
    // that goes: no scroll bar for them, with or without the check box.
    const std::string done = "Congratulations!\n\nYou have successfully completed installing Tessaro Virtualization SDK.\n\n";
    const std::string removed = "Congratulations!\n\nYou have successfully removed Tessaro Virtualization SDK.\n\n";
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"scrFinished", "Done Title", done, "1", "1"},
          std::vector<std::string>{"scrFinishedWithCheckBox", "Removed", removed, "Also remove settings", "1", "1", "1"}}) {
        SCOPED_TRACE(args[0]);
        ScreenRun low(70, 16);
        low.start(args);
        ASSERT_TRUE(low.term.wait_for("Reboot"));
        ASSERT_TRUE(low.term.wait_for("You have successfully")) << low.term.screen();
        for (const char *piece : {"\xe2\x86\x91", "\xe2\x86\x93", "\xe2\x86\x95"})
            EXPECT_EQ(low.term.find(piece).first, -1) << low.term.screen();
        low.term.press("Escape");
        low.finish();
    }
}

TEST(Finished, CheckBoxStateIsWrittenBack)
{
    ScreenRun run;
    run.start({"scrFinishedWithCheckBox", "Removed", "The product is gone.", "Also remove settings", "1", "0", "0"});
    ASSERT_TRUE(run.term.wait_for("[*] Also remove settings"));
    run.term.press("Tab");  // the focus starts on " Exit "; Tab goes round to the box
    run.term.press("Space");
    ASSERT_TRUE(run.term.wait_for("[ ] Also remove settings"));
    run.term.press("Tab");
    run.term.press("Enter");
    EXPECT_EQ(run.finish(), "RESULT=0\nCHECKBOX=0\n");

    ProcessResult text = run_process({SCREEN_DRIVER, "--text", "scrFinishedWithCheckBox", "T", "Gone.", "Box", "1", "0", "0"});
    EXPECT_EQ(text.out, "Gone.\nRESULT=0\nCHECKBOX=1\n");
}
