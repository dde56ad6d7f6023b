// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// Whole interactive runs of the real program in a real terminal, inside the
// sandbox, driven the way an administrator drives them.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <regex>
#include <sstream>
#include <tuple>

#include "support/package_fixture.h"
#include "support/screen_run.h"
#include "support/terminal.h"
#include "support/wizard_run.h"

namespace {

const std::string kRecord = "echo \"$(basename \"$0\") $*\" >> \"$(cd \"$(dirname \"$0\")\" && while [ ! -f installer-cli ]; do cd ..; done; pwd)/calls.log\"\n";

} // namespace

TEST(WizardRun, FreshInstallFromWelcomeToFinish)
{
    WizardRun run;
    // The back end leaves five processes behind, which end soon after.
    run.pkg.tool("installer-cli", kRecord + "for i in 1 2 3 4 5; do (sleep 0.2 >/dev/null 2>&1 &); done\n" +
                                      run.pkg.gate("begin") + "echo '[ 10%] Starting'\necho '[ 60%] Copying'\n" +
                                      run.pkg.gate("copied") + "echo '[100%] Done'\n");
    run.start();
    ASSERT_TRUE(run.term.wait_for("Tessaro Virtualization SDK 3.1 Installer - "));
    EXPECT_EQ(run.term.rows()[0].rfind("Tessaro Virtualization SDK 3.1 Installer - ", 0), 0u);
    EXPECT_NE(run.term.rows()[23].find("<Tab> to switch between elements  |  <Space> to select"), std::string::npos);
    // While the screen is up the console level is lowered to the larger of
    // the minimum level and 3.
    EXPECT_EQ(run.pkg.printk(), "3 4 1 7\n");
    // Where nothing scrolls, Home, Page Up, End and Page Down do nothing:
    // the focus stays on Next, and Enter goes on (never to "cancel?").
    ASSERT_TRUE(run.term.wait_for("Welcome to Tessaro Virtualization SDK Installer!"));
    for (const char *key : {"Home", "PPage", "End", "NPage"})
        run.term.press(key);
    run.welcome_next();
    run.accept_licence();
    // The bar is up before the back end says anything.
    ASSERT_TRUE(run.term.wait_for("installing"));
    run.pkg.open_gate("begin");
    ASSERT_TRUE(run.term.wait_for("60%"));
    EXPECT_NE(run.term.screen().find("installing"), std::string::npos);
    run.pkg.open_gate("copied");
    ASSERT_TRUE(run.term.wait_for("Tessaro Virtualization SDK Installation Completed"));
    EXPECT_NE(run.term.screen().find("You have successfully completed installing Tessaro"), std::string::npos);
    // Collected as they end, while the installer waits at its last screen:
    // no child is left to it, not even a zombie.
    std::string installer = shell_output("pgrep -f " + sh_quote("^" + run.pkg.program()));
    installer = installer.substr(0, installer.find('\n'));
    ASSERT_FALSE(installer.empty());
    EXPECT_TRUE(eventually([&] { return shell_output("ps -o stat= --ppid " + installer).empty(); }))
        << shell_output("ps -o pid,stat,args --ppid " + installer);
    EXPECT_EQ(run.term.screen().find("Reboot"), std::string::npos);
    EXPECT_TRUE(run.term.cursor_on(" Exit "));
    run.term.press("Enter");
    EXPECT_EQ(run.term.wait_exit(), 0);
    EXPECT_TRUE(run.term.left_usable());
    EXPECT_EQ(run.pkg.printk(), "7 4 1 7\n");
    // Put back, the levels are no longer kept for a run after this one.
    EXPECT_FALSE(file_exists(run.pkg.state() + "/run/kestrane-sdk-console-levels"));
    EXPECT_NE(run.pkg.calls().find("-i Manifest"), std::string::npos);
    EXPECT_EQ(run.pkg.log().find("Unattended install mode."), std::string::npos);
}

TEST(WizardRun, InstalledSdkAsksForTheActionAndRemoves)
{
    WizardRun run;
    run.pkg.preinstall();
    run.start();
    run.welcome_next();
    ASSERT_TRUE(run.term.wait_for("Please select action to perform:"));
    EXPECT_NE(run.term.screen().find("Upgrade components"), std::string::npos);
    run.term.press("Down");
    run.term.press("Enter");
    run.finish("You have successfully removed Tessaro");
    std::string calls = run.pkg.calls();
    EXPECT_NE(calls.find("-e /usr/share/kestrane-virtualization-sdk/Manifest"), std::string::npos);
    EXPECT_EQ(calls.find("check_disk_space"), std::string::npos);
}

TEST(WizardRun, UpgradeShowsTheLicenceAndTheUpdateFinish)
{
    WizardRun run;
    run.pkg.preinstall();
    run.start();
    run.welcome_next();
    run.choose_action();
    run.accept_licence();
    run.finish("Tessaro Virtualization SDK Updating Completed");
}

// An upgrade's two back-end runs share one bar: the first fills it up to
// 50%, the second from 50% to 100% (its own 50% shows as 75%); the window
// stays up between them and is gone before the finish screen.
TEST(WizardRun, UpgradeBarHalves)
{
    WizardRun run;
    run.pkg.preinstall();
    std::string marks = sh_quote(run.pkg.root() + "/marks");
    run.pkg.tool("installer-cli", "for a; do [ \"$a\" = -e ] && half=first; [ \"$a\" = -i ] && half=second; done\n"
                                  "echo \"$half started\" >> " + marks + "\n"
                                  "echo '[ 50%] half way'\nwhile [ ! -f \"$(dirname \"$0\")/go-$half\" ]; do sleep 0.05; done\n"
                                  "echo '[100%] done'\n");
    run.start();
    run.welcome_next();
    ASSERT_TRUE(run.term.wait_for("Please select action to perform:"));
    run.term.press("Enter");
    run.accept_licence();
    ASSERT_TRUE(run.term.wait_for("25%"));
    EXPECT_NE(run.term.screen().find("upgrading"), std::string::npos);
    write_file(run.pkg.root() + "/go-first", "");
    ASSERT_TRUE(run.term.wait_for("75%"));
    EXPECT_EQ(read_file(run.pkg.root() + "/marks"), "first started\nsecond started\n");
    EXPECT_NE(run.term.screen().find("upgrading"), std::string::npos);
    write_file(run.pkg.root() + "/go-second", "");
    ASSERT_TRUE(run.term.wait_for("Updating Completed"));
    EXPECT_EQ(run.term.screen().find("upgrading"), std::string::npos);
    EXPECT_EQ(run.term.screen().find("100%"), std::string::npos);
    run.term.press("Enter");
    EXPECT_EQ(run.term.wait_exit(), 0);
}

