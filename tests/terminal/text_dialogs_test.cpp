// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// Report, dependency, missing-package and proxy credential dialogs, and the
// product checks' questions, in a real terminal.
#include <gtest/gtest.h>

#include "support/package_fixture.h"
#include "support/screen_run.h"

TEST(DependencyDialog, AbortIsTheDefault)
{
    TempDir dir;
    write_file(dir / "report", "  libfoo conflicts with libbar\n\tlibbaz is too old\n");
    struct Case {
        std::vector<std::string> keys;
        const char *result;
    } cases[] = {
        {{"Enter"}, "RESULT=1\nRETRY=-7\n"},
        {{"BTab", "Enter"}, "RESULT=0\nRETRY=1\n"},          // "Try again"
        {{"BTab", "BTab", "Enter"}, "RESULT=0\nRETRY=-7\n"},  // "Skip  "
        {{"Escape"}, "RESULT=0\nRETRY=-7\n"},
        {{"F12"}, "RESULT=0\nRETRY=-7\n"},
    };
    for (const Case &c : cases) {
        ScreenRun run;
        run.start({"depDialog", dir / "report"});
        ASSERT_TRUE(run.term.wait_for("libbaz is too old"));
        std::string screen = run.term.screen();
        EXPECT_NE(screen.find("Dependency conflict"), std::string::npos);
        EXPECT_NE(screen.find("Installing Tessaro Containers on your system"), std::string::npos);
        EXPECT_NE(screen.find("libfoo conflicts with libbar"), std::string::npos);
        EXPECT_TRUE(run.term.cursor_on("Abort"));
        for (const std::string &key : c.keys)
            run.term.press(key);
        EXPECT_EQ(run.finish(), c.result);
    }
}

TEST(MissedPackagesDialog, SevenNamesScrollThreeDoNotAndTheSmallestScreenShortensThem)
{
    ScreenRun seven;
    seven.start({"missedPackages", "pkg-a", "pkg-b", "pkg-c", "pkg-d", "pkg-e", "pkg-f", "pkg-g"});
    ASSERT_TRUE(seven.term.wait_for("pkg-f"));
    EXPECT_EQ(seven.term.screen().find("pkg-g"), std::string::npos);
    EXPECT_NE(seven.term.screen().find("omitted from your"), std::string::npos);
    EXPECT_NE(seven.term.screen().find("Exit"), std::string::npos);
    seven.term.press("Enter");
    EXPECT_EQ(seven.finish(), "RESULT=0\n");

    ScreenRun three;
    three.start({"missedPackages", "pkg-a", "pkg-b", "pkg-c"});
    ASSERT_TRUE(three.term.wait_for("pkg-c"));
    auto a = three.term.find("pkg-a");
    auto exit = three.term.find("Exit");
    EXPECT_EQ(exit.first, a.first + 3 + 2);  // three rows, a blank row, the button's top edge
    three.term.press("Enter");
    EXPECT_EQ(three.finish(), "RESULT=0\n");

    // At the wizard's minimum size, in either language, the dialogs whose
    // list or report takes six rows give up rows of it, never the header,
    // the help line or their buttons.
    TempDir dir;
    write_file(dir / "report", "pkg-a conflicts\npkg-b conflicts\npkg-c conflicts\npkg-d conflicts\n"
                               "pkg-e conflicts\npkg-f conflicts\npkg-g conflicts\n");
    for (const char *lang : {"C.UTF-8", "de_DE.UTF-8"}) {
        for (const std::vector<std::string> &dialog :
             {std::vector<std::string>{"missedPackages", "pkg-a", "pkg-b", "pkg-c", "pkg-d", "pkg-e", "pkg-f", "pkg-g"},
              std::vector<std::string>{"depDialog", dir / "report"}}) {
            SCOPED_TRACE(std::string(lang) + " " + dialog[0]);
            ScreenRun run(70, 16);
            run.start(dialog, {std::string("LANG=") + lang});
            ASSERT_TRUE(run.term.wait_for("pkg-a")) << run.term.screen();
            ASSERT_TRUE(run.term.wait_until([&](const std::string &) { return run.term.find("\xe2\x94\x94").first >= 0; }));
            EXPECT_LT(run.term.find("\xe2\x94\x94", true).first, 15) << run.term.screen();
            expect_between_header_and_help_line(run.term, 16);
            run.term.press("Enter");
            EXPECT_NE(run.finish(), "") << run.term.screen();
        }
    }
}

