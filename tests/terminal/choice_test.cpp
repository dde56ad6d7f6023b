// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// The question and selection screens in a real terminal.
#include <gtest/gtest.h>

#include "core/text.h"
#include "support/screen_run.h"

namespace {

struct KeyCase {
    std::vector<std::string> keys;
    const char *result;
};

void run_keys(const std::vector<std::string> &args, const char *ready, const KeyCase &c, int cols = 80)
{
    ScreenRun run(cols, 24);
    run.start(args);
    ASSERT_TRUE(run.term.wait_for(ready)) << args[0];
    for (const std::string &key : c.keys) {
        run.term.press(key);
        if (key == "Enter" && &key != &c.keys.back()) {
            // A second screen (the confirmation) comes up after an Enter.
            ASSERT_TRUE(run.term.wait_for("Are you sure")) << args[0];
        }
    }
    EXPECT_EQ(run.finish(), c.result) << args[0] << " " << c.keys.size();
}

} // namespace

TEST(ScrChoise, NextIsTheDefaultAndCancelIsConfirmed)
{
    ScreenRun run;
    run.start({"scrChoise", "Question Title", "Shall we go on with this?", "1", "0"});
    ASSERT_TRUE(run.term.wait_for("Shall we go on with this?"));
    EXPECT_TRUE(run.term.cursor_on("Next >"));
    EXPECT_NE(run.term.screen().find("Question Title"), std::string::npos);
    run.term.press("Enter");
    EXPECT_EQ(run.finish(), "RESULT=1\n");

    const KeyCase cases[] = {
        {{"Escape"}, "RESULT=1\n"},
        {{"F12"}, "RESULT=1\n"},
        {{"Tab", "Enter", "Tab", "Enter"}, "RESULT=0\n"},   // Cancel, " Yes "
        {{"Tab", "Enter", "Escape"}, "RESULT=0\n"},         // Cancel, Escape confirms
        {{"Tab", "Enter", "F12"}, "RESULT=0\n"},            // Cancel, F12 confirms
    };
    for (const KeyCase &c : cases)
        run_keys({"scrChoise", "T", "Question text", "1", "0"}, "Question text", c);
}