TEST(WizardRun, RefusalsEndWithTheirStatus)
{
    {
        WizardRun welcome_cancelled;
        welcome_cancelled.start();
        welcome_cancelled.cancel_at_welcome();
        EXPECT_EQ(welcome_cancelled.pkg.printk(), "7 4 1 7\n");
        EXPECT_NE(welcome_cancelled.pkg.log().find(": Exiting with code 10\n"), std::string::npos);
    }
    {
        WizardRun declined;
        declined.start();
        declined.welcome_next();
        ASSERT_TRUE(declined.term.wait_for("License Agreement"));
        declined.term.press("Enter");
        EXPECT_EQ(declined.term.wait_exit(), 10);
        EXPECT_EQ(declined.pkg.calls(), "");
    }
    // A back end that fails: the screen shows its last words below the
    // error, blanked of controls, and sends nobody to a log that could not
    // be written.
    struct Failing {
        std::vector<std::string> args;
        std::string says;
    };
    for (const Failing &failing :
         {Failing{{}, "Error during configuration Tessaro Virtualization SDK. Look at "
                      "/var/log/kestrane-sdk-install.log for more information. "},
          Failing{{"--log-path", "/proc/version"},
                  "Error during configuration Tessaro Virtualization SDK. The installer log /proc/version cannot be "
                  "written ("}}) {
        SCOPED_TRACE(failing.says);
        WizardRun failed;
        failed.pkg.tool("installer-cli", "echo '[ 10%] Starting'\necho 'the first of many words'\n"
                                         "for i in 1 2 3 4 5; do echo \"word $i\"; done\n"
                                         "printf 'disk on fire\\033[2J\\a\\n' >&2\nexit 3\n");
        failed.start(failing.args);
        failed.welcome_next();
        failed.accept_licence();
        ASSERT_TRUE(failed.term.wait_for("disk on fire")) << failed.term.screen();
        const std::string screen = failed.term.screen();
        // (The dialog wraps the error: its words are looked for as one text.)
        std::string words;
        for (std::string row : failed.term.rows()) {
            for (const char *border : {"\xe2\x94\x82", "\xe2\x96\x92"})
                for (std::size_t at = row.find(border); at != std::string::npos; at = row.find(border))
                    row.replace(at, std::strlen(border), " ");
            std::istringstream fields(row);
            for (std::string word; fields >> word;)
                words += word + " ";
        }
        EXPECT_NE(words.find(failing.says), std::string::npos) << screen;
        EXPECT_NE(words.find(". The back end said: word 2 word 3 word 4 word 5 disk on fire [2J "), std::string::npos)
            << screen;
        // The last five lines, no more.
        EXPECT_EQ(screen.find("the first of many words"), std::string::npos) << screen;
        EXPECT_EQ(screen.find("word 1"), std::string::npos) << screen;
        EXPECT_NE(screen.find("word 2"), std::string::npos) << screen;
        failed.term.press("Enter");
        EXPECT_EQ(failed.term.wait_exit(), 1);
        EXPECT_TRUE(failed.term.left_usable());
    }

    // A licence that is missing, or that nobody could read (empty, binary,
    // UTF-16), ends the run before anything is installed, unattended too.
    const std::pair<std::string, std::string> licences[] = {
        {"", "License agreement file 'LICENSE' cannot be found"},
        {"empty", "License agreement file './LICENSE' cannot be shown: it is empty"},
        {std::string("Licence\0\1\2", 10), "License agreement file './LICENSE' cannot be shown: it holds a NUL byte: it is not text"},
        {std::string("\xff\xfeT\0h\0e\0", 8),
         "License agreement file './LICENSE' cannot be shown: it is UTF-16 or UTF-32 text, not UTF-8"},
    };
    for (const auto &[content, says] : licences) {
        SCOPED_TRACE(says);
        WizardRun no_licence;
        if (content.empty())
            no_licence.pkg.remove("LICENSE");
        else
            no_licence.pkg.write("LICENSE", content == "empty" ? "" : content);
        no_licence.start();
        no_licence.welcome_next();
        ASSERT_TRUE(no_licence.term.wait_for(says.substr(0, 34))); // wrapped in its dialog
        EXPECT_TRUE(no_licence.term.cursor_on(" Exit "));
        no_licence.term.press("Enter");
        EXPECT_EQ(no_licence.term.wait_exit(), 1);
        EXPECT_TRUE(no_licence.term.left_usable());
        EXPECT_EQ(no_licence.pkg.printk(), "7 4 1 7\n");
        ProcessResult unattended = no_licence.pkg.run({"-i"});
        EXPECT_EQ(unattended.status, 1);
        EXPECT_EQ(unattended.err, says + "\n");
        EXPECT_EQ(no_licence.pkg.calls(), "");
    }
}

TEST(WizardRun, NotEnoughDiskSpaceCanBeRetried)
{
    WizardRun run;
    std::string counter = sh_quote(run.pkg.root() + "/disk-checks");
    run.pkg.tool("installer/check_disk_space.sh", "echo x >> " + counter + "\n"
                 "if [ $(wc -l < " + counter + ") -lt 2 ]; then printf 'Free some space on /usr/share.\\a\\r\\033[2J\\n"
                 "The SDK needs\\t2 GB there.\\n'; exit 2; fi\nexit 0\n");
    run.start();
    run.welcome_next();
    run.accept_licence();
    // Every line of the check's message, its controls blanked.
    ASSERT_TRUE(run.term.wait_for("Free some space on /usr/share.")) << run.term.screen();
    ASSERT_TRUE(run.term.wait_for("The SDK needs")) << run.term.screen();
    EXPECT_NE(run.term.screen().find("2 GB there."), std::string::npos) << run.term.screen();
    EXPECT_NE(run.term.screen().find("Not enough disk space"), std::string::npos);
    run.term.press("Enter");
    run.finish();
    EXPECT_EQ(read_file(run.pkg.root() + "/disk-checks"), "x\nx\n");
}

TEST(WizardRun, PackageQuestionAndFourRetryQuestions)
{
    WizardRun run;
    run.pkg.tool("installer/pm.sh", kRecord + "case \"$1\" in\n--check) echo 'm libfoo'; echo 'o gzip'; "
                                              "echo 'W: noise of the check' >&2 ;;\n"
                                              "--install) sleep 0.3; exit 123 ;;\nesac\nexit 0\n");
    run.start();
    run.welcome_next();
    run.accept_licence();
    ASSERT_TRUE(run.term.wait_for("You need to install the following components"));
    EXPECT_NE(run.term.screen().find("Do you want to install them now?"), std::string::npos);
    EXPECT_NE(run.term.screen().find("- libfoo"), std::string::npos);
    EXPECT_NE(run.term.screen().find("Component Installation"), std::string::npos);
    // What the check wrote on its error output is in the log, never on the
    // screen.
    EXPECT_EQ(run.term.screen().find("noise"), std::string::npos) << run.term.screen();
    EXPECT_NE(run.pkg.log().find(": ./installer/pm.sh: W: noise of the check\n"), std::string::npos) << run.pkg.log();
    run.term.press("Enter");
    for (int retry = 0; retry < 4; ++retry) {
        ASSERT_TRUE(run.term.wait_for("package manager is already running")) << retry;
        EXPECT_TRUE(run.term.cursor_on("Retry"));
        run.term.press("Enter");
        ASSERT_TRUE(run.term.wait_gone("package manager is already running")) << retry;
    }
    ASSERT_TRUE(run.term.wait_for("An unknown error occurred while installing the required packages."));
    run.term.press("Enter");
    EXPECT_EQ(run.term.wait_exit(), 1);
    EXPECT_TRUE(run.term.left_usable());

    // On RPM hosts with the real dnf or zypper, whose lock another process
    // holds at first: the question, a retry question, and once the lock is
    // free, the packages installed for real and the one the repository
    // lacks recommended.
    for (const std::string manager : {"dnf", "zypper"}) {
        SCOPED_TRACE(manager);
        WizardRun host;
        host.pkg.use_sample_backend();
        host.pkg.write("data/lib_deps", "m coreutils\no gzip\no tessaro-absent\n");
        host.pkg.use_rpm_host(manager);
        auto holder = std::make_unique<BackgroundProcess>(std::vector<std::string>{"sleep", "120"});
        host.pkg.hold_package_lock(manager, holder->pid());
        host.term.start(host.pkg.command_text({}), {"LANG=C.UTF-8", "PM_LOCK_WAIT=1"});
        host.welcome_next();
        host.accept_licence();
        ASSERT_TRUE(host.term.wait_for("Do you want to install them now?"));
        EXPECT_NE(host.term.screen().find("- coreutils "), std::string::npos) << host.term.screen();
        host.term.press("Enter");
        ASSERT_TRUE(host.term.wait_for("package manager is already running", std::chrono::seconds(60)));
        holder.reset();
        host.term.press("Enter");
        ASSERT_TRUE(host.term.wait_for("Tessaro SDK was successfully installed, but we recommend", std::chrono::seconds(60)))
            << host.term.screen();
        EXPECT_NE(host.term.screen().find("- tessaro-absent"), std::string::npos) << host.term.screen();
        host.term.press("Enter");
        host.finish();
        RunOptions rpm;
        rpm.program = "/usr/bin/rpm";
        EXPECT_EQ(host.pkg.run({"-q", "coreutils", "gzip"}, rpm).out, "coreutils-1.0-1.noarch\ngzip-1.0-1.noarch\n");
    }
}

