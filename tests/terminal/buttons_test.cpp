// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// Button bars in a real terminal: their columns at 80 and 132 columns.
#include <gtest/gtest.h>

#include "support/screen_run.h"

namespace {

// Column of the left edge of the window (its frame) on the row of `label`.
int frame_column(const Terminal &term, const std::string &label)
{
    auto at = term.find(label);
    if (at.first < 0)
        return -1000;
    std::string row = term.rows()[static_cast<std::size_t>(at.first)];
    // The frame is the first line character on the row.
    auto pos = row.find("\xe2\x94\x82");
    if (pos == std::string::npos)
        return -1000;
    int column = 0;
    for (std::size_t i = 0; i < pos; ++i)
        if ((static_cast<unsigned char>(row[i]) & 0xC0) != 0x80)
            ++column;
    return column;
}

struct BarCase {
    const char *builder;
    std::vector<std::string> labels;
    std::vector<int> offsets;  // of each label's first character from the frame
};

} // namespace

TEST(ButtonBars, RightAlignedPaddingFromTheLabelBytes)
{
    // A full-size button is its label plus 5 columns; its label starts 2
    // columns in. The grid stands 2 columns right of the frame.
    const BarCase cases[] = {
        {"installButtons", {"Next >", "Cancel"}, {2 + 36 + 2, 2 + 36 + 11 + 1 + 2}},
        {"installButtons2", {"Install", " Skip "}, {2 + 35 + 2, 2 + 35 + 12 + 1 + 2}},
        {"installButtonsWithTxt", {"Retry", "Cancel"}, {2 + 37 + 2, 2 + 37 + 10 + 1 + 2}},
        {"installButtons3", {"Left", "Right"}, {2 + 39 + 2, 2 + 39 + 9 + 1 + 2}},
        {"installButtonsNextSkipCancel", {"Next", "Skip", "Cancel"}, {2 + 34 + 2, 2 + 34 + 9 + 1 + 2, 2 + 34 + 9 + 1 + 9 + 1 + 2}},
        {"licenseButtons", {" Accept ", " Decline "}, {2 + 31 + 2, 2 + 31 + 13 + 1 + 2}},
        {"cepButtons", {" Agree ", " Disagree "}, {2 + 31 + 2, 2 + 31 + 12 + 1 + 2}},
        {"finishButtons", {" Exit ", "Reboot"}, {2 + 36 + 2, 2 + 36 + 11 + 2}},
        {"finishButtonsExitOnly", {" Exit "}, {2 + 42 + 2}},
        {"installButtonsCancelOnly", {"Cancel"}, {2 + 1 + 2}},
        // Labels too long for the bar's width: one blank before the first
        // button, never less (the window grows to hold them).
        {"installButtons3", {"The very long left label!", "The very long right label!"}, {2 + 1 + 2, 2 + 1 + 30 + 1 + 2}},
    };
    for (int cols : {80, 132}) {
        for (const BarCase &c : cases) {
            ScreenRun run(cols, 24);
            if (std::string(c.builder) == "installButtons3")
                run.start({"bar", c.builder, "60", c.labels[0], c.labels[1]});
            else
                run.start({"bar", c.builder});
            ASSERT_TRUE(run.term.wait_for(c.labels.back())) << c.builder;
            int frame = frame_column(run.term, c.labels[0]);
            for (std::size_t i = 0; i < c.labels.size(); ++i)
                EXPECT_EQ(run.term.find(c.labels[i]).second - frame, c.offsets[i]) << c.builder << " " << c.labels[i];
            EXPECT_TRUE(run.term.cursor_on(c.labels[0])) << c.builder;
            run.term.press("Enter");
            // The driver answers 0 for the first handle it passes, 1 for the second.
            const char *expected = std::string(c.builder) == "installButtonsCancelOnly" ? "RESULT=1\n" : "RESULT=0\n";
            EXPECT_EQ(run.finish(), expected) << c.builder;
        }
    }
}

TEST(ButtonBars, CompactButtonsOneColumnApart)
{
    ScreenRun run;
    run.start({"bar", "compact"});
    ASSERT_TRUE(run.term.wait_for("Three"));
    int frame = frame_column(run.term, "One");
    // A compact button is its label plus 3 columns wide, the label 2 in.
    EXPECT_EQ(run.term.find("One").second - frame, 2 + 1 + 2);
    EXPECT_EQ(run.term.find("Two").second - frame, 2 + 1 + 6 + 1 + 2);
    EXPECT_EQ(run.term.find("Three").second - frame, 2 + 1 + 6 + 1 + 6 + 1 + 2);
    run.term.press("Tab");
    run.term.press("Enter");
    EXPECT_EQ(run.finish(), "RESULT=1\n");

    ScreenRun single;
    single.start({"bar", "compactSingle"});
    ASSERT_TRUE(single.term.wait_for("Only"));
    EXPECT_EQ(single.term.find("Only").second - frame_column(single.term, "Only"), 2 + 1 + 2);
    single.term.press("Enter");
    EXPECT_EQ(single.finish(), "RESULT=0\n");
}