// A question taller than the screen: its list scrolls, while the title,
// the question's last line and both buttons stay on screen, and the keys
// answer as before. A title wider than the screen is cut inside the frame.
TEST(ScrChoise, TallQuestionsAndLongTitlesFitTheScreen)
{
    std::string text = "You need to install the following components before you can proceed:\n";
    for (int i = 1; i <= 40; ++i)
        text += "- package-number-" + std::to_string(i) + "\n";
    text += "Do you want to install them now?";
    // Every height from below the minimum up; both answers on a few.
    for (int rows = 14; rows <= 26; ++rows) {
        for (const char *answer : {"Next", "Cancel"}) {
            if (std::string(answer) == "Cancel" && rows != 14 && rows != 16 && rows != 24)
                continue;
            ScreenRun run(80, rows);
            run.start({"scrChoise", "Component Installation", text, "1", "0"});
            ASSERT_TRUE(run.term.wait_for("Do you want to install them now?")) << rows;
            auto title = run.term.find("Component Installation");
            auto next = run.term.find("Next >");
            EXPECT_GE(title.first, 1) << rows << run.term.screen();
            EXPECT_GE(next.first, 0) << rows << run.term.screen();
            EXPECT_GE(run.term.find("Cancel").first, 0) << rows;
            EXPECT_LT(run.term.find("\xe2\x94\x94").first, rows - 1) << rows << run.term.screen();  // bottom frame
            expect_between_header_and_help_line(run.term, rows);
            EXPECT_TRUE(run.term.cursor_on("Next >")) << rows;
            // The list scrolls, and its scroll bar says so.
            auto up = run.term.find("\xe2\x86\x91");
            EXPECT_GT(up.first, title.first) << rows << run.term.screen();
            if (rows == 24) {
                EXPECT_EQ(run.term.find("\xe2\x86\x93").second, up.second) << rows;
            }
            run.term.press("NPage");
            ASSERT_TRUE(run.term.wait_gone("- package-number-1\n")) << rows << run.term.screen();
            if (std::string(answer) == "Next") {
                run.term.press("Enter");
                EXPECT_EQ(run.finish(), "RESULT=1\n") << rows;
            } else {
                run.term.press("Tab");
                run.term.press("Enter");
                ASSERT_TRUE(run.term.wait_for("Are you sure you want to cancel?")) << rows;
                // The question under it, which takes every row it may, stays.
                if (rows >= 16) {
                    EXPECT_GE(run.term.find("Component Installation").first, 1) << rows << run.term.screen();
                }
                run.term.press("Tab");
                run.term.press("Enter");
                EXPECT_EQ(run.finish(), "RESULT=0\n") << rows;
            }
        }
    }

    // A selection whose question is taller than the screen keeps the
    // question, its list and its buttons inside the window, and the window
    // between the header and the help line, at every height from the
    // minimum up. (The wizard's own selections ask short questions; this
    // holds whatever their translations make of them.)
    for (int rows = 16; rows <= 26; ++rows) {
        ScreenRun run(80, rows);
        run.start({"scrSelectAction", "Action", text, "Upgrade", "1", "Remove", "2"});
        ASSERT_TRUE(run.term.wait_for("Next >")) << rows << run.term.screen();
        EXPECT_GE(run.term.find("You need to install").first, 1) << rows << run.term.screen();
        EXPECT_GE(run.term.find("Upgrade").first, 1) << rows << run.term.screen();
        EXPECT_GE(run.term.find("Remove").first, 1) << rows << run.term.screen();
        EXPECT_LT(run.term.find("\xe2\x94\x94").first, rows - 1) << rows << run.term.screen();
        expect_between_header_and_help_line(run.term, rows);
        run.term.press("Enter");
        EXPECT_EQ(run.finish(), "RESULT=1\n") << rows;
    }

    // Titles longer than the screen are cut by characters (never inside
    // one), and the window keeps both its top corners.
    for (const std::string letter : {"T", "\xc3\x9c", "\xe4\xb8\xad"}) {
        std::string long_title;
        for (int i = 0; i < 100; ++i)
            long_title += letter;
        ScreenRun titled(80, 14);
        titled.record = true;
        titled.start({"scrChoise", long_title, "Short question?", "1", "0"});
        ASSERT_TRUE(titled.term.wait_for("Short question?"));
        auto top = titled.term.find("\xe2\x94\x8c");  // the frame's top left corner
        ASSERT_GE(top.first, 0) << titled.term.screen();
        const std::string frame = titled.term.rows()[top.first];
        EXPECT_NE(frame.find("\xe2\x94\x90"), std::string::npos) << titled.term.screen();
        EXPECT_NE(frame.find(letter + letter + letter), std::string::npos) << frame;
        // Cut at 70 columns (the screen's width less 10): 70 letters, or 35
        // that take two columns each.
        const std::size_t kept = letter.size() == 3 ? 35 : 70;
        std::size_t count = 0;
        for (std::size_t at = frame.find(letter); at != std::string::npos; at = frame.find(letter, at + letter.size()))
            ++count;
        EXPECT_EQ(count, kept) << frame;
        EXPECT_EQ(frame.find("\xef\xbf\xbd"), std::string::npos) << frame;  // a replacement character
        expect_between_header_and_help_line(titled.term, 14);
        titled.term.press("Enter");
        EXPECT_EQ(titled.finish(), "RESULT=1\n");
        // Whatever a terminal shows for a broken sequence: none was written.
        const std::string bytes = titled.written();
        ASSERT_NE(bytes.find("Short question?"), std::string::npos);
        for (std::size_t i = 0; i < bytes.size();) {
            unsigned code = 0;
            const std::size_t length = static_cast<unsigned char>(bytes[i]) < 0x80
                                           ? 1
                                           : decode_utf8(std::string_view(bytes).substr(i), code);
            ASSERT_NE(length, 0u) << "a broken sequence at byte " << i;
            i += length;
        }
    }
}