TEST(WizardRun, SignalDuringADialogRestoresEverything)
{
    // Any signal that would end the installer ends it as SIGTERM does; a
    // fault (SIGSYS, SIGSEGV) the same, but by its own signal. Killed
    // outright (SIGKILL), it leaves the levels it found where the next run
    // puts them back before it reads them.
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGUSR1, SIGPWR, SIGRTMIN + 2, SIGSYS, SIGSEGV, SIGKILL}) {
        WizardRun run;
        run.start();
        ASSERT_TRUE(run.term.wait_for("Welcome to")) << sig;
        EXPECT_EQ(run.pkg.printk(), "3 4 1 7\n") << sig;
        std::string pid = shell_output("pgrep -f " + sh_quote("^" + run.pkg.program()));
        ASSERT_FALSE(pid.empty()) << sig;
        ASSERT_EQ(kill(std::stoi(pid), sig), 0) << sig;
        EXPECT_EQ(run.term.wait_exit(), 128 + sig) << sig;
        if (sig == SIGKILL) {
            EXPECT_EQ(run.pkg.printk(), "3 4 1 7\n");
            run.start();
            ASSERT_TRUE(run.term.wait_for("Welcome to"));
            EXPECT_EQ(run.pkg.printk(), "3 4 1 7\n");
            run.cancel_at_welcome();
            EXPECT_EQ(run.pkg.printk(), "7 4 1 7\n");
            EXPECT_NE(run.pkg.log().find(": Put back the console message levels that an earlier run left lowered: 7 4 "
                                         "1 7\n"),
                      std::string::npos)
                << run.pkg.log();
            continue;
        }
        EXPECT_TRUE(run.term.left_usable()) << sig;
        EXPECT_EQ(run.pkg.printk(), "7 4 1 7\n") << sig;
        EXPECT_NE(run.pkg.log().find(": Exiting with code " + std::to_string(128 + sig) + "\n"), std::string::npos)
            << sig;
    }

    // Levels an earlier run saved are put back only when they are levels
    // and the console still has what that run lowered it to; otherwise
    // they stay as the administrator set them.
    struct Saved {
        const char *saved;
        const char *now;
        const char *after;
    };
    for (const Saved &row : {Saved{"7 4 1 7\n", "3 4 1 7\n", "7 4 1 7\n"}, Saved{"0 0 0 0\n", "3 0 0 0\n", "3 0 0 0\n"},
                             Saved{"99 99 99 99\n", "7 4 1 7\n", "7 4 1 7\n"},
                             Saved{"7 4 1 7\n", "5 4 1 7\n", "5 4 1 7\n"}}) {
        SCOPED_TRACE(std::string(row.saved) + row.now);
        PackageFixture pkg;
        std::filesystem::create_directories(pkg.state() + "/run");
        write_file(pkg.state() + "/run/kestrane-sdk-console-levels", row.saved, 0600);
        pkg.set_printk(row.now);
        EXPECT_EQ(pkg.run({"-i"}).status, 0);
        EXPECT_EQ(pkg.printk(), row.after);
        EXPECT_EQ(pkg.log().find("Put back the console message levels") != std::string::npos,
                  std::string(row.after) != row.now);
        EXPECT_FALSE(file_exists(pkg.state() + "/run/kestrane-sdk-console-levels"));
    }

#ifndef INSTALLER_SANITIZED // (the sanitizers catch the overflow themselves)
    // A stack that overflows is a fault like any other: its handler has a
    // stack of its own, and puts everything back.
    WizardRun deep;
    RunOptions small_stack;
    small_stack.wrapper = {"sh", "-c", "ulimit -s 24; exec \"$@\"", "sh"};
    deep.term.start(deep.pkg.command_text({}, small_stack), {"LANG=C.UTF-8"});
    EXPECT_EQ(deep.term.wait_exit(), 128 + SIGSEGV) << deep.term.screen();
    EXPECT_TRUE(deep.term.left_usable());
    EXPECT_EQ(deep.pkg.printk(), "7 4 1 7\n");
    EXPECT_NE(deep.pkg.log().find(": Received SIGSEGV"), std::string::npos) << deep.pkg.log() << deep.term.screen();
#endif
}

