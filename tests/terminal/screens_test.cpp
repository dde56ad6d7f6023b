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

// A tool that waits for the test to say "go" (bounded) before it ends.
std::string wait_for_go(const PackageFixture &pkg, const std::string &name)
{
    return "i=0; while [ ! -e " + sh_quote(pkg.root() + "/go-" + name) +
           " ] && [ $i -lt 1500 ]; do sleep 0.02; i=$((i + 1)); done\n";
}

void go(const PackageFixture &pkg, const std::string &name)
{
    write_file(pkg.root() + "/go-" + name, "");
}

// The sample package with tools that miss two system packages and pause
// where the pictures are taken.
void prepare(const PackageFixture &pkg)
{
    pkg.use_sample_backend();
    pkg.tool("installer/pm.sh", "case \"$1\" in\n--check) printf 'm libexample-runtime\\no libexample-doc\\n' ;;\n"
                                "--install) " + wait_for_go(pkg, "packages") + "echo 'o libexample-doc' ;;\nesac\nexit 0\n");
    pkg.tool("installer-cli", "echo '[  0%] Reading Manifest'\n"
                              "echo '[ 45%] Installing /usr/share/kestrane-virtualization-sdk/include/tessaro/sdk.h'\n" +
                                  wait_for_go(pkg, "files") + "echo '[100%] Installation complete'\n");
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

    {
        WizardRun run;
        prepare(run.pkg);
        run.start();
        ASSERT_TRUE(run.term.wait_for("Welcome to Tessaro Virtualization SDK Installer!"));
        shot("01-welcome", run.term);
        run.term.press("Enter");
        ASSERT_TRUE(run.term.wait_for(" Decline "));
        shot("02-licence", run.term);
        run.term.press("BTab");
        run.term.press("Enter");
        ASSERT_TRUE(run.term.wait_for("Do you want to install them now?"));
        shot("04-components-question", run.term);
        run.term.press("Enter");
        ASSERT_TRUE(run.term.wait_for("is in progress -"));
        shot("05-package-wait", run.term);
        go(run.pkg, "packages");
        ASSERT_TRUE(run.term.wait_for("45%"));
        shot("06-progress", run.term);
        go(run.pkg, "files");
        ASSERT_TRUE(run.term.wait_for("we recommend"));
        shot("07-recommendation", run.term);
        run.term.press("Enter");
        ASSERT_TRUE(run.term.wait_for(" Exit "));
        shot("08-finish", run.term);
        run.term.press("Enter");
        EXPECT_EQ(run.term.wait_exit(), 0);
    }
    {
        WizardRun installed;
        prepare(installed.pkg);
        installed.pkg.preinstall();
        installed.start();
        installed.welcome_next();
        ASSERT_TRUE(installed.term.wait_for("Please select action to perform:"));
        shot("03-action-choice", installed.term);
    }
    {
        WizardRun short_of_space;
        prepare(short_of_space.pkg);
        short_of_space.pkg.tool("installer/check_disk_space.sh",
                                "echo 'There is not enough space on /usr/share: 1112 KiB are needed, 96 KiB are "
                                "free.'\nexit 2\n");
        short_of_space.start();
        short_of_space.welcome_next();
        short_of_space.accept_licence();
        ASSERT_TRUE(short_of_space.term.wait_for("Not enough disk space"));
        shot("09-not-enough-disk-space", short_of_space.term);
    }
    {
        WizardRun no_manager;
        prepare(no_manager.pkg);
        no_manager.pkg.tool("installer/pm.sh", "printf 'm libexample-runtime\\no libexample-doc\\n'\nexit 124\n");
        no_manager.start();
        no_manager.welcome_next();
        no_manager.accept_licence();
        ASSERT_TRUE(no_manager.term.wait_for("cannot detect package manager"));
        shot("10-no-package-manager", no_manager.term);
    }
    {
        WizardRun german;
        german.pkg.use_sample_backend();
        german.start({}, "de_DE.UTF-8");
        ASSERT_TRUE(german.term.wait_for(" Weiter > "));
        shot("11-welcome-de", german.term);
        german.term.press("Enter");
        ASSERT_TRUE(german.term.wait_for(" Ablehnen "));
        shot("12-licence-de", german.term);
        german.term.press("BTab");
        german.term.press("Enter");
        ASSERT_TRUE(german.term.wait_for(" Beenden "));
        shot("13-finish-de", german.term);
    }
    {
        PackageFixture pkg;
        prepare(pkg);
        go(pkg, "packages");
        Terminal term(80, 24);
        term.start(pkg.command_text({"-i"}), {"LANG=C.UTF-8"});
        ASSERT_TRUE(term.wait_for(" 45% Installing"));
        shot("14-progress-line", term);
        go(pkg, "files");
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