TEST(ScrChoise, CancelFocusedTakesCancelAtOnce)
{
    ScreenRun run;
    run.start({"scrChoise", "T", "Question text", "0", "0"});
    ASSERT_TRUE(run.term.wait_for("Question text"));
    EXPECT_TRUE(run.term.cursor_on("Cancel"));
    run.term.press("Enter");
    EXPECT_EQ(run.finish(), "RESULT=0\n");
}

TEST(ScrChoise, NoAtTheConfirmationBringsTheSameScreenBack)
{
    ScreenRun run;
    run.start({"scrChoise", "T", "Question text", "1", "0"});
    ASSERT_TRUE(run.term.wait_for("Question text"));
    run.term.press("Tab");
    run.term.press("Enter");
    ASSERT_TRUE(run.term.wait_for("Are you sure you want to cancel?"));
    run.term.press("Enter");  // " No "
    ASSERT_TRUE(run.term.wait_gone("Are you sure you want to cancel?"));
    EXPECT_NE(run.term.screen().find("Question text"), std::string::npos);
    run.term.press("Tab");  // from Cancel back to "Next >"
    run.term.press("Enter");
    EXPECT_EQ(run.finish(), "RESULT=1\n");
}

TEST(ScrChoise, WithoutTheScreenAnswersAtOnce)
{
    ProcessResult quiet = run_process({SCREEN_DRIVER, "--text", "scrChoise", "T", "Printed text", "1", "0"});
    EXPECT_EQ(quiet.out, "RESULT=1\n");
    ProcessResult printed = run_process({SCREEN_DRIVER, "--text", "scrChoise", "T", "Printed text", "1", "1"});
    EXPECT_EQ(printed.out, "Printed text\nRESULT=1\n");
    for (const char *routine : {"scrChoiseRetry", "scrChoiseNextSkipCancel", "scrSelectAction",
                                "scrSelectComponents", "srcSelectInstType", "scrAgreement"}) {
        ProcessResult r = run_process({SCREEN_DRIVER, "--text", routine, "T", "text", "A", "1", "B", "2"});
        EXPECT_EQ(r.out, "RESULT=1\n") << routine;
    }
}

TEST(ScrChoiseRetry, RetryIsTheDefault)
{
    const KeyCase cases[] = {
        {{"Enter"}, "RESULT=1\n"},
        {{"Escape"}, "RESULT=1\n"},
        {{"F12"}, "RESULT=1\n"},
        {{"Tab", "Enter", "Tab", "Enter"}, "RESULT=0\n"},
    };
    ScreenRun run;
    run.start({"scrChoiseRetry", "Error", "Another package manager runs.", "1"});
    ASSERT_TRUE(run.term.wait_for("Another package manager runs."));
    EXPECT_TRUE(run.term.cursor_on("Retry"));
    run.term.press("Enter");
    EXPECT_EQ(run.finish(), "RESULT=1\n");
    for (const KeyCase &c : cases)
        run_keys({"scrChoiseRetry", "Error", "Busy text", "1"}, "Busy text", c);
}

TEST(ScrChoiseNextSkipCancel, ThreeAnswersWithoutConfirmation)
{
    const KeyCase cases[] = {
        {{"Enter"}, "RESULT=2\n"},
        {{"Escape"}, "RESULT=2\n"},
        {{"F12"}, "RESULT=2\n"},
        {{"Tab", "Enter"}, "RESULT=1\n"},
        {{"Tab", "Tab", "Enter"}, "RESULT=0\n"},
    };
    for (const KeyCase &c : cases)
        run_keys({"scrChoiseNextSkipCancel", "Conflict", "A conflicting product", "1"}, "A conflicting product", c);
}

