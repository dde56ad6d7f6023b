// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// The dialog core in a real terminal: what is drawn, where the focus
// starts and what every key returns.
#include <gtest/gtest.h>

#include "support/screen_run.h"

TEST(BaseDialog, OneButtonAlwaysAnswersZero)
{
    for (const char *key : {"Enter", "Escape", "F12"}) {
        ScreenRun run;
        run.start({"baseDialog", "Caption", "Text above", "Text below", " Only "});
        ASSERT_TRUE(run.term.wait_for("Text below"));
        EXPECT_TRUE(run.term.cursor_on(" Only "));
        auto above = run.term.find("Text above");
        auto below = run.term.find("Text below");
        EXPECT_EQ(below.first, above.first + 2);
        EXPECT_NE(run.term.screen().find("Caption"), std::string::npos);
        run.term.press(key);
        EXPECT_EQ(run.finish(), "RESULT=0\n") << key;
        EXPECT_EQ(run.status, 0);
    }
}

TEST(BaseDialog, SecondButtonAnswersOneAndHotKeysCountAsFirst)
{
    struct Case {
        std::vector<std::string> keys;
        const char *result;
    } cases[] = {{{"Enter"}, "RESULT=1\n"}, {{"Tab", "Enter"}, "RESULT=0\n"}, {{"Escape"}, "RESULT=0\n"},
                 {{"F12"}, "RESULT=0\n"}};
    for (const Case &c : cases) {
        ScreenRun run;
        run.start({"baseDialogWidget", "Two", "Question?", "-", "First", "Second", "1"});
        ASSERT_TRUE(run.term.wait_for("WIDGET-IN-THE-MIDDLE"));
        EXPECT_TRUE(run.term.cursor_on("Second"));
        for (const std::string &key : c.keys)
            run.term.press(key);
        EXPECT_EQ(run.finish(), c.result);
    }
}

TEST(CancelConfirmation, NoIsTheDefaultAndHotKeysConfirm)
{
    struct Case {
        std::vector<std::string> keys;
        const char *result;
    } cases[] = {{{"Enter"}, "RESULT=0\n"},
                 {{"Tab", "Enter"}, "RESULT=1\n"},
                 {{"Escape"}, "RESULT=1\n"},
                 {{"F12"}, "RESULT=1\n"}};
    for (const Case &c : cases) {
        ScreenRun run;
        run.start({"Cancel"});
        ASSERT_TRUE(run.term.wait_for("      Are you sure you want to cancel?"));
        EXPECT_NE(run.term.screen().find("Warning"), std::string::npos);
        EXPECT_TRUE(run.term.cursor_on(" No "));
        EXPECT_NE(run.term.screen().find(" Yes "), std::string::npos);
        for (const std::string &key : c.keys)
            run.term.press(key);
        EXPECT_EQ(run.finish(), c.result);
    }
}

TEST(MessageBoxes, TallTextsScrollInSixRows)
{
    std::string seven;
    for (int i = 1; i <= 7; ++i)
        seven += "Line" + std::to_string(i) + "\n";
    ScreenRun run;
    run.start({"show_message", seven, "Ok"});
    ASSERT_TRUE(run.term.wait_for("Line1"));
    EXPECT_NE(run.term.screen().find("Line6"), std::string::npos);
    EXPECT_EQ(run.term.screen().find("Line7"), std::string::npos);
    EXPECT_NE(run.term.screen().find("Message"), std::string::npos);
    run.term.press("Enter");
    EXPECT_EQ(run.finish(), "RESULT=0\n");
    // On the smallest terminals the box gives up rows, never the header or
    // the help line.
    for (int rows : {16, 15, 14}) {
        ScreenRun small(80, rows);
        small.start({"show_message", seven, "Ok"});
        ASSERT_TRUE(small.term.wait_for("Line1")) << rows;
        EXPECT_TRUE(small.term.cursor_on(" Ok ")) << rows;
        expect_between_header_and_help_line(small.term, rows);
        small.term.press("Enter");
        EXPECT_EQ(small.finish(), "RESULT=0\n") << rows;
    }

    ScreenRun six;
    six.start({"show_message2", "L1\nL2\nL3\nL4\nL5\nL6", "Close", "Own title"});
    ASSERT_TRUE(six.term.wait_for("L6"));
    EXPECT_NE(six.term.screen().find("Own title"), std::string::npos);
    auto first = six.term.find("L1");
    auto button = six.term.find("Close");
    EXPECT_EQ(button.first, first.first + 6 + 2);  // six rows, a blank row, the button's top edge
    six.term.press("Enter");
    EXPECT_EQ(six.finish(), "RESULT=0\n");

    // A tall text of long paragraphs is wrapped once, from the text as it
    // was, at the scrolling box's width: no row of a paragraph holds only
    // the word or two that a second wrap of its wrapped lines would break off.
    std::string paragraphs;
    for (int p = 0; p < 4; ++p) {
        for (int w = 0; w < 30; ++w)
            paragraphs += "word ";
        paragraphs += "\n";
    }
    ScreenRun tall;
    tall.start({"show_message", paragraphs, "Ok"});
    ASSERT_TRUE(tall.term.wait_for("word"));
    int rows_with_words = 0;
    for (const std::string &row : tall.term.rows()) {
        int words = 0;
        for (std::size_t at = row.find("word"); at != std::string::npos; at = row.find("word", at + 1))
            ++words;
        if (words == 0)
            continue;
        ++rows_with_words;
        EXPECT_GE(words, 5) << tall.term.screen();
    }
    EXPECT_EQ(rows_with_words, 6) << tall.term.screen();
    tall.term.press("Enter");
    EXPECT_EQ(tall.finish(), "RESULT=0\n");
}

