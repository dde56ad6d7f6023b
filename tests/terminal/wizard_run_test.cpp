// Whole interactive runs of the real program in a real terminal, inside the
// sandbox, driven the way an administrator drives them.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include "support/package_fixture.h"
#include "support/terminal.h"
#include "support/wizard_run.h"

namespace {

const std::string kRecord = "echo \"$(basename \"$0\") $*\" >> \"$(cd \"$(dirname \"$0\")\" && while [ ! -f installer-cli ]; do cd ..; done; pwd)/calls.log\"\n";

} // namespace

TEST(WizardRun, FreshInstallFromWelcomeToFinish)
{
    WizardRun run;
    run.pkg.tool("installer-cli", kRecord + "echo '[ 10%] Starting'\nsleep 0.6\necho '[ 60%] Copying'\nsleep 0.6\necho '[100%] Done'\n");
    run.start();
    ASSERT_TRUE(run.term.wait_for("Tessaro Virtualization SDK 3.1 Installer - "));
    EXPECT_EQ(run.term.rows()[0].rfind("Tessaro Virtualization SDK 3.1 Installer - ", 0), 0u);
    EXPECT_NE(run.term.rows()[23].find("<Tab> to switch between elements  |  <Space> to select"), std::string::npos);
    // While the screen is up the console level is lowered to the larger of
    // the minimum level and 3.
    EXPECT_EQ(run.pkg.printk(), "3 4 1 7\n");
    run.welcome_next();
    run.accept_licence();
    ASSERT_TRUE(run.term.wait_for("60%"));
    EXPECT_NE(run.term.screen().find("installing"), std::string::npos);
    ASSERT_TRUE(run.term.wait_for("Tessaro Virtualization SDK Installation Completed"));
    EXPECT_NE(run.term.screen().find("You have successfully completed installing Tessaro"), std::string::npos);
    EXPECT_EQ(run.term.screen().find("Reboot"), std::string::npos);
    EXPECT_TRUE(run.term.cursor_on(" Exit "));
    run.term.press("Enter");
    EXPECT_EQ(run.term.wait_exit(), 0);
    EXPECT_TRUE(run.term.left_usable());
    EXPECT_EQ(run.pkg.printk(), "7 4 1 7\n");
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
    ASSERT_TRUE(run.term.wait_for("Please select action to perform:"));
    run.term.press("Enter");
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
    {
        WizardRun no_licence;
        no_licence.pkg.remove("LICENSE");
        no_licence.start();
        no_licence.welcome_next();
        ASSERT_TRUE(no_licence.term.wait_for("License agreement file 'LICENSE' cannot be found"));
        EXPECT_TRUE(no_licence.term.cursor_on(" Exit "));
        no_licence.term.press("Enter");
        EXPECT_EQ(no_licence.term.wait_exit(), 1);
        EXPECT_TRUE(no_licence.term.left_usable());
        EXPECT_EQ(no_licence.pkg.printk(), "7 4 1 7\n");
    }
}

TEST(WizardRun, NotEnoughDiskSpaceCanBeRetried)
{
    WizardRun run;
    std::string counter = sh_quote(run.pkg.root() + "/disk-checks");
    run.pkg.tool("installer/check_disk_space.sh", "echo x >> " + counter + "\n"
                 "if [ $(wc -l < " + counter + ") -lt 2 ]; then echo 'Free some space on /usr/share.'; exit 2; fi\nexit 0\n");
    run.start();
    run.welcome_next();
    run.accept_licence();
    ASSERT_TRUE(run.term.wait_for("Free some space on /usr/share."));
    EXPECT_NE(run.term.screen().find("Not enough disk space"), std::string::npos);
    run.term.press("Enter");
    run.finish();
    EXPECT_EQ(read_file(run.pkg.root() + "/disk-checks"), "x\nx\n");
}

TEST(WizardRun, PackageQuestionAndFourRetryQuestions)
{
    WizardRun run;
    run.pkg.tool("installer/pm.sh", kRecord + "case \"$1\" in\n--check) echo 'm libfoo'; echo 'o gzip' ;;\n"
                                              "--install) sleep 0.3; exit 123 ;;\nesac\nexit 0\n");
    run.start();
    run.welcome_next();
    run.accept_licence();
    ASSERT_TRUE(run.term.wait_for("You need to install the following components"));
    EXPECT_NE(run.term.screen().find("Do you want to install them now?"), std::string::npos);
    EXPECT_NE(run.term.screen().find("- libfoo"), std::string::npos);
    EXPECT_NE(run.term.screen().find("Component Installation"), std::string::npos);
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
}