// After the terminal is resized, each following dialog is laid out and
// drawn whole for the new size, larger or smaller.
TEST(WizardRun, DialogsFollowTheTerminalSize)
{
    WizardRun run;
    run.start();
    ASSERT_TRUE(run.term.wait_for("Welcome to Tessaro Virtualization SDK Installer!"));
    run.term.resize(120, 35);
    run.term.press("Enter");
    ASSERT_TRUE(run.term.wait_for(" Decline ")) << run.term.screen();
    EXPECT_NE(run.term.rows()[34].find("<Tab> to switch between elements"), std::string::npos) << run.term.screen();
    EXPECT_EQ(run.term.rows()[0].rfind("Tessaro Virtualization SDK 3.1 Installer - ", 0), 0u);
    EXPECT_GE(run.term.find("\xe2\x94\x98").first, run.term.find(" Decline ").first) << run.term.screen();
    run.term.resize(80, 24);
    run.term.press("BTab");
    run.term.press("Enter");
    ASSERT_TRUE(run.term.wait_for("Installation Completed")) << run.term.screen();
    ASSERT_TRUE(run.term.wait_for(" Exit "));
    EXPECT_NE(run.term.rows()[23].find("<Tab> to switch between elements"), std::string::npos) << run.term.screen();
    EXPECT_GE(run.term.find("\xe2\x94\x98").first, run.term.find(" Exit ").first) << run.term.screen();
    run.finish();

    // Shrunk below what a dialog needs while it waits: one line asks for
    // the size (keys pressed meanwhile go nowhere); grown again, the dialog
    // is drawn whole. A dialog that returns from under another one after a
    // resize is whole too, and Ctrl-L draws the whole screen again.
    WizardRun shrunk;
    shrunk.start();
    ASSERT_TRUE(shrunk.term.wait_for("Welcome to Tessaro Virtualization SDK Installer!"));
    shrunk.term.resize(20, 5);
    const auto joined = [&] {
        std::string text;
        for (const std::string &row : shrunk.term.rows())
            text += row;
        return text;
    };
    ASSERT_TRUE(shrunk.term.wait_until([&](const std::string &) {
        // The rows' trailing blanks are not kept: "small: " ends a row.
        return joined().find("Terminal too small:70x16 needed, 20x5 now") != std::string::npos;
    })) << shrunk.term.screen();
    // The notice names the size after a resize of only the height, or
    // only the width, too.
    for (const auto &[columns, rows] : std::vector<std::pair<int, int>>{{20, 8}, {30, 8}}) {
        shrunk.term.resize(columns, rows);
        // (Compared without blanks: where the rows break depends on the width.)
        const std::string now = "Terminaltoosmall:70x16needed," + std::to_string(columns) + "x" + std::to_string(rows) + "now";
        ASSERT_TRUE(shrunk.term.wait_until([&](const std::string &) {
            std::string text = joined();
            text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
            return text.find(now) != std::string::npos;
        })) << shrunk.term.screen();
    }
    shrunk.term.press("Enter");
    shrunk.term.resize(100, 30);
    const std::string title = "\xe2\x94\xa4 Tessaro Virtualization SDK Installer \xe2\x94\x9c";
    ASSERT_TRUE(shrunk.term.wait_for(title)) << shrunk.term.screen();
    EXPECT_TRUE(shrunk.term.cursor_on("Next >"));
    EXPECT_NE(shrunk.term.screen().find("Welcome to Tessaro Virtualization SDK Installer!"), std::string::npos);
    shrunk.term.press("Tab");
    shrunk.term.press("Enter");
    ASSERT_TRUE(shrunk.term.wait_for("Are you sure you want to cancel?"));
    // The question covers the same part of the window under it at every
    // size both fit, of an odd or even number of rows or columns.
    const auto under_question = [&] {
        std::vector<std::string> window;
        for (const std::string &row : shrunk.term.rows()) {
            const std::string text = row.substr(std::min(row.find_first_not_of(' '), row.size()));
            if (window.empty() && text.find(title) == std::string::npos)
                continue;
            window.push_back(text.substr(0, text.find_last_not_of(' ') + 1));
            if (window.size() > 1 && text.rfind("\xe2\x94\x94", 0) == 0) // its bottom corner
                break;
        }
        return window;
    };
    std::vector<std::string> first_picture;
    for (const auto &[columns, rows] : std::vector<std::pair<int, int>>{{100, 30}, {80, 23}, {81, 22}, {91, 25}, {80, 21}}) {
        SCOPED_TRACE(std::to_string(columns) + "x" + std::to_string(rows));
        shrunk.term.resize(columns, rows);
        // (Waited for whole: drawn for this size, the help line on its last
        // row; the bottom corner drawn; the picture as at the first size.)
        EXPECT_TRUE(shrunk.term.wait_until([&](const std::string &) {
            const std::vector<std::string> picture = under_question();
            const std::vector<std::string> screen = shrunk.term.rows();
            return static_cast<int>(screen.size()) == rows && picture.size() > 10 &&
                   screen.back().find("<Tab> to switch") != std::string::npos &&
                   picture.back().rfind("\xe2\x94\x94", 0) == 0 &&
                   (first_picture.empty() || picture == first_picture);
        })) << shrunk.term.screen();
        if (first_picture.empty())
            first_picture = under_question();
        // (The window under it stands where the library centres a window:
        // on an odd number of rows, a row higher where its top would be odd.)
        if (rows == 21) {
            EXPECT_EQ(shrunk.term.find(title).first, 1) << shrunk.term.screen();
        }
    }
    shrunk.term.resize(90, 26);
    shrunk.term.press("Enter"); // No, the default
    ASSERT_TRUE(shrunk.term.wait_gone("Are you sure you want to cancel?"));
    ASSERT_TRUE(shrunk.term.wait_for(title)) << shrunk.term.screen();
    EXPECT_NE(shrunk.term.screen().find("Welcome to Tessaro Virtualization SDK Installer!"), std::string::npos);
    EXPECT_EQ(shrunk.term.rows()[0].rfind("Tessaro Virtualization SDK 3.1 Installer - ", 0), 0u) << shrunk.term.screen();
    write_file(shrunk.term.tty(), "GARBAGE written behind the screen's back");
    ASSERT_TRUE(shrunk.term.wait_for("GARBAGE"));
    shrunk.term.press("C-l");
    ASSERT_TRUE(shrunk.term.wait_gone("GARBAGE")) << shrunk.term.screen();
    EXPECT_NE(shrunk.term.screen().find(title), std::string::npos) << shrunk.term.screen();
    // The focus stayed on Cancel.
    EXPECT_TRUE(shrunk.term.cursor_on(" Cancel "));
    shrunk.term.press("Enter");
    ASSERT_TRUE(shrunk.term.wait_for("Are you sure you want to cancel?"));
    shrunk.term.press("Tab");
    shrunk.term.press("Enter");
    EXPECT_EQ(shrunk.term.wait_exit(), 10);
    EXPECT_TRUE(shrunk.term.left_usable());

    // A key that arrives in the same instant as a shrink below the minimum
    // (both wait while the installer is stopped) is dropped like any key
    // while the size notice shows, one the form would answer (Enter) as one
    // the library acts on by itself (Tab): grown again, the welcome is
    // still there, its focus where it was. With a resize that still fits,
    // the keys are answered: Cancel's question stands over the welcome
    // drawn for the new size, and answered No, leaves it whole.
    for (const auto &[key, columns, rows] :
         std::vector<std::tuple<std::string, int, int>>{{"Enter", 60, 12}, {"Tab", 60, 12}, {"Tab Enter", 100, 30}}) {
        SCOPED_TRACE(key);
        WizardRun instant;
        instant.start();
        ASSERT_TRUE(instant.term.wait_for("Welcome to Tessaro Virtualization SDK Installer!"));
        const std::string installer = shell_output("pgrep -f " + sh_quote("^" + instant.pkg.program()));
        ASSERT_FALSE(installer.empty());
        ASSERT_EQ(kill(std::stoi(installer), SIGSTOP), 0);
        instant.term.resize(columns, rows);
        // The terminal's own size is set when tmux gets round to it: the key
        // goes in after that, so that both are there when the installer goes on.
        const std::string tty = instant.term.tty();
        ASSERT_TRUE(eventually([&, rows = rows, columns = columns] {
            return shell_output("stty -F " + sh_quote(tty) + " size") ==
                   std::to_string(rows) + " " + std::to_string(columns) + "\n";
        }));
        std::istringstream keys(key);
        for (std::string each; keys >> each;)
            instant.term.press(each);
        ASSERT_EQ(kill(std::stoi(installer), SIGCONT), 0);
        if (rows == 30) {
            const std::string question = "Are you sure you want to cancel?";
            ASSERT_TRUE(instant.term.wait_until([&](const std::string &screen) {
                return screen.find(question) != std::string::npos &&
                       screen.find("Welcome to Tessaro Virtualization SDK Installer!") != std::string::npos;
            })) << instant.term.screen();
            instant.term.press("Enter"); // No, the default
            ASSERT_TRUE(instant.term.wait_gone(question)) << instant.term.screen();
            ASSERT_TRUE(instant.term.wait_for("Welcome to Tessaro Virtualization SDK Installer!")) << instant.term.screen();
            EXPECT_TRUE(instant.term.cursor_on("Cancel", true)) << instant.term.screen();
            instant.term.press("BTab");
            instant.cancel_at_welcome();
            continue;
        }
        ASSERT_TRUE(instant.term.wait_until([&](const std::string &) {
            std::string text;
            for (const std::string &row : instant.term.rows())
                text += row;
            return text.find("Terminal too small") != std::string::npos;
        })) << instant.term.screen();
        instant.term.resize(80, 24);
        ASSERT_TRUE(instant.term.wait_for("Welcome to Tessaro Virtualization SDK Installer!")) << instant.term.screen();
        EXPECT_TRUE(instant.term.cursor_on("Next >")) << instant.term.screen();
        instant.cancel_at_welcome();
    }

    // A window that waits for no key (the progress bar) is laid out and
    // drawn for the new size while it is up: centred.
    WizardRun barred;
    barred.pkg.tool("installer-cli", "echo '[ 30%] one'\n" + barred.pkg.gate("resized") + "echo '[ 60%] two'\n" +
                                         barred.pkg.gate("seen") + "echo '[100%] Done'\n");
    barred.start();
    barred.welcome_next();
    barred.accept_licence();
    ASSERT_TRUE(barred.term.wait_for("30%"));
    barred.term.resize(100, 30);
    barred.pkg.open_gate("resized");
    ASSERT_TRUE(barred.term.wait_for("60%"));
    const auto corner = barred.term.find("\xe2\x94\x8c");   // top left
    const auto other = barred.term.find("\xe2\x94\x90");    // top right
    ASSERT_GE(corner.first, 0) << barred.term.screen();
    EXPECT_EQ(corner.first, other.first);
    EXPECT_LE(std::abs(corner.second + other.second + 1 - 100), 1) << barred.term.screen();
    EXPECT_LE(std::abs(2 * corner.first + 5 - 30), 2) << barred.term.screen();
    barred.pkg.open_gate("seen");
    barred.finish();
    // A dialog whose content takes what the screen leaves (the licence) is
    // made anew for a smaller terminal, still at or above the wizard's
    // minimum, and for a larger one, the focus where it was: whole, between
    // the header and the help line.
    WizardRun licence;
    licence.start();
    licence.welcome_next();
    ASSERT_TRUE(licence.term.wait_for("License Agreement"));
    licence.term.press("BTab");
    ASSERT_TRUE(licence.term.wait_until([&](const std::string &) { return licence.term.cursor_on(" Accept "); }));
    // Some steps change only the height, or only the width: a taller
    // terminal gives the licence more rows, a lower one never cuts it.
    int licence_height = 0;
    for (const auto &[columns, rows] :
         std::vector<std::pair<int, int>>{{100, 30}, {72, 18}, {70, 16}, {90, 26}, {90, 40}, {120, 40}, {120, 20}}) {
        licence.term.resize(columns, rows);
        // Laid out for the new size: the window's own bottom (the last
        // corner on the screen) above the help line, which is drawn.
        ASSERT_TRUE(licence.term.wait_until([&](const std::string &) {
            const auto bottom = licence.term.find("\xe2\x94\x94", true);
            const std::vector<std::string> lines = licence.term.rows();
            return bottom.first >= 0 && bottom.first < rows - 1 && licence.term.find(" Decline ").first >= 0 &&
                   static_cast<int>(lines.size()) == rows &&
                   lines[static_cast<std::size_t>(rows - 1)].find("<Tab> to switch") != std::string::npos &&
                   licence.term.cursor_on(" Accept ");
        })) << columns << "x" << rows << "\n" << licence.term.screen();
        expect_between_header_and_help_line(licence.term, rows);
        const auto height = [&] {
            return licence.term.find("\xe2\x94\x94", true).first - licence.term.find("\xe2\x94\x8c").first;
        };
        if (columns == 90 && rows == 40) {
            EXPECT_TRUE(licence.term.wait_until([&](const std::string &) { return height() > licence_height; }))
                << licence.term.screen();
        }
        licence_height = height();
    }
    licence.term.press("Enter");
    ASSERT_TRUE(licence.term.wait_gone("License Agreement"));
    licence.finish();

    // So is the wait spinner's, while the missing packages are installed.
    WizardRun waiting;
    waiting.pkg.tool("installer/pm.sh", "case \"$1\" in --check) echo 'm libfoo' ;;\n--install) " +
                                            waiting.pkg.gate("spun") + " ;;\nesac\nexit 0\n");
    waiting.start();
    waiting.welcome_next();
    waiting.accept_licence();
    ASSERT_TRUE(waiting.term.wait_for("Do you want to install them now?"));
    waiting.term.press("Enter");
    ASSERT_TRUE(waiting.term.wait_for("Please wait while downloading is in progress"));
    waiting.term.resize(100, 30);
    EXPECT_TRUE(waiting.term.wait_until([&](const std::string &) {
        const auto left = waiting.term.find("\xe2\x94\x8c");
        const auto right = waiting.term.find("\xe2\x94\x90");
        const auto bottom = waiting.term.find("\xe2\x94\x94");
        return left.first >= 0 && left.first == right.first && std::abs(left.second + right.second + 1 - 100) <= 1 &&
               std::abs(left.first + bottom.first + 1 - 30) <= 2;
    })) << waiting.term.screen();
    EXPECT_NE(waiting.term.screen().find("Please wait while downloading is in progress"), std::string::npos);
    waiting.pkg.open_gate("spun");
    waiting.finish();

    // The welcome at 70x16 scrolls whole, in either language: its last
    // line is not the question, so it is not held below the box.
    for (const auto &[lang, first, last] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {"C.UTF-8", "Welcome to Tessaro", "at any moment to stop installing."},
             {"de_DE.UTF-8", "Willkommen beim Tessaro", "Wählen Sie jederzeit „Abbrechen“"}}) {
        SCOPED_TRACE(lang);
        WizardRun welcome(70, 16);
        welcome.pkg.use_sample_backend(); // with the catalogues
        welcome.start({}, lang);
        ASSERT_TRUE(welcome.term.wait_for(first)) << welcome.term.screen();
        EXPECT_EQ(welcome.term.screen().find(last), std::string::npos) << welcome.term.screen();
        welcome.term.press("End");
        ASSERT_TRUE(welcome.term.wait_for(last)) << welcome.term.screen();
        EXPECT_EQ(welcome.term.screen().find(first), std::string::npos) << welcome.term.screen();
        expect_between_header_and_help_line(welcome.term, 16);
    }

    // The cancel question over a welcome laid out at 80x24, shrunk to
    // 70x16: the welcome does not cover the header, the help line or the
    // question; answered No, the welcome comes back laid out for 70x16.
    for (const auto &[lang, question, next] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {"C.UTF-8", "Are you sure you want to cancel?", "Next >"},
             {"de_DE.UTF-8", "Möchten Sie wirklich abbrechen?", "Weiter >"}}) {
        SCOPED_TRACE(lang);
        WizardRun asked;
        asked.pkg.use_sample_backend(); // with the catalogues
        asked.start({}, lang);
        ASSERT_TRUE(asked.term.wait_for(next)) << asked.term.screen();
        asked.term.press("Tab");
        asked.term.press("Enter");
        ASSERT_TRUE(asked.term.wait_for(question)) << asked.term.screen();
        asked.term.resize(70, 16);
        // Drawn for the new size: the question's window whole (its last
        // corner) and the help line.
        ASSERT_TRUE(asked.term.wait_until([&](const std::string &screen) {
            const std::vector<std::string> lines = asked.term.rows();
            return lines.size() == 16 && screen.find(question) != std::string::npos &&
                   asked.term.find("\xe2\x94\x98", true).first > asked.term.find(question).first &&
                   lines[15].find("<Tab>") != std::string::npos;
        })) << asked.term.screen();
        expect_between_header_and_help_line(asked.term, 16);
        EXPECT_EQ(asked.term.screen().find(next), std::string::npos) << asked.term.screen();
        asked.term.press("Enter"); // No, the default
        ASSERT_TRUE(asked.term.wait_gone(question)) << asked.term.screen();
        ASSERT_TRUE(asked.term.wait_for(next)) << asked.term.screen();
        expect_between_header_and_help_line(asked.term, 16);
    }

    // A finish made while the terminal is too small (one row for its text)
    // is made anew once the terminal is large enough: its whole text.
    WizardRun cramped;
    cramped.pkg.tool("installer/pm.sh", "case \"$1\" in --check) " + cramped.pkg.gate("small") + " ;;\nesac\nexit 0\n");
    cramped.start();
    cramped.welcome_next();
    cramped.accept_licence();
    ASSERT_TRUE(cramped.term.wait_gone("License Agreement")); // the key taken before the shrink
    cramped.term.resize(60, 12);
    cramped.pkg.open_gate("small");
    ASSERT_TRUE(cramped.term.wait_for("Terminal too small")) << cramped.term.screen();
    ASSERT_TRUE(cramped.term.wait_until([&](const std::string &) {
        return cramped.pkg.log().find("exec_with_progress: ./installer-cli") != std::string::npos;
    })) << cramped.pkg.log();
    cramped.term.resize(80, 24);
    ASSERT_TRUE(cramped.term.wait_for("successfully completed installing")) << cramped.term.screen();
    expect_between_header_and_help_line(cramped.term, 24);
    cramped.finish();

    // At the smallest size the wizard takes, the tallest dialog of a run
    // (the optional packages that could not be installed) leaves the
    // header and the help line whole, in either language.
    for (const auto &[lang, help] : {std::pair<std::string, std::string>{"C.UTF-8", "<Tab> to switch between elements"},
                                     {"de_DE.UTF-8", "<Tab> zwischen Elementen wechseln"}}) {
        SCOPED_TRACE(lang);
        WizardRun small(70, 16);
        small.pkg.use_sample_backend(); // with the catalogues
        small.pkg.tool("installer/pm.sh", "case \"$1\" in --check) echo 'm libfoo' ;; --install) "
                                          "printf 'o gzip\\no tessaro-absent\\no tessaro-docs\\n' ;; esac\nexit 0\n");
        small.start({}, lang);
        ASSERT_TRUE(small.term.wait_for("Tessaro Virtualization SDK 3.1"));
        small.term.press("Enter");
        ASSERT_TRUE(small.term.wait_for("SAMPLE LICENCE AGREEMENT"));
        small.term.press("BTab");
        small.term.press("Enter");
        ASSERT_TRUE(small.term.wait_for("- libfoo"));
        small.term.press("Enter");
        // The list scrolls in the room the dialog has.
        ASSERT_TRUE(small.term.wait_for("\xe2\x86\x93", std::chrono::seconds(30))) << small.term.screen();
        const std::vector<std::string> rows = small.term.rows();
        EXPECT_NE(rows[15].find(help), std::string::npos) << small.term.screen();
        EXPECT_EQ(rows[0].rfind("Tessaro Virtualization SDK 3.1", 0), 0u) << small.term.screen();
        expect_between_header_and_help_line(small.term, 16);
    }

    // On a large terminal the recommendation of 40 packages takes the rows
    // the screen has, and its text is wrapped once (the sentence in two
    // rows, no word left alone on a row of its own).
    WizardRun large(200, 60);
    large.pkg.tool("installer/pm.sh", "case \"$1\" in --check) echo 'm libfoo' ;; --install) i=0; while [ $i -lt 40 ]; "
                                      "do echo o tessaro-absent-$i; i=$((i+1)); done ;; esac\nexit 0\n");
    large.start();
    large.welcome_next();
    large.accept_licence();
    ASSERT_TRUE(large.term.wait_for("- libfoo"));
    large.term.press("Enter");
    ASSERT_TRUE(large.term.wait_for("- tessaro-absent-39", std::chrono::seconds(30))) << large.term.screen();
    EXPECT_EQ(large.term.find("well:").first - large.term.find("successfully installed").first, 1) << large.term.screen();
    large.term.press("Enter");
    large.finish();
}