TEST(MessageBoxes, ShortMessageBoxIsOneRowTaller)
{
    ScreenRun run;
    run.start({"show_strmessage", "Ten chars!", "Ok"});
    ASSERT_TRUE(run.term.wait_for("Ten chars!"));
    auto text = run.term.find("Ten chars!");
    auto button = run.term.find(" Ok ");
    EXPECT_EQ(button.first, text.first + 2 + 2);
    run.term.press("Enter");
    EXPECT_EQ(run.finish(), "RESULT=0\n");
}

TEST(ErrorDialog, ShowsTheMessageThenExitsWithItsCode)
{
    // More than 1000 bytes, shown in full on a tall terminal.
    ScreenRun run(132, 43);
    std::string message = "Something failed badly:";
    for (int i = 0; i < 110; ++i)
        message += " failure" + std::to_string(i);
    message += " THE-END";
    ASSERT_GT(message.size(), 1000u);
    run.start({"Error", message});
    ASSERT_TRUE(run.term.wait_for("THE-END"));
    EXPECT_NE(run.term.screen().find("Something failed badly"), std::string::npos);
    EXPECT_TRUE(run.term.cursor_on(" Exit "));
    EXPECT_NE(run.term.screen().find("Error"), std::string::npos);
    run.term.press("Enter");
    EXPECT_EQ(run.finish(), "");
    EXPECT_EQ(run.status, 1);
    std::string log = run.log();
    EXPECT_NE(log.find(": Error: " + message + "\n"), std::string::npos);
    EXPECT_NE(log.find(": Exiting with code 1\n"), std::string::npos);
    EXPECT_TRUE(run.term.left_usable());
}

TEST(ErrorDialog, TallMessagesScrollWithTheButtonOnScreen)
{
    std::string message = "Installer cannot detect package manager on your system. Install the following packages "
                          "and rerun Tessaro SDK installation:";
    for (int i = 1; i <= 40; ++i)
        message += "\n- package-number-" + std::to_string(i);
    for (int rows : {24, 16, 15, 14}) {
        ScreenRun run(80, rows);
        run.start({"Error", message});
        ASSERT_TRUE(run.term.wait_for("Installer cannot detect package manager")) << rows;
        EXPECT_GE(run.term.find("Error").first, 1) << rows << run.term.screen();
        EXPECT_TRUE(run.term.cursor_on(" Exit ")) << rows << run.term.screen();
        EXPECT_LT(run.term.find("\xe2\x94\x94", true).first, rows - 1) << rows << run.term.screen();
        expect_between_header_and_help_line(run.term, rows);
        run.term.press("Enter");
        EXPECT_EQ(run.finish(), "") << rows;
        EXPECT_EQ(run.status, 1) << rows;
    }
}

TEST(ErrorDialog, WithoutTheScreenGoesToStandardError)
{
    TempDir dir;
    ProcessResult r = run_process({SCREEN_DRIVER, "--text", "Error", "Plain %s failure"}, "",
                                  {"SCREEN_DRIVER_LOG=" + dir / "log"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Plain %s failure\n");
    std::string log = read_file(dir / "log");
    EXPECT_NE(log.find(": Error: Plain %s failure\n"), std::string::npos);
    EXPECT_NE(log.find(": Exiting with code 1\n"), std::string::npos);
}