TEST(WizardRun, SignalDuringADialogRestoresEverything)
{
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        WizardRun run;
        run.start();
        ASSERT_TRUE(run.term.wait_for("Welcome to")) << sig;
        EXPECT_EQ(run.pkg.printk(), "3 4 1 7\n") << sig;
        std::string pid = shell_output("pgrep -f " + sh_quote("^" + run.pkg.program()));
        ASSERT_FALSE(pid.empty()) << sig;
        ASSERT_EQ(kill(std::stoi(pid), sig), 0) << sig;
        EXPECT_EQ(run.term.wait_exit(), 128 + sig) << sig;
        EXPECT_TRUE(run.term.left_usable()) << sig;
        EXPECT_EQ(run.pkg.printk(), "7 4 1 7\n") << sig;
        EXPECT_NE(run.pkg.log().find(": Exiting with code " + std::to_string(128 + sig) + "\n"), std::string::npos)
            << sig;
    }
}

TEST(WizardRun, ResizesDuringAPackageInstallDoNotBreakIt)
{
    WizardRun run;
    std::string started = run.pkg.root() + "/install-started";
    run.pkg.tool("installer/pm.sh", kRecord + "case \"$1\" in\n--check) echo 'm libfoo' ;;\n"
                                              "--install) touch " + sh_quote(started) + "; sleep 2; echo 'o late'; "
                                              "echo installed >> " + sh_quote(run.pkg.root() + "/calls.log") + " ;;\n"
                                              "esac\nexit 0\n");
    run.start();
    run.welcome_next();
    run.accept_licence();
    ASSERT_TRUE(run.term.wait_for("Do you want to install them now?"));
    run.term.press("Enter");
    ASSERT_TRUE(run.term.wait_until([&](const std::string &) { return file_exists(started); }));
    std::string pid = shell_output("pgrep -f " + sh_quote("^" + run.pkg.program()));
    ASSERT_FALSE(pid.empty());
    // As many resize signals as a window being dragged sends, spread over
    // the package manager's run.
    for (int i = 0; i < 150; ++i) {
        ASSERT_EQ(kill(std::stoi(pid), SIGWINCH), 0);
        usleep(5000);
    }
    ASSERT_TRUE(run.term.wait_for("- late")) << run.term.screen();
    EXPECT_NE(run.term.screen().find("Components installation"), std::string::npos);
    run.term.press("Enter");
    run.finish();
    std::string log = run.pkg.log();
    EXPECT_NE(log.find("--install sdk --lib-deps data/lib_deps --logfile /var/log/kestrane-sdk-install.log [0]\n"),
              std::string::npos);
    EXPECT_EQ(log.find("error in reading"), std::string::npos);
    EXPECT_NE(run.pkg.calls().find("installed\n"), std::string::npos);
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

    // Terminal types the screen cannot be drawn on: one that cannot address
    // the cursor, an unknown one, none.
    for (const std::string type : {"TERM=dumb", "TERM=no-such-terminal", "TERM=", "-u TERM"}) {
        Terminal term;
        PackageFixture refused;
        term.start("env " + type + " " + refused.command_text({}));
        EXPECT_EQ(term.wait_exit(), 1) << type;
        std::string log = refused.log();
        EXPECT_TRUE(log.find("the terminal type '" + type.substr(5) + "' is not supported") != std::string::npos ||
                    log.find("the terminal type (TERM) is not set") != std::string::npos)
            << type << log;
    }

    // Terminals smaller than the screens need, by a column or a row, are
    // refused as plainly; the smallest that is large enough draws them.
    struct Size {
        int cols;
        int rows;
        bool refused;
    };
    for (const Size size : {Size{69, 24, true}, Size{80, 15, true}, Size{40, 12, true}, Size{70, 16, false}}) {
        WizardRun sized(size.cols, size.rows);
        sized.start();
        const std::string found = std::to_string(size.cols) + " columns and " + std::to_string(size.rows) + " rows";
        if (size.refused) {
            EXPECT_EQ(sized.term.wait_exit(), 1) << found;
            EXPECT_NE(sized.pkg.log().find(": The installer cannot start its text screen: the terminal has " + found +
                                           ", and the screens need at least 70 columns and 16 rows.\n"),
                      std::string::npos)
                << sized.pkg.log();
            EXPECT_NE(sized.term.screen().find("Run it with -i"), std::string::npos) << sized.term.screen();
        } else {
            sized.cancel_at_welcome();
        }
    }
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

// A fatal signal during a long back-end step, in the wizard and in an
// unattended run on a terminal: the step's whole command gets the signal
// and is waited for (killed after the grace time when it ignores it); one
// log entry names the signal and the command; nothing of the back end is
// left to write after the run's last entry; the terminal, the console
// level and the live progress line are left whole; the status is 128 +
// the signal.
TEST(WizardRun, SignalsStopTheRunningBackEndStep)
{
    struct Case {
        bool wizard;
        const char *tool;
        int sig;
        bool ignores;
        const char *entry;
    };
    const Case cases[] = {
        {true, "installer/pm.sh", SIGTERM, false, "Received SIGTERM; stopped the running command: ./installer/pm.sh --install sdk"},
        {true, "installer-cli", SIGHUP, false, "Received SIGHUP; stopped the running command: ./installer-cli --verbose"},
        {false, "installer/pm.sh", SIGINT, false, "Received SIGINT; stopped the running command: ./installer/pm.sh --install sdk"},
        {false, "installer-cli", SIGTERM, true,
         "Received SIGTERM; killed the running command after it did not stop within 5 seconds: ./installer-cli --verbose"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.tool) + " " + std::to_string(c.sig));
        WizardRun run;
        const std::string started = run.pkg.root() + "/started";
        const std::string calls = sh_quote(run.pkg.root() + "/calls.log");
        std::string busy = "echo $$ > " + sh_quote(started) + "\n" +
                           (c.ignores ? "trap '' TERM HUP INT\n"
                                      : "trap 'echo stopped >> " + calls + "; exit 1' TERM HUP INT\n") +
                           "echo '[ 30%] Working'\ni=0; while [ $i -lt 1200 ]; do i=$((i + 1)); echo tick >> /var/log/kestrane-sdk-install.log; "
                           "sleep 0.05; done\n";
        if (std::string(c.tool) == "installer/pm.sh")
            busy = "if [ \"$1\" = --check ]; then echo 'm libfoo'; exit 0; fi\n" + busy;
        run.pkg.tool(c.tool, kRecord + busy);
        if (c.wizard)
            run.start();
        else
            run.term.start(run.pkg.command_text({"-i"}) + "; s=$?; echo AFTER; (exit $s)", {"LANG=C.UTF-8"});
        if (c.wizard) {
            run.welcome_next();
            run.accept_licence();
            if (std::string(c.tool) == "installer/pm.sh") {
                ASSERT_TRUE(run.term.wait_for("Do you want to install them now?"));
                run.term.press("Enter");
            }
        }
        ASSERT_TRUE(run.term.wait_until([&](const std::string &) { return !read_file(started).empty(); }));
        std::string pid = shell_output("pgrep -f " + sh_quote("^" + run.pkg.program()));
        ASSERT_FALSE(pid.empty());
        ASSERT_EQ(kill(std::stoi(pid), c.sig), 0);
        ASSERT_EQ(run.term.wait_exit(), 128 + c.sig) << run.term.screen();
        EXPECT_NE(kill(std::stoi(read_file(started)), 0), 0);
        std::string log = run.pkg.log();
        EXPECT_NE(log.find(std::string(c.entry)), std::string::npos) << log;
        const std::string last = ": Exiting with code " + std::to_string(128 + c.sig) + "\n";
        EXPECT_EQ(log.substr(log.size() - std::min(log.size(), last.size())), last) << log;
        EXPECT_EQ(run.pkg.calls().find("stopped") != std::string::npos, !c.ignores);
        EXPECT_TRUE(run.term.left_usable());
        EXPECT_EQ(run.pkg.printk(), "7 4 1 7\n");
        if (!c.wizard) {
            // Whatever the run printed last (the live progress line of
            // installer-cli) is finished with a line feed.
            EXPECT_EQ(run.term.find("AFTER").second, 0) << run.term.screen();
            if (std::string(c.tool) == "installer-cli") {
                EXPECT_EQ(run.term.find(" 30% Working").first + 1, run.term.find("AFTER").first) << run.term.screen();
            }
        }
    }
}