TEST(WizardRun, UnreadableConsoleLevelIsLoggedAndTheRunGoesOn)
{
    WizardRun run;
    run.pkg.set_printk("");
    run.start();
    run.welcome_next();
    run.accept_licence();
    run.finish();
    EXPECT_EQ(run.pkg.printk(), "");
    EXPECT_NE(run.pkg.log().find(": Failed to setup console printk level.\n"), std::string::npos);
}

// The terminal check: the screen is drawn only when keys can be read from
// a terminal, standard output is one, and the terminal's type and size can
// carry the screens. Otherwise the run ends with 1 before it changes
// anything, and says why and how to run unattended.
TEST(WizardRun, WithoutATerminalTheRunSaysHowToRunUnattended)
{
    PackageFixture pkg;
    ProcessResult r = pkg.run({});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("The installer cannot start its text screen: standard input is not a terminal."),
              std::string::npos);
    EXPECT_NE(r.err.find("-i"), std::string::npos);
    EXPECT_NE(r.err.find("-r"), std::string::npos);
    EXPECT_NE(pkg.log().find(": Exiting with code 1\n"), std::string::npos);
    EXPECT_EQ(pkg.printk(), "7 4 1 7\n");

    // On a terminal: what is redirected or set around the installer, the
    // terminal's size, and why it is refused (empty: the screen is drawn).
    struct Row {
        std::string env;
        std::string redirect;
        int cols;
        int rows;
        std::string refusal;
    };
    const std::string size_refusal = ", and the screens need at least 70 columns and 16 rows";
    const Row table[] = {
        {"TERM=dumb", "", 80, 24, "the terminal type 'dumb' is not supported"},
        {"TERM=no-such-terminal", "", 80, 24, "the terminal type 'no-such-terminal' is not supported"},
        {"TERM=", "", 80, 24, "the terminal type (TERM) is not set"},
        {"-u TERM", "", 80, 24, "the terminal type (TERM) is not set"},
        {"", " >output", 80, 24, "standard output is not a terminal"},
        {"", " 2>errors", 80, 24, ""},
        {"", "", 69, 24, "the terminal has 69 columns and 24 rows" + size_refusal},
        {"", "", 80, 15, "the terminal has 80 columns and 15 rows" + size_refusal},
        {"", "", 40, 12, "the terminal has 40 columns and 12 rows" + size_refusal},
        {"", "", 70, 16, ""},
    };
    for (const Row &row : table) {
        SCOPED_TRACE(row.env + row.redirect + " " + std::to_string(row.cols) + "x" + std::to_string(row.rows));
        WizardRun run(row.cols, row.rows);
        run.term.start("cd " + sh_quote(run.pkg.state()) + " && env " + row.env + " " + run.pkg.command_text({}) +
                           row.redirect,
                       {"LANG=C.UTF-8"});
        if (row.refusal.empty()) {
            run.cancel_at_welcome();
            EXPECT_TRUE(run.term.left_as_found());
            continue;
        }
        EXPECT_EQ(run.term.wait_exit(), 1);
        EXPECT_NE(run.pkg.log().find(": The installer cannot start its text screen: " + row.refusal + ".\n"),
                  std::string::npos)
            << run.pkg.log();
        EXPECT_NE(run.term.screen().find("Run it with -i"), std::string::npos) << run.term.screen();
        EXPECT_EQ(run.pkg.calls(), "");
        EXPECT_TRUE(run.term.left_as_found());
    }
    // In German too, the size refusal says which number is columns and
    // which rows.
    WizardRun german(60, 20);
    german.pkg.use_sample_backend(); // with the catalogues
    german.start({}, "de_DE.UTF-8");
    EXPECT_EQ(german.term.wait_exit(), 1);
    EXPECT_NE(german.pkg.log().find("das Terminal hat 60 Spalten und 20 Zeilen, die Bildschirme brauchen mindestens 70 "
                                    "Spalten und 16 Zeilen"),
              std::string::npos)
        << german.pkg.log();
}