TEST(ScrSelectAction, EnterOnTheListChoosesTheCurrentRow)
{
    ScreenRun run;
    run.start({"scrSelectAction", "Action", "Please select action to perform: ", "Upgrade", "1", "Remove", "2"});
    ASSERT_TRUE(run.term.wait_for("Remove"));
    EXPECT_TRUE(run.term.cursor_on("Upgrade"));
    run.term.press("Down");
    run.term.press("Enter");
    EXPECT_EQ(run.finish(), "RESULT=2\n");

    const KeyCase cases[] = {
        {{"Enter"}, "RESULT=1\n"},
        {{"Escape"}, "RESULT=1\n"},
        {{"F12"}, "RESULT=1\n"},
        {{"Down", "Tab", "Enter"}, "RESULT=2\n"},              // "Next >"
        {{"Tab", "Tab", "Enter", "Tab", "Enter"}, "RESULT=-1\n"},  // Cancel, " Yes "
    };
    for (const KeyCase &c : cases)
        run_keys({"scrSelectAction", "T", "Pick one: ", "Upgrade", "1", "Remove", "2"}, "Remove", c);
}

TEST(ScrSelectComponents, RadioButtonsAndCancelWithoutConfirmation)
{
    const KeyCase cases[] = {
        {{"Enter"}, "RESULT=1\n"},                               // focus on "Next >", first entry selected
        {{"Tab", "Enter"}, "RESULT=-1\n"},                       // Cancel, no confirmation
        {{"Tab", "Tab", "Down", "Space", "Tab", "Enter"}, "RESULT=0\n"},  // second option, then "Next >"
    };
    for (const KeyCase &c : cases)
        run_keys({"srcSelectInstType", "Installation type"}, "Advanced installation", c);
    ScreenRun run;
    run.start({"srcSelectInstType", "Installation type"});
    ASSERT_TRUE(run.term.wait_for("Express installation (use default settings)"));
    EXPECT_NE(run.term.screen().find("Please select the installation type: "), std::string::npos);
    EXPECT_NE(run.term.screen().find("(*) Express"), std::string::npos);
    EXPECT_TRUE(run.term.cursor_on("Next >"));
    run.term.press("Escape");
    EXPECT_EQ(run.finish(), "RESULT=1\n");

    // The answer is the chosen entry's id, not its position nor the default.
    for (const KeyCase &c : {KeyCase{{"Enter"}, "RESULT=9\n"},
                             KeyCase{{"Tab", "Tab", "Down", "Space", "Tab", "Enter"}, "RESULT=3\n"},
                             KeyCase{{"Tab", "Tab", "Space", "Tab", "Enter"}, "RESULT=7\n"}}) {
        ScreenRun ids;
        ids.start({"scrSelectComponents", "Components", "Choose one:", "Alpha", "7", "Beta", "3", "Gamma", "9"},
                  {"DEF=2"});
        ASSERT_TRUE(ids.term.wait_for("(*) Gamma")) << ids.term.screen();
        for (const std::string &key : c.keys)
            ids.term.press(key);
        EXPECT_EQ(ids.finish(), c.result) << c.keys.size();
    }
}

TEST(ScrChoiceCd, FirstOptionGivesTwo)
{
    ScreenRun run;
    run.start({"scrChoiceCd"});
    ASSERT_TRUE(run.term.wait_for("Install additional templates from optional CD"));
    EXPECT_TRUE(run.term.cursor_on(" Next "));
    EXPECT_NE(run.term.screen().find("Install additional templates"), std::string::npos);
    run.term.press("Enter");
    EXPECT_EQ(run.finish(), "RESULT=2\n");

    ScreenRun second;
    second.start({"scrChoiceCd"});
    ASSERT_TRUE(second.term.wait_for("optional CD"));
    second.term.press("Tab");  // to the first option
    second.term.press("Down");
    second.term.press("Space");
    second.term.press("Tab");
    second.term.press("Enter");
    EXPECT_EQ(second.finish(), "RESULT=0\n");
}
