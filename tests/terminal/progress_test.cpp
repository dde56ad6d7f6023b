// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// The wait animation and the progress windows in a real terminal.
#include <gtest/gtest.h>

#include "support/screen_run.h"

TEST(WaitAnimation, SpinnerFramesWhileTheCommandRuns)
{
    ScreenRun run;
    const std::string gate = run.dir / "gate";
    run.start({"wait", "i=0; while [ ! -e " + sh_quote(gate) + " ] && [ $i -lt 1500 ]; do sleep 0.02; i=$((i + 1)); done",
               "Installing the packages"});
    ASSERT_TRUE(run.term.wait_for("Installing the packages /"));
    ASSERT_TRUE(run.term.wait_for("Installing the packages -"));
    ASSERT_TRUE(run.term.wait_for("Installing the packages \\"));
    ASSERT_TRUE(run.term.wait_for("Installing the packages |"));
    write_file(gate, "");
    EXPECT_EQ(run.finish(), "RESULT=0\n");
}

TEST(WaitAnimation, AQuickCommandStillShowsOneFrame)
{
    ScreenRun run;
    run.start({"wait", "exit 7", "-"});
    ASSERT_TRUE(run.term.wait_for("Please wait while downloading is in progress /"));
    EXPECT_EQ(run.finish(), "RESULT=7\n");
}

TEST(StatusWindow, TextInACentredWindow)
{
    ScreenRun run;
    run.start({"winStatus", "Busy", "Removing the old version"});
    ASSERT_TRUE(run.term.wait_for("Status shown"));
    EXPECT_NE(run.term.screen().find("Removing the old version"), std::string::npos);
    run.term.press("Enter");
    ASSERT_TRUE(run.term.wait_gone("Status shown"));
    EXPECT_EQ(run.finish(), "RESULT=0\n");
}

TEST(PreparationWindow, BarShowsThePercentage)
{
    ScreenRun run;
    run.start({"prep", "installing", "42"});
    ASSERT_TRUE(run.term.wait_for("Bar shown"));
    EXPECT_NE(run.term.screen().find("installing"), std::string::npos);
    EXPECT_NE(run.term.screen().find("42%"), std::string::npos);
    run.term.press("Enter");
    EXPECT_EQ(run.finish(), "RESULT=0\n");

    ScreenRun full;
    full.start({"prep", "upgrading", "150"});
    ASSERT_TRUE(full.term.wait_for("Bar shown"));
    EXPECT_NE(full.term.screen().find("100%"), std::string::npos);
    full.term.press("Enter");
    EXPECT_EQ(full.finish(), "RESULT=0\n");
}

TEST(PackageWindow, TwoBarsWithLabelsAndPercentages)
{
    ScreenRun run;
    run.start({"winProgress", "Package progress window", "30", "60"});
    ASSERT_TRUE(run.term.wait_for("Package window shown"));
    std::string screen = run.term.screen();
    for (const char *text : {"Name:", "Size:", "Summary:", "pkg-one", "10 KiB", "The first package", "Package progress",
                             "Overall progress", " 50%", "100%"})
        EXPECT_NE(screen.find(text), std::string::npos) << text;
    run.term.press("Enter");
    EXPECT_EQ(run.finish(), "RESULT=0\n");

    ProcessResult text = run_process({SCREEN_DRIVER, "--text", "winProgress", "Title line", "1", "2"});
    EXPECT_EQ(text.out, "Title line\npkg-one\nRESULT=0\n");
}
