// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// Pictures of the wizard's screens: every screen an administrator meets,
// at 80x24, in English (and the first and last ones in German), and the
// live progress line of an unattended run, compared with the captures in
// docs/screens that the README shows. A change of layout fails here; a
// deliberate one is a `make screens` away (SCREENS_WRITE names the
// directory to write the captures to instead of comparing).
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "support/package_fixture.h"
#include "support/screen_run.h"
#include "support/terminal.h"
#include "support/wizard_run.h"

namespace {

// The screen once it has stopped changing, each row without its trailing
// blanks.
std::string settled(const Terminal &term)
{
    std::string last;
    term.wait_until([&](const std::string &screen) {
        bool same = screen == last;
        last = screen;
        return same;
    });
    std::string text;
    for (std::string row : term.rows()) {
        row.erase(row.find_last_not_of(' ') + 1);
        text += row + "\n";
    }
    // The wait animation's character turns all the time.
    return std::regex_replace(text, std::regex(R"(is in progress [-\\|/])"), "is in progress -");
}

// Version numbers may change without the layout changing.
std::string masked(const std::string &screen)
{
    return std::regex_replace(screen, std::regex(R"(\d+\.\d+(\.\d+\.\d+)?)"), "N.N");
}

// The sample package with tools that miss two system packages and pause
// where the pictures are taken.
void prepare(const PackageFixture &pkg)
{
    pkg.use_sample_backend();
    pkg.tool("installer/pm.sh", "case \"$1\" in\n--check) printf 'm libexample-runtime\\no libexample-doc\\n' ;;\n"
                                "--install) " + pkg.gate("packages") + "echo 'o libexample-doc' ;;\nesac\nexit 0\n");
    pkg.tool("installer-cli", "echo '[  0%] Reading Manifest'\n"
                              "echo '[ 45%] Installing /usr/share/kestrane-virtualization-sdk/include/tessaro/sdk.h'\n" +
                                  pkg.gate("files") + "echo '[100%] Installation complete'\n");
}

} // namespace

TEST(Screens, EveryScreenAsTheReadmeShowsIt)
{
    const char *write_to = std::getenv("SCREENS_WRITE");
    const std::string dir = write_to != nullptr ? write_to : std::string(SOURCE_DIR) + "/docs/screens";
    std::vector<std::string> taken;
    auto shot = [&](const std::string &name, const Terminal &term) {
        SCOPED_TRACE(name);
        const std::string screen = settled(term);
        taken.push_back(name);
        if (write_to != nullptr) {
            write_file(dir + "/" + name + ".txt", screen);
            return;
        }
        EXPECT_EQ(masked(screen), masked(read_file(dir + "/" + name + ".txt"))) << "make screens writes them anew";
    };

    // Each walk through the wizard: before each step the keys pressed and
    // the tool let go on, then the text that tells the screen is there, and
    // the picture's name (none: a screen on the way).
    struct Step {
        std::vector<std::string> keys;
        std::string release;
        std::string shown;
        std::string name;
    };
    struct Walk {
        std::string lang;
        std::function<void(const PackageFixture &)> setup;
        std::vector<Step> steps;
    };
    const Step welcome{{}, "", "Welcome to Tessaro Virtualization SDK Installer!", ""};
    const Step licence{{"Enter"}, "", " Decline ", ""};
    const Walk walks[] = {
        {"C.UTF-8",
         prepare,
         {{{}, "", "Welcome to Tessaro Virtualization SDK Installer!", "01-welcome"},
          {{"Enter"}, "", " Decline ", "02-licence"},
          {{"BTab", "Enter"}, "", "Do you want to install them now?", "04-components-question"},
          {{"Enter"}, "", "is in progress -", "05-package-wait"},
          {{}, "packages", "45%", "06-progress"},
          {{}, "files", "we recommend", "07-recommendation"},
          {{"Enter"}, "", " Exit ", "08-finish"}}},
        {"C.UTF-8",
         [](const PackageFixture &pkg) {
             prepare(pkg);
             pkg.preinstall();
         },
         {welcome, {{"Enter"}, "", "Please select action to perform:", "03-action-choice"}}},
        {"C.UTF-8",
         [](const PackageFixture &pkg) {
             prepare(pkg);
             pkg.tool("installer/check_disk_space.sh", "echo 'There is not enough space on /usr/share: 1112 KiB are "
                                                       "needed, 96 KiB are free.'\nexit 2\n");
         },
         {welcome, licence, {{"BTab", "Enter"}, "", "Not enough disk space", "09-not-enough-disk-space"}}},
        {"C.UTF-8",
         [](const PackageFixture &pkg) {
             prepare(pkg);
             pkg.tool("installer/pm.sh", "printf 'm libexample-runtime\\no libexample-doc\\n'\nexit 124\n");
         },
         {welcome, licence, {{"BTab", "Enter"}, "", "cannot detect package manager", "10-no-package-manager"}}},
        {"de_DE.UTF-8",
         [](const PackageFixture &pkg) { pkg.use_sample_backend(); },
         {{{}, "", " Weiter > ", "11-welcome-de"},
          {{"Enter"}, "", " Ablehnen ", "12-licence-de"},
          {{"BTab", "Enter"}, "", " Beenden ", "13-finish-de"}}},
    };
    for (const Walk &walk : walks) {
        WizardRun run;
        walk.setup(run.pkg);
        run.start({}, walk.lang);
        for (const Step &step : walk.steps) {
            for (const std::string &key : step.keys)
                run.term.press(key);
            if (!step.release.empty())
                run.pkg.open_gate(step.release);
            ASSERT_TRUE(run.term.wait_for(step.shown)) << step.shown << run.term.screen();
            if (!step.name.empty())
                shot(step.name, run.term);
        }
    }
    {
        PackageFixture pkg;
        prepare(pkg);
        pkg.open_gate("packages");
        Terminal term(80, 24);
        term.start(pkg.command_text({"-i"}), {"LANG=C.UTF-8"});
        ASSERT_TRUE(term.wait_for(" 45% Installing"));
        shot("14-progress-line", term);
        pkg.open_gate("files");
        EXPECT_EQ(term.wait_exit(), 0);
    }

    // The README shows the main ones as they are.
    const std::string readme = read_file(std::string(SOURCE_DIR) + "/README.md");
    for (const char *name : {"01-welcome", "02-licence", "04-components-question", "06-progress", "08-finish"}) {
        std::string screen = read_file(dir + "/" + name + ".txt");
        while (!screen.empty() && screen.substr(screen.size() - 2) == "\n\n")
            screen.pop_back();
        EXPECT_NE(readme.find("```\n" + screen + "```\n"), std::string::npos) << name;
    }
    EXPECT_EQ(taken.size(), 14u);
}