TEST(ProxyDialogs, CredentialsAreReadAndThePasswordIsHidden)
{
    ScreenRun run;
    run.start({"getProxyUserPassInput", "Proxy"});
    ASSERT_TRUE(run.term.wait_for("Your proxy server requires authentication."));
    EXPECT_NE(run.term.screen().find("User Name:"), std::string::npos);
    run.term.type("alice");
    run.term.press("Tab");
    run.term.type("s3cr3t-pw");
    ASSERT_TRUE(run.term.wait_for("*********"));
    EXPECT_EQ(run.term.screen().find("s3cr3t-pw"), std::string::npos);
    run.term.press("Enter");  // Enter in an entry ends the dialog as OK would
    EXPECT_EQ(run.finish(), "RESULT=0\nUSER=alice\nPASSWORD=s3cr3t-pw\n");

    ScreenRun enter_in_name;
    enter_in_name.start({"getProxyUserPassInput", "Proxy"});
    ASSERT_TRUE(enter_in_name.term.wait_for("User Name:"));
    enter_in_name.term.type("bob");
    enter_in_name.term.press("Enter");
    EXPECT_EQ(enter_in_name.finish(), "RESULT=0\nUSER=bob\nPASSWORD=\n");

    ScreenRun cancelled;
    cancelled.start({"getProxyUserPassInput", "Proxy"});
    ASSERT_TRUE(cancelled.term.wait_for("User Name:"));
    cancelled.term.type("carol");
    cancelled.term.press("BTab");  // from the name entry back round to "Cancel"
    cancelled.term.press("Enter");
    EXPECT_EQ(cancelled.finish(), "RESULT=-1\nUSER=untouched-user\nPASSWORD=untouched-password\n");
    EXPECT_TRUE(cancelled.term.left_usable());
}

TEST(ProxyDialogs, WrongCredentialsQuestion)
{
    struct Case {
        const char *key;
        const char *result;
    } cases[] = {{"Enter", "RESULT=0\n"}, {"Escape", "RESULT=1\n"}, {"F12", "RESULT=1\n"}};
    for (const Case &c : cases) {
        ScreenRun run;
        run.start({"WrongProxyCredentialsMessage"});
        ASSERT_TRUE(run.term.wait_for("You entered an invalid name or password."));
        EXPECT_TRUE(run.term.cursor_on(" No ", true));
        run.term.press(c.key);
        EXPECT_EQ(run.finish(), c.result);
    }
}

TEST(ProductQuestions, ConflictRemovalRunsThenTheActionIsInstallAgain)
{
    PackageFixture pkg;
    pkg.tool("installer/conflict_check", "echo 'An older SDK is installed and will be removed.'\nexit 1\n");
    Terminal term;
    TempDir dir;
    RunOptions driver;
    driver.program = SCREEN_DRIVER;
    driver.cwd = pkg.root();
    term.start("cd " + sh_quote(pkg.root()) + " && " + pkg.command_text({"check_conflicts"}, driver),
               {"LANG=C.UTF-8", "SCREEN_DRIVER_RESULT=" + dir / "result", "SCREEN_DRIVER_LOG=/var/log/kestrane-sdk-install.log"});
    ASSERT_TRUE(term.wait_for("An older SDK is installed and will be removed."));
    EXPECT_NE(term.screen().find("Tessaro Virtualization SDK Installer"), std::string::npos);
    EXPECT_TRUE(term.cursor_on("Next"));
    term.press("Enter");
    EXPECT_EQ(term.wait_exit(), 0);
    EXPECT_EQ(read_file(dir / "result"), "RESULT=0\nACTION=1\n");
    EXPECT_NE(pkg.calls().find("-e Manifest"), std::string::npos);
}

TEST(ProductQuestions, XenQuestionChoosesWhatToMigrate)
{
    ScreenRun run;
    run.start({"ask_xen_installation"});
    ASSERT_TRUE(run.term.wait_for("Migrate Xen virtual machines only"));
    EXPECT_NE(run.term.screen().find("Xen Virtualization Layer Detected"), std::string::npos);
    run.term.press("Down");
    run.term.press("Enter");
    EXPECT_EQ(run.finish(), "RESULT=0\nIS_XEN=1\n");
}
