// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// The wizard in German, and the button bars whose translated labels are
// longer in bytes than on screen.
#include <gtest/gtest.h>

#include "support/package_fixture.h"
#include "support/screen_run.h"
#include "support/wizard_run.h"

namespace {

void add_catalogue(const PackageFixture &pkg)
{
    pkg.write("resources/de/LC_MESSAGES/install.mo",
              read_file(std::string(SAMPLE_SDK_DIR) + "/resources/de/LC_MESSAGES/install.mo"));
}

} // namespace

TEST(GermanWizard, WelcomeButtonsAndHelpLineInGerman)
{
    PackageFixture pkg;
    add_catalogue(pkg);
    Terminal term;
    term.start(pkg.command_text({}), {"LANG=de_DE.UTF-8"});
    ASSERT_TRUE(term.wait_for("Willkommen beim Tessaro Virtualization"));
    EXPECT_NE(term.screen().find("Installationsanleitung"), std::string::npos);
    std::string screen = term.screen();
    EXPECT_NE(screen.find("Weiter >"), std::string::npos);
    EXPECT_NE(screen.find("Abbrechen"), std::string::npos);
    EXPECT_NE(screen.find("<Tab> zwischen Elementen wechseln  |  <Leertaste> auswählen"), std::string::npos);
    EXPECT_NE(term.rows()[0].find("Tessaro Virtualization SDK 3.1 Installationsprogramm - "), std::string::npos);
    // Narrower than the whole header (74 columns), the maker's notice goes,
    // never the end of the product's name; wider again, it comes back.
    term.resize(70, 16);
    ASSERT_TRUE(term.wait_until([&](const std::string &) {
        return term.rows()[0].rfind("Tessaro Virtualization SDK 3.1 Installationsprogramm", 0) == 0 &&
               term.rows()[0].find(" - ") == std::string::npos;
    })) << term.screen();
    term.resize(80, 24);
    ASSERT_TRUE(term.wait_until([&](const std::string &) {
        return term.rows()[0].find("Installationsprogramm - (c)") != std::string::npos;
    })) << term.screen();
    term.press("Enter");
    ASSERT_TRUE(term.wait_for("Lizenzvereinbarung"));
    EXPECT_TRUE(term.cursor_on(" Ablehnen "));
    term.press("BTab");
    term.press("Enter");
    ASSERT_TRUE(term.wait_for("Herzlichen Glückwunsch!"));
    EXPECT_NE(term.screen().find("Installation von Tessaro Virtualization SDK abgeschlossen"), std::string::npos);
    EXPECT_TRUE(term.cursor_on(" Beenden "));
    term.press("Enter");
    EXPECT_EQ(term.wait_exit(), 0);

    // A back end that fails: its last words stand below the German error.
    pkg.tool("installer-cli", "echo 'Platte brennt' >&2\nexit 3\n");
    Terminal failed;
    failed.start(pkg.command_text({}), {"LANG=de_DE.UTF-8"});
    ASSERT_TRUE(failed.wait_for("Willkommen beim Tessaro Virtualization"));
    failed.press("Enter");
    ASSERT_TRUE(failed.wait_for("Lizenzvereinbarung"));
    failed.press("BTab");
    failed.press("Enter");
    ASSERT_TRUE(failed.wait_for("Platte brennt")) << failed.screen();
    EXPECT_NE(failed.screen().find("Fehler bei der Konfiguration von Tessaro"), std::string::npos) << failed.screen();
    EXPECT_EQ(failed.find("Das Back-End meldete:").first + 1, failed.find("Platte brennt").first) << failed.screen();
    failed.press("Enter");
    EXPECT_EQ(failed.wait_exit(), 1);
}

TEST(GermanWizard, EnglishWithoutAGermanLocale)
{
    WizardRun run;
    add_catalogue(run.pkg);
    run.start({}, "C");
    ASSERT_TRUE(run.term.wait_for("Welcome to Tessaro Virtualization SDK Installer!"));
    EXPECT_NE(run.term.screen().find("Next >"), std::string::npos);
    run.cancel_at_welcome();
}

TEST(GermanButtonBars, PaddingFollowsTheByteLength)
{
    // "Überspringen" is 13 bytes but 12 columns: the bar ends one column
    // further left than a bar of the same screen width in plain ASCII.
    ScreenRun run;
    run.start({"scrChoiseNextSkipCancel", "Titel", "Ein Konflikt.", "1"}, {"LANG=de_DE.UTF-8"});
    ASSERT_TRUE(run.term.wait_for("Überspringen"));
    auto [row, next_col] = run.term.find("Weiter");
    ASSERT_GE(row, 0);
    auto skip = run.term.find("Überspringen");
    auto cancel = run.term.find("Abbrechen");
    auto frame = run.term.find("Ein Konflikt.").second - 2;  // the text starts 2 columns right of the frame
    EXPECT_EQ(next_col - frame, 2 + 20 + 2);
    EXPECT_EQ(skip.second - frame, 2 + 20 + 11 + 1 + 2);
    EXPECT_EQ(cancel.second - frame, 2 + 20 + 11 + 1 + 17 + 1 + 2);
    run.term.press("Enter");
    EXPECT_EQ(run.finish(), "RESULT=2\n");
}
