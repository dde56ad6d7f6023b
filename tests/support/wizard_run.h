// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// A whole interactive run of the real program in a real terminal, inside
// the sandbox, with the steps an administrator takes on the usual road.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/package_fixture.h"
#include "support/terminal.h"

struct WizardRun {
    explicit WizardRun(int cols = 80, int rows = 24) : term(cols, rows) {}

    PackageFixture pkg;
    Terminal term;

    void start(const std::vector<std::string> &args = {}, const std::string &lang = "C.UTF-8")
    {
        term.start(pkg.command_text(args), {"LANG=" + lang});
    }

    void welcome_next()
    {
        ASSERT_TRUE(term.wait_for("Welcome to Tessaro Virtualization SDK Installer!"));
        EXPECT_TRUE(term.cursor_on("Next >"));
        term.press("Enter");
    }

    void accept_licence()
    {
        ASSERT_TRUE(term.wait_for("License Agreement"));
        EXPECT_TRUE(term.cursor_on(" Decline "));
        term.press("BTab");
        ASSERT_TRUE(term.wait_until([&](const std::string &) { return term.cursor_on(" Accept "); }));
        term.press("Enter");
    }

    // At the action question of an installed SDK: the first answer
    // (upgrade), or with `remove` the second.
    void choose_action(bool remove = false)
    {
        ASSERT_TRUE(term.wait_for("Please select action to perform:"));
        if (remove)
            term.press("Down");
        term.press("Enter");
    }

    // Cancels at the welcome screen, confirms, and expects status 10 and a
    // usable terminal.
    void cancel_at_welcome()
    {
        ASSERT_TRUE(term.wait_for("Welcome to Tessaro Virtualization SDK Installer!")) << pkg.log();
        term.press("Tab");
        term.press("Enter");
        ASSERT_TRUE(term.wait_for("Are you sure you want to cancel?"));
        term.press("Tab");
        term.press("Enter");
        EXPECT_EQ(term.wait_exit(), 10);
        EXPECT_TRUE(term.left_usable());
    }

    // Waits for the finish screen titled `title`, leaves it with " Exit "
    // and expects the run to end with status 0.
    void finish(const std::string &title = "Installation Completed")
    {
        ASSERT_TRUE(term.wait_for(title));
        term.press("Enter");
        EXPECT_EQ(term.wait_exit(), 0);
    }
};