// Every other dialog as it is drawn at 80x24, compared with its picture in
// tests/terminal/dialogs (DIALOGS_WRITE names the directory to write them
// to instead): the routine and its arguments, a text that tells the dialog
// is up, and the picture's name.
TEST(Screens, EveryDialogAsDrawn)
{
    const char *write_to = std::getenv("DIALOGS_WRITE");
    const std::string dir = write_to != nullptr ? write_to : std::string(SOURCE_DIR) + "/tests/terminal/dialogs";
    struct Row {
        std::vector<std::string> args;
        std::string shown;
        std::string name;
    };
    const Row rows[] = {
        {{"baseDialog", "Caption", "Text above", "Text below", " First ", " Second ", "1"}, "Text below", "base-dialog"},
        {{"baseDialogWidget", "Two", "Question?", "-", "First", "Second", "1"}, "WIDGET-IN-THE-MIDDLE", "base-dialog-widget"},
        {{"header", "The Header Text"}, "Header shown", "header"},
        {{"Cancel"}, "Are you sure you want to cancel?", "cancel"},
        {{"Error", "Something failed: the reason."}, "the reason.", "error"},
        {{"show_message", "Line1\nLine2\nLine3\nLine4\nLine5\nLine6\nLine7", "Ok"}, "Line1", "message-tall"},
        {{"show_message2", "L1\nL2\nL3", "Close", "Own title"}, "Own title", "message-titled"},
        {{"show_strmessage", "Ten chars!", "Ok"}, "Ten chars!", "message-short"},
        {{"scrChoise", "Question Title", "Shall we go on with this?", "1", "0"}, "Shall we go on", "choice"},
        {{"scrChoiseRetry", "Error", "Another package manager runs.", "1"}, "Another package", "choice-retry"},
        {{"scrChoiseNextSkipCancel", "Conflict", "A conflicting product is installed.", "1"}, "A conflicting", "choice-skip"},
        {{"scrSelectAction", "Action", "Please select action to perform: ", "Upgrade", "1", "Remove", "2"}, "Remove",
         "select-action"},
        {{"scrSelectComponents", "Components", "Choose one:", "Alpha", "7", "Beta", "3", "Gamma", "9"}, "Gamma",
         "select-components"},
        {{"srcSelectInstType", "Installation type"}, "Installation type", "select-type"},
        {{"scrChoiceCd"}, "from optional CD", "choice-cd"},
        {{"scrFinished", "Done Title", "All finished.", "1", "1"}, "All finished.", "finished-reboot"},
        {{"scrFinishedWithCheckBox", "Removed", "The product is gone.", "Also remove settings", "1", "0", "0"},
         "Also remove settings", "finished-checkbox"},
        {{"winStatus", "Busy", "Removing the old version"}, "Status shown", "status"},
        {{"prep", "installing", "42"}, "Bar shown", "progress-bar"},
        {{"winProgress", "Package progress window", "30", "60"}, "Package window shown", "package-window"},
        {{"missedPackages", "pkg-a", "pkg-b", "pkg-c"}, "pkg-c", "missed-packages"},
        {{"WrongProxyCredentialsMessage"}, "and password you entered.", "proxy-wrong"},
        {{"getProxyUserPassInput", "Proxy"}, "User Name:", "proxy-credentials"},
        {{"ask_xen_installation"}, "Migrate Xen virtual machines only", "xen"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ScreenRun run;
        run.start(row.args);
        ASSERT_TRUE(run.term.wait_for(row.shown)) << run.term.screen();
        const std::string screen = settled(run.term);
        if (write_to != nullptr) {
            write_file(dir + "/" + row.name + ".txt", screen);
            continue;
        }
        EXPECT_EQ(screen, read_file(dir + "/" + row.name + ".txt")) << "make screens writes them anew";
    }
}