TEST(WizardRun, RedirectedInputAndTerminfoDirsStillDrawTheScreen)
{
    // Keys come from the controlling terminal when standard input is
    // redirected.
    WizardRun redirected;
    redirected.term.start(redirected.pkg.command_text({}) + " </dev/null", {"LANG=C.UTF-8"});
    redirected.welcome_next();
    redirected.accept_licence();
    redirected.finish();
    EXPECT_TRUE(redirected.term.left_usable());

    // A terminal type found only through TERMINFO_DIRS.
    TempDir terminfo;
    ASSERT_EQ(run_process({"/bin/sh", "-c", "infocmp screen | sed 's/^screen|/tessaro-test-term|/' | tic -o " +
                                                sh_quote(terminfo.path()) + " -"})
                  .status,
              0);
    WizardRun listed;
    listed.term.start("env TERM=tessaro-test-term TERMINFO_DIRS=" + sh_quote(terminfo.path()) + " " +
                          listed.pkg.command_text({}),
                      {"LANG=C.UTF-8"});
    listed.cancel_at_welcome();
}

TEST(WizardRun, HostileOutputInADialogLeavesTheTerminalIntact)
{
    WizardRun run;
    run.pkg.tool("installer/pm.sh", "case \"$1\" in --check) echo 'm libfoo' ;;\n"
                                    "--install) printf 'm lib\\033[2J\\033]0;pwned\\007\\377\\376 \\000after-nul %%s%%n\\n'; exit 1 ;;\n"
                                    "esac\nexit 0\n");
    run.start();
    run.welcome_next();
    run.accept_licence();
    ASSERT_TRUE(run.term.wait_for("Do you want to install them now?"));
    run.term.press("Enter");
    ASSERT_TRUE(run.term.wait_for("An error occurred while installing the following packages:"));
    std::string screen = run.term.screen();
    EXPECT_NE(screen.find("Install these packages manually"), std::string::npos);
    EXPECT_EQ(screen.find("after-nul"), std::string::npos);  // the text ends at the NUL
    // The escape sequences were shown, not obeyed: the frame is still there.
    EXPECT_NE(screen.find("\xe2\x94\x82"), std::string::npos);
    run.term.press("Enter");
    EXPECT_EQ(run.term.wait_exit(), 1);
    EXPECT_TRUE(run.term.left_usable());
    EXPECT_NE(run.pkg.log().find("after-nul"), std::string::npos);  // the log keeps every byte
}

TEST(WizardRun, OddPercentagesOnTheBar)
{
    WizardRun run;
    run.pkg.tool("installer-cli", "printf '[-5%%] neg\\n'\nsleep 0.3\nprintf '[999%%] big\\n'\nsleep 0.3\nprintf '[0x1f] hex\\n'\n");
    run.start();
    run.welcome_next();
    run.accept_licence();
    run.finish();
    EXPECT_TRUE(run.term.left_usable());
}

// Each long back-end step (the package check, the package install, an
// installer-cli run), in the wizard and in an unattended run on a
// terminal, under the signals a host sends. Resizes, as many as dragging a
// window sends: the step's output is read whole and the run finishes. A
// fatal signal: the step's whole command gets it and is waited for (killed
// after the grace time when it ignores it); one log entry, appended to the
// log's history, names the signal and the command; nothing of the back end
// writes after the run's last entry; the terminal is left exactly as it was
// found (also when standard input was redirected), the console level
// restored, the live progress line finished; the status is 128 + the
// signal.
TEST(WizardRun, LongStepsUnderSignalsAndResizes)
{
    // CLI: installer-cli's run of an installation, UPGRADE: its second run
    // of an upgrade (after a first run with a longer command line).
    enum Step { CHECK, INSTALL, CLI, UPGRADE };
    struct Case {
        bool wizard;
        std::string redirect;
        Step step;
        int sig;
        bool ignores;
        std::string entry; // the whole log entry, after its timestamp
        bool bare = false; // on a host without a C library
    };
    const std::string stopped = "; stopped the running command: ";
    const std::string pm_install =
        "./installer/pm.sh --install sdk --lib-deps data/lib_deps --logfile /var/log/kestrane-sdk-install.log\n";
    const std::string cli = "./installer-cli --verbose --logfile=/var/log/kestrane-sdk-install.log --progress "
                            "--define=\"kversion=$(uname -r)\"     -i Manifest 2>&1\n";
    const Case cases[] = {
        {true, "", CHECK, SIGWINCH, false, ""},
        {true, "", INSTALL, SIGWINCH, false, ""},
        {true, "", CLI, SIGWINCH, false, ""},
        // 0: Ctrl-L pressed, again and again, instead of a signal; -1: the
        // terminal resized through sizes too small and large while the
        // step is silent.
        {true, "", INSTALL, 0, false, ""},
        {true, "", CLI, 0, false, ""},
        {true, "", INSTALL, -1, false, ""},
        {true, "", CLI, -1, false, ""},
        {true, "", INSTALL, SIGTERM, false, "Received SIGTERM" + stopped + pm_install},
        {true, "", CLI, SIGHUP, false, "Received SIGHUP" + stopped + cli},
        {true, " </dev/null", CHECK, SIGHUP, false,
         "Received SIGHUP" + stopped + "./installer/pm.sh --check sdk --lib-deps data/lib_deps\n"},
        {true, " </dev/null", CLI, SIGTERM, false, "Received SIGTERM" + stopped + cli},
        {false, "", INSTALL, SIGINT, false, "Received SIGINT" + stopped + pm_install},
        {false, "", UPGRADE, SIGTERM, false, "Received SIGTERM" + stopped + cli},
        {false, "", CLI, SIGTERM, true,
         "Received SIGTERM; killed the running command after it did not stop within 5 seconds: " + cli},
#ifdef SHIPPED_INSTALLER
        {true, "", CLI, SIGTERM, false, "Received SIGTERM" + stopped + cli, true},
#endif
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.wizard ? "wizard" : "-i") + c.redirect + " step " + std::to_string(c.step) +
                     " signal " + std::to_string(c.sig) + (c.bare ? " bare host" : ""));
        WizardRun run;
        if (c.bare)
            run.pkg.use_bare_host();
        const std::string started = run.pkg.root() + "/started";
        const std::string calls = sh_quote(run.pkg.root() + "/calls.log");
        const std::string history = "2026-01-01T00:00:00+0000: an earlier run\n";
        write_file(run.pkg.state() + "/log/kestrane-sdk-install.log", history);
        // The step says it has started, then writes to the log until the
        // test opens its gate (or it is stopped).
        const std::string busy =
            "echo $$ > " + sh_quote(started) + "\n" +
            (c.ignores ? "trap '' TERM HUP INT\n" : "trap 'echo stopped >> " + calls + "; exit 1' TERM HUP INT\n") +
            (c.step == CHECK ? "" : "echo '[ 30%] Working'\n") + "i=0; while [ ! -e " + sh_quote(run.pkg.root() + "/gate-go") +
            " ] && [ $i -lt 1200 ]; do i=$((i + 1)); echo tick >> /var/log/kestrane-sdk-install.log; sleep 0.05; done\n";
        run.pkg.tool("installer/pm.sh", kRecord + "case \"$1\" in\n--check) " + (c.step == CHECK ? busy : "") +
                                            (c.step == INSTALL ? "echo 'm libfoo'\n" : "") + ";;\n--install) " +
                                            (c.step == INSTALL ? busy : "") + "echo 'o late'; echo installed >> " + calls +
                                            " ;;\nesac\nexit 0\n");
        // After its gate, installer-cli writes more than a pipe holds.
        if (c.step == CLI || c.step == UPGRADE) {
            run.pkg.tool("installer-cli", kRecord + "case \" $* \" in *' -i '*) ;; *) exit 0 ;; esac\n" + busy +
                                              "i=0; while [ $i -lt 1000 ]; do i=$((i + 1)); "
                                              "echo \"[ 50%] $(printf '%0100d' $i)\"; done\necho '[ 90%] late'\n");
        }
        if (c.step == UPGRADE)
            run.pkg.preinstall();
        if (c.wizard) {
            run.term.start(run.pkg.command_text({}) + c.redirect, {"LANG=C.UTF-8"});
            run.welcome_next();
            run.accept_licence();
            if (c.step == INSTALL) {
                ASSERT_TRUE(run.term.wait_for("Do you want to install them now?"));
                run.term.press("Enter");
            }
        } else {
            run.term.start(run.pkg.command_text({"-i"}) + "; s=$?; echo AFTER; (exit $s)", {"LANG=C.UTF-8"});
        }
        ASSERT_TRUE(run.term.wait_until([&](const std::string &) { return !read_file(started).empty(); }));
        std::string pid = shell_output("pgrep -f " + sh_quote("^" + run.pkg.program()));
        ASSERT_FALSE(pid.empty());
        std::string log;
        if (c.sig == -1) {
            // The spinner's window (INSTALL) or the bar's (CLI) follows
            // every size on its own: drawn whole and centred above the help
            // line, or, while the terminal is too small, the notice alone.
            const auto whole_at = [&](int cols, int rows) {
                return run.term.wait_until([&](const std::string &screen) {
                    const std::vector<std::string> lines = run.term.rows();
                    if ((cols < 70 || rows < 16) && screen.find("Terminal too small") != std::string::npos)
                        return screen.find("\xe2\x94\x8c") == std::string::npos;
                    const auto corner = run.term.find("\xe2\x94\x8c");
                    return static_cast<int>(lines.size()) == rows &&
                           lines[static_cast<std::size_t>(rows - 1)].find("<Tab> to switch") != std::string::npos &&
                           corner.first >= rows / 2 - 6 && corner.second >= cols / 2 - 30;
                });
            };
            for (const auto &[cols, rows] : std::vector<std::pair<int, int>>{{60, 12}, {80, 24}, {132, 43}, {70, 16}}) {
                run.term.resize(cols, rows);
                EXPECT_TRUE(whole_at(cols, rows)) << cols << "x" << rows << "\n" << run.term.screen();
            }
            for (int i = 0; i < 20; ++i) {
                run.term.resize(70 + i, 16 + i % 5);
                usleep(100000);
            }
            run.term.resize(100, 30);
            EXPECT_TRUE(whole_at(100, 30)) << run.term.screen();
            run.term.resize(80, 24);
            run.pkg.open_gate("go");
            if (c.step == INSTALL) {
                ASSERT_TRUE(run.term.wait_for("- late")) << run.term.screen();
                run.term.press("Enter");
            }
            run.finish();
            log = run.pkg.log();
        } else if (c.sig == SIGWINCH || c.sig == 0) {
            for (int i = 0; i < 150; ++i) {
                if (c.sig == 0 && i % 30 == 0) {
                    run.term.press("C-l");
                } else if (c.sig != 0) {
                    ASSERT_EQ(kill(std::stoi(pid), SIGWINCH), 0);
                }
                usleep(5000);
            }
            run.pkg.open_gate("go");
            if (c.step == INSTALL) {
                ASSERT_TRUE(run.term.wait_for("- late")) << run.term.screen();
                EXPECT_NE(run.term.screen().find("Components installation"), std::string::npos);
                run.term.press("Enter");
            }
            run.finish();
            log = run.pkg.log();
            EXPECT_EQ(log.find("error in reading"), std::string::npos);
            if (c.step == INSTALL) {
                EXPECT_NE(log.find("--install sdk --lib-deps data/lib_deps --logfile /var/log/kestrane-sdk-install.log [0]\n"),
                          std::string::npos);
                EXPECT_NE(run.pkg.calls().find("installed\n"), std::string::npos);
            }
            if (c.step == CLI) {
                EXPECT_TRUE(std::regex_search(log, std::regex("exec_with_progress: \\./installer-cli [^\n]* 0\n"))) << log;
            }
        } else {
            ASSERT_EQ(kill(std::stoi(pid), c.sig), 0);
            ASSERT_EQ(run.term.wait_exit(), 128 + c.sig) << run.term.screen();
            EXPECT_NE(kill(std::stoi(read_file(started)), 0), 0);
            log = run.pkg.log();
            EXPECT_NE(log.find(": " + c.entry), std::string::npos) << log;
            const std::string last = ": Exiting with code " + std::to_string(128 + c.sig) + "\n";
            EXPECT_EQ(log.substr(log.size() - std::min(log.size(), last.size())), last) << log;
            EXPECT_EQ(run.pkg.calls().find("stopped") != std::string::npos, !c.ignores);
            EXPECT_EQ(run.pkg.printk(), "7 4 1 7\n");
            // The wizard's screen is gone: what to do now is said.
            EXPECT_EQ(run.term.screen().find("The installer was stopped while it changed the host. Start it again: -i") !=
                          std::string::npos,
                      c.wizard)
                << run.term.screen();
        }
        EXPECT_EQ(log.rfind(history, 0), 0u) << log;
        EXPECT_TRUE(run.term.left_usable());
        EXPECT_TRUE(run.term.left_as_found());
        if (!c.wizard) {
            // Whatever the run printed last (the live progress line of
            // installer-cli) is finished with a line feed.
            EXPECT_EQ(run.term.find("AFTER").second, 0) << run.term.screen();
            if (c.step == CLI || c.step == UPGRADE) {
                EXPECT_EQ(run.term.find(c.step == CLI ? " 30% Working" : " 65% Working").first + 1, run.term.find("AFTER").first) << run.term.screen();
            }
        }
    }
}
