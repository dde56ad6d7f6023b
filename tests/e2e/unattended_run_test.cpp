// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// Whole unattended runs of the real program in the sandbox, with scripted
// back-end tools that record how they were called.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <cstring>
#include <regex>

#include "support/package_fixture.h"

namespace {

const std::string kCli = "installer-cli --verbose --logfile=/var/log/kestrane-sdk-install.log --progress --define=kversion=";
const std::string kInstalled = "/usr/share/kestrane-virtualization-sdk/Manifest";
const std::string kRecord = "echo \"$(basename \"$0\") $*\" >> \"$(dirname \"$0\")/$(test -d \"$(dirname \"$0\")/installer\" && echo . || echo ..)/calls.log\"\n";

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

// The calls (as "$*" shows them, blanks collapsed) without the kernel release, which depends on the machine.
std::string calls_of(const PackageFixture &pkg)
{
    std::string text = pkg.calls();
    std::string release = shell_output("uname -r");
    release.pop_back();
    for (std::size_t at = text.find(release); at != std::string::npos; at = text.find(release))
        text.replace(at, release.size(), "R");
    return text;
}

// An installer-cli that says it has started, then waits (at most 30 s) for
// the test to release it.
void pausing_installer_cli(const PackageFixture &pkg, const std::string &started, const std::string &release)
{
    pkg.tool("installer-cli", kRecord + "touch " + sh_quote(started) + "\ni=0\nwhile [ ! -e " + sh_quote(release) +
                                  " ] && [ $i -lt 3000 ]; do sleep 0.01; i=$((i + 1)); done\necho '[100%] Done'\n");
}

RunOptions with_env(std::vector<std::string> env)
{
    RunOptions options;
    options.env = std::move(env);
    return options;
}

RunOptions started_as(const std::string &cwd, const std::string &program)
{
    RunOptions options;
    options.cwd = cwd;
    options.program = program;
    return options;
}

} // namespace

TEST(UnattendedInstall, FreshInstallRunsTheToolsInOrder)
{
    PackageFixture pkg;
    ProcessResult r = pkg.run({"-i"}, with_env({"KST_WRAPPER_LIBREPO=from-outside"}));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Please wait while installing is in progress\n"
                     "Congratulations!\n\nYou have successfully completed installing Tessaro Virtualization SDK for Linux.\n\n\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(calls_of(pkg), "check_disk_space.sh \n"
                             "pm.sh --check sdk --lib-deps data/lib_deps\n" +
                                 kCli + "R -i Manifest\n");
    std::vector<std::string> log = lines(pkg.log());
    ASSERT_GE(log.size(), 6u);
    EXPECT_EQ(log[0].substr(log[0].find(": ")), ": ");
    EXPECT_EQ(log[1], "");
    EXPECT_EQ(log[2], "Tessaro Virtualization SDK 3.1.0.412 Installer started.");
    EXPECT_EQ(log[3].substr(log[3].find(": ")), ": Unattended install mode.");
    std::string whole = pkg.log();
    EXPECT_NE(whole.find(": execCmd: ./installer/check_disk_space.sh 2>&1 [0]\n"), std::string::npos);
    EXPECT_NE(whole.find(": exec_with_progress: ./installer-cli --verbose --logfile=/var/log/kestrane-sdk-install.log "
                         "--progress --define=\"kversion=$(uname -r)\"     -i Manifest 2>&1 0\n"),
              std::string::npos);
    // An unattended run leaves the console level alone.
    EXPECT_EQ(pkg.printk(), "7 4 1 7\n");

    // A reader of its output that has gone never changes the run's status.
    RunOptions closed_reader;
    closed_reader.wrapper = {"sh", "-c", "{ \"$@\"; echo \"status $?\" >&2; } | true", "sh"};
    r = pkg.run({"-i"}, closed_reader);
    EXPECT_EQ(r.err, "status 0\n");
}

TEST(UnattendedInstall, ToolsSeeAnEmptyWrapperVariable)
{
    PackageFixture pkg;
    pkg.tool("installer/pm.sh", "echo \"librepo=[${KST_WRAPPER_LIBREPO-unset}]\" >> " + sh_quote(pkg.root() + "/env.log") + "\n");
    ProcessResult r = pkg.run({"-i"}, with_env({"KST_WRAPPER_LIBREPO=from-outside"}));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(pkg.root() + "/env.log"), "librepo=[]\n");
}

TEST(UnattendedInstall, UpgradeErasesKeepingConfigThenInstalls)
{
    PackageFixture pkg;
    pkg.preinstall();
    ProcessResult r = pkg.run({"-i", "-f"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(calls_of(pkg), "check_disk_space.sh \n"
                             "pm.sh --check sdk --lib-deps data/lib_deps\n" +
                                 kCli + "R --force -e --skip-sections config " + kInstalled + "\n" + kCli +
                                 "R --force -i Manifest\n");
    EXPECT_NE(r.out.find("Please wait while upgrading is in progress\n"), std::string::npos);
    EXPECT_NE(r.out.find("You have successfully completed updating Tessaro Virtualization SDK for Linux.\n"),
              std::string::npos);
}

TEST(UnattendedInstall, FailedFirstHalfOfAnUpgradeStopsThere)
{
    PackageFixture pkg;
    pkg.preinstall();
    pkg.tool("installer-cli", kRecord + "echo 'cannot erase' >&2\nexit 4\n");
    ProcessResult r = pkg.run({"-i"});
    EXPECT_EQ(r.status, 1);
    // The back end's own reason first, then the installer's.
    EXPECT_EQ(r.err, "cannot erase\nError during configuration Tessaro Virtualization SDK. Look at "
                     "/var/log/kestrane-sdk-install.log for more information.\n");
    EXPECT_EQ(calls_of(pkg).find(" -i Manifest"), std::string::npos);
    std::string log = pkg.log();
    EXPECT_NE(log.find(": ./installer-cli: cannot erase\n"), std::string::npos);
    EXPECT_NE(log.find(" 2>&1 4\n"), std::string::npos);
    EXPECT_NE(log.find(": Error: Error during configuration"), std::string::npos);
    EXPECT_NE(log.find(": Exiting with code 1\n"), std::string::npos);
}

// A signal the installer was started with ignored (nohup) stays ignored:
// the run goes on and ends well.
TEST(UnattendedInstall, SignalsIgnoredAtTheStartStayIgnored)
{
    PackageFixture pkg;
    const std::string started = pkg.root() + "/started";
    const std::string release = pkg.root() + "/release";
    pausing_installer_cli(pkg, started, release);
    RunOptions nohup;
    nohup.wrapper = {"sh", "-c", "trap '' HUP; exec \"$@\"", "sh"};
    BackgroundProcess run(pkg.command({"-i"}, nohup), pkg.state());
    ASSERT_TRUE(eventually([&] { return file_exists(started); }));
    ASSERT_EQ(kill(run.pid(), SIGHUP), 0);
    write_file(release, "");
    ProcessResult r = run.wait();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(pkg.log().find("Received SIGHUP"), std::string::npos);

    // Started with them blocked, they are not: a stop request stops it.
    for (int sig : {SIGTERM, SIGHUP}) {
        std::filesystem::remove(started);
        std::filesystem::remove(release);
        RunOptions blocked;
        blocked.wrapper = {"python3", "-c",
                           "import os, signal, sys; signal.pthread_sigmask(signal.SIG_BLOCK, {" + std::to_string(sig) +
                               "}); os.execvp(sys.argv[1], sys.argv[1:])"};
        BackgroundProcess stopped(pkg.command({"-i"}, blocked), pkg.state());
        ASSERT_TRUE(eventually([&] { return file_exists(started); }));
        ASSERT_EQ(kill(stopped.pid(), sig), 0);
        EXPECT_EQ(stopped.wait().status, 128 + sig) << sig;
    }
}

TEST(UnattendedRemove, RemovesWithoutLicenceDiskCheckOrPackages)
{
    PackageFixture pkg;
    pkg.preinstall();
    pkg.remove("LICENSE");
    ProcessResult r = pkg.run({"-r"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(calls_of(pkg), kCli + "R -e " + kInstalled + "\n");
    EXPECT_EQ(r.out, "Please wait while removing is in progress\n"
                     "Congratulations!\n\nYou have successfully removed Tessaro Virtualization SDK for Linux.\n\n\n");
}

TEST(UnattendedRemove, NothingInstalledIsAnError)
{
    PackageFixture pkg;
    ProcessResult r = pkg.run({"-r"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Tessaro Virtualization SDK is not installed\n");
    EXPECT_EQ(pkg.calls(), "");
    std::string log = pkg.log();
    EXPECT_NE(log.find(": Error: Tessaro Virtualization SDK is not installed\n"), std::string::npos);
    EXPECT_NE(log.find(": Exiting with code 1\n"), std::string::npos);
}

TEST(Preconditions, MissingFilesEndTheRun)
{
    PackageFixture no_licence;
    no_licence.remove("LICENSE");
    ProcessResult r = no_licence.run({"-i"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "License agreement file 'LICENSE' cannot be found\n");

    PackageFixture no_cli;
    no_cli.remove("installer-cli");
    r = no_cli.run({"-i"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "An error occurred when checking archives: \nfile 'installer-cli': No such file or directory\n");
    EXPECT_EQ(no_cli.calls(), "");
}

TEST(Preconditions, DiskSpaceVerdicts)
{
    PackageFixture short_with_text;
    // The tool's text is shown verbatim, format directives and all.
    short_with_text.tool("installer/check_disk_space.sh", "echo 'Only 3 KiB free on /usr/share (%s%n%x).'\nexit 2\n");
    ProcessResult r = short_with_text.run({"-i"});
    EXPECT_EQ(r.status, 10);
    EXPECT_EQ(r.out, "Only 3 KiB free on /usr/share (%s%n%x).\n\n");
    EXPECT_NE(short_with_text.log().find(": Exiting with code 10\n"), std::string::npos);
    // Its controls reach no terminal, and none of its lines is lost.
    short_with_text.tool("installer/check_disk_space.sh", "printf 'Free space.\\a\\r\\033[2J\\nSecond line.\\n'\nexit 2\n");
    r = short_with_text.run({"-i"});
    EXPECT_EQ(r.status, 10);
    EXPECT_EQ(r.out, "Free space.   [2J\nSecond line.\n\n");

    // A message over 4095 characters is shown cut to exactly 4095.
    PackageFixture short_long;
    short_long.tool("installer/check_disk_space.sh", "printf 'x%.0s' $(seq 1 5000)\nexit 2\n");
    r = short_long.run({"-i"});
    EXPECT_EQ(r.status, 10);
    EXPECT_EQ(r.out, std::string(4095, 'x') + "\n");

    PackageFixture short_silent;
    short_silent.tool("installer/check_disk_space.sh", "exit 2\n");
    r = short_silent.run({"-i"});
    EXPECT_EQ(r.status, 10);
    EXPECT_EQ(r.out, "There is not enough space on the disk.\n");

    for (const char *body : {"exit 1\n", "kill -9 $$\n"}) {
        PackageFixture undecided;
        undecided.tool("installer/check_disk_space.sh", body);
        r = undecided.run({"-i"});
        EXPECT_EQ(r.status, 0) << body;
        EXPECT_NE(undecided.log().find(": The free disk space could not be measured (the check ended with status "),
                  std::string::npos)
            << body;
    }
}

TEST(PackageStep, CheckStatuses)
{
    struct Case {
        std::string check;
        int status;
        std::string err;
        bool installs;
    } cases[] = {
        {"printf ' .,;\\n-\\n'\nexit 0\n", 0, "", false},
        {"echo 'o gzip'\nexit 124\n", 0, "", false},
        {"exit 124\n", 0, "", false},
        {"printf 'm libfoo\\no bar\\n'\nexit 124\n", 1,
         "Installer cannot detect package manager on your system. Install the following packages and rerun Tessaro SDK "
         "installation:\n- libfoo\n- bar\n\n",
         false},
        {"exit 3\n", 1,
         "Unable to identify the missing components. Please contact the Tessaro support team for assistance.\n", false},
        {"echo 'm libfoo'\nexit 0\n", 0, "", true},
    };
    for (const Case &c : cases) {
        PackageFixture pkg;
        pkg.tool("installer/pm.sh", kRecord + "case \"$1\" in --check) " + c.check + " ;; esac\nexit 0\n");
        ProcessResult r = pkg.run({"-i"});
        EXPECT_EQ(r.status, c.status) << c.check;
        EXPECT_EQ(r.err, c.err) << c.check;
        EXPECT_EQ(pkg.calls().find("--install") != std::string::npos, c.installs) << c.check;
    }
}

TEST(PackageStep, InstallRetriesAndFailures)
{
    const std::string check = "--check) echo 'm libfoo'; exit 0 ;;\n";
    struct Case {
        std::string install;
        int status;
        std::string err;
        int attempts;
    } cases[] = {
        {"exit 123", 1, "An unknown error occurred while installing the required packages.\n", 5},
        {"echo 'm libfoo'; exit 123", 1,
         "An error occurred while installing the following packages:\n- libfoo\n\nInstall these packages manually and "
         "start the Tessaro SDK installation again.\n",
         5},
        {"echo 'm lib%s%n'; exit 1", 1,
         "An error occurred while installing the following packages:\n- lib%s%n\n\nInstall these packages manually "
         "and start the Tessaro SDK installation again.\n",
         1},
        {"echo 'o x'; exit 1", 1, "An unknown error occurred while installing the required packages.\n", 1},
        {"kill -9 $$", 1, "An unknown error occurred while installing the required packages.\n", 1},
    };
    for (const Case &c : cases) {
        PackageFixture pkg;
        pkg.tool("installer/pm.sh", kRecord + "case \"$1\" in\n" + check + "--install) " + c.install + " ;;\nesac\n");
        ProcessResult r = pkg.run({"-i"});
        EXPECT_EQ(r.status, c.status) << c.install;
        // The shell may add its own word on a killed tool before the message.
        EXPECT_TRUE(r.err.size() >= c.err.size() && r.err.compare(r.err.size() - c.err.size(), c.err.size(), c.err) == 0)
            << c.install << ": " << r.err;
        std::string calls = pkg.calls();
        int attempts = 0;
        for (std::size_t at = calls.find("--install"); at != std::string::npos; at = calls.find("--install", at + 1))
            ++attempts;
        EXPECT_EQ(attempts, c.attempts) << c.install;
        EXPECT_NE(calls.find("pm.sh --install sdk --lib-deps data/lib_deps --logfile /var/log/kestrane-sdk-install.log\n"),
                  std::string::npos);
    }
}

TEST(PackageStep, OptionalPackagesAreRecommended)
{
    // The names as the back end gives them, and as they are printed: its
    // escape sequences and controls blanked, never passed to the terminal.
    for (const auto &[given, printed] : std::vector<std::pair<std::string, std::string>>{
             {"gzip", "gzip"}, {"libt5-\\033[31mred\\007", "libt5- [31mred "}}) {
        PackageFixture pkg;
        pkg.tool("installer/pm.sh", kRecord + "case \"$1\" in\n--check) echo 'm libfoo'; printf 'o " + given +
                                              "\\n' ;;\n--install) printf 'o " + given + "\\n' ;;\nesac\nexit 0\n");
        ProcessResult r = pkg.run({"-i"});
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.out.find("Tessaro SDK was successfully installed, but we recommend you to install the following "
                             "packages as well:\n- " + printed + "\n\n"),
                  std::string::npos)
            << r.out;
        EXPECT_EQ(r.out.find('\033'), std::string::npos);
    }
}

TEST(PackageStep, QuietSuccessAfterARetryRecommendsNothing)
{
    PackageFixture pkg;
    std::string counter = sh_quote(pkg.root() + "/attempts");
    pkg.tool("installer/pm.sh", kRecord + "case \"$1\" in\n--check) echo 'm libfoo' ;;\n"
                                          "--install) echo x >> " + counter + "\n"
                                          "  if [ $(wc -l < " + counter + ") -lt 2 ]; then echo 'm libfoo'; exit 123; fi ;;\n"
                                          "esac\nexit 0\n");
    ProcessResult r = pkg.run({"-i"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("we recommend"), std::string::npos) << r.out;
}

TEST(LogPath, UnsafeLogPathReachesTheToolsAsOneArgument)
{
    PackageFixture pkg;
    std::string log = "/var/log/my log;touch pwned";
    pkg.tool("installer/pm.sh", "for a; do echo \"[$a]\"; done >> " + sh_quote(pkg.root() + "/args.log") +
                                     "\ncase \"$1\" in --check) echo 'm libfoo' ;; esac\nexit 0\n");
    ProcessResult r = pkg.run({"-i", "--log-path", log});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(file_exists(pkg.root() + "/pwned"));
    EXPECT_NE(read_file(pkg.root() + "/args.log").find("[--logfile]\n[" + log + "]\n"), std::string::npos);
    EXPECT_NE(pkg.log("my log;touch pwned").find("Installer started."), std::string::npos);
}

TEST(LogPath, LongestLogPathLeavesEveryCommandLineWhole)
{
    PackageFixture pkg;
    std::string log = "/var/log/";
    while (log.size() < 4095)
        log += std::string(std::min<std::size_t>(200, 4095 - log.size()), 'd') + "/";
    log.resize(4095);
    ASSERT_NE(log.back(), '/');
    pkg.tool("installer/pm.sh", kRecord + "case \"$1\" in --check) echo 'm libfoo' ;; esac\nexit 0\n");
    ProcessResult r = pkg.run({"-i", "--log-path=" + log});
    EXPECT_EQ(r.status, 0) << r.err;
    std::string calls = calls_of(pkg);
    EXPECT_NE(calls.find("pm.sh --install sdk --lib-deps data/lib_deps --logfile " + log + "\n"), std::string::npos);
    EXPECT_NE(calls.find("--logfile=" + log + " --progress --define=kversion=R -i Manifest\n"), std::string::npos);
}

TEST(LogPath, MissingLogDirectoryChangesNothingElse)
{
    PackageFixture pkg;
    ProcessResult r = pkg.run({"-i", "--log-path=/var/log/no/such/dir/install.log"});
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(file_exists(pkg.state() + "/log/no"));
}

TEST(LogPath, SecondRunAppends)
{
    PackageFixture pkg;
    pkg.run({"-i"});
    std::string first = pkg.log();
    pkg.run({"-i"});
    std::string both = pkg.log();
    EXPECT_EQ(both.rfind(first, 0), 0u);
    EXPECT_GT(both.size(), first.size() + 50);
}

TEST(StartUp, FromAnyDirectoryAndThroughALink)
{
    PackageFixture pkg;
    TempDir elsewhere;
    std::string link = elsewhere / "run-installer";
    ASSERT_EQ(symlink(pkg.program().c_str(), link.c_str()), 0);
    ProcessResult r = pkg.run({"-i"}, started_as("/", link));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(pkg.calls().find("-i Manifest"), std::string::npos);

    PackageFixture relative;
    r = relative.run({"-i"}, started_as(relative.root(), "./installer/install"));
    EXPECT_EQ(r.status, 0) << r.err;

    // Found through PATH, started from inside another package: it runs its
    // own package's tools, never the other's.
    PackageFixture other;
    std::filesystem::create_directories(other.root() + "/installer/sub");
    RunOptions through_path = started_as(other.root() + "/installer/sub", "run-installer");
    through_path.env = {"PATH=" + elsewhere.path() + ":/usr/sbin:/usr/bin:/sbin:/bin"};
    std::filesystem::remove(pkg.root() + "/calls.log");
    r = pkg.run({"-i"}, through_path);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(pkg.calls().find("-i Manifest"), std::string::npos);
    EXPECT_FALSE(file_exists(other.root() + "/calls.log"));
}

// A second installer refuses at once, naming the first, while the first
// runs; -v and -h need no lock; a killed run leaves no lock behind.
TEST(StartUp, OneInstallerAtATime)
{
    PackageFixture pkg;
    const std::string started = pkg.root() + "/started";
    const std::string release = pkg.root() + "/release";
    pausing_installer_cli(pkg, started, release);
    {
        BackgroundProcess first(pkg.command({"-i"}), pkg.state());
        ASSERT_TRUE(eventually([&] { return file_exists(started); }));
        const std::string pid = std::to_string(first.pid());
        for (const char *args : {"-r", "-i"}) {
            ProcessResult r = pkg.run({args});
            EXPECT_EQ(r.status, 1) << args;
            EXPECT_EQ(r.err, "Another installer is running (process " + pid + "). Only one installer can change this "
                             "host at a time: wait until it has finished, then start this one again.\n") << args;
        }
        for (const char *args : {"-v", "-h"})
            EXPECT_EQ(pkg.run({args}).status, 0) << args;
        write_file(release, "");
        ProcessResult r = first.wait();
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("successfully completed installing"), std::string::npos) << r.out;
    }
    std::string log = pkg.log();
    EXPECT_NE(log.find(": Another installer is running (process "), std::string::npos);

    // Killed outright while its back end goes on: the next run is not refused.
    std::filesystem::remove(started);
    std::filesystem::remove(release);
    pkg.preinstall();
    {
        BackgroundProcess killed(pkg.command({"-r"}), pkg.state());
        ASSERT_TRUE(eventually([&] { return file_exists(started); }));
        ASSERT_EQ(kill(killed.pid(), SIGKILL), 0);
        EXPECT_EQ(killed.wait().status, 128 + SIGKILL);
        // A bystander holds a directory on a file system that no longer
        // answers (a FUSE server that never replies): nothing the next runs
        // do asks it anything.
        TempDir hung;
        write_file(hung / "hung.py",
                   "import os, subprocess, sys, time\n"
                   "fd = os.open('/dev/fuse', os.O_RDWR)\n"
                   "subprocess.run(['mount', '-t', 'fuse', '-o', 'fd=%d,rootmode=40000,user_id=0,group_id=0' % fd, "
                   "'hung', sys.argv[1]], pass_fds=[fd], check=True)\n"
                   "held = os.open(sys.argv[1], os.O_PATH)\n"
                   "open(sys.argv[2], 'w').write('held')\n"
                   "time.sleep(60)\n");
        std::filesystem::create_directories(hung / "mount");
        BackgroundProcess bystander({"unshare", "-m", "--propagation", "private", "python3", hung / "hung.py",
                                     hung / "mount", hung / "ready"});
        ASSERT_TRUE(eventually([&] { return read_file(hung / "ready") == "held"; }));
        // In a pid namespace of its own whose /proc is still the parent's,
        // no number /proc gives names the processes it would signal: the
        // run waits, then refuses.
        RunOptions other_namespace;
        other_namespace.wrapper = {"unshare", "-p", "-f"};
        ProcessResult blind = pkg.run({"-i"}, other_namespace);
        EXPECT_EQ(blind.status, 1) << blind.err;
        EXPECT_NE(blind.err.find("The back-end command of an earlier run is still running: "), std::string::npos)
            << blind.err;
        EXPECT_FALSE(file_exists(release));
        write_file(release, "");
        EXPECT_EQ(pkg.run({"-i"}).status, 0);
    }

    // Records of the form runs once kept in the lock file, stale or forged,
    // and a record of the back end that nothing holds: nothing is signalled,
    // neither a group whose leader has exited nor this test's own group.
    // The worker of such a group (a daemon: setsid, fork, the leader exits)
    // lives on.
    {
        PackageFixture forged;
        TempDir scratch;
        ASSERT_EQ(run_process({"setsid", "/bin/sh", "-c", "sleep 60 </dev/null >/dev/null 2>&1 & echo $$ > " + sh_quote(scratch / "group")}).status,
                  0);
        ASSERT_TRUE(eventually([&] { return !read_file(scratch / "group").empty(); }));
        const std::string daemon_group = std::to_string(std::stoi(read_file(scratch / "group")));
        ASSERT_EQ(kill(-std::stoi(daemon_group), 0), 0);
        std::filesystem::create_directories(forged.state() + "/run");
        for (const std::string &record : std::vector<std::string>{
                 daemon_group + " 0", daemon_group + " 4242", "4294967296 0", "4294967297 0", "-" + daemon_group + " 0",
                 "0 0", "1 0", std::to_string(getpgrp()) + " 0", "garbage \x01\xff"}) {
            SCOPED_TRACE(record);
            write_file(forged.state() + "/run/kestrane-sdk-install.lock", "1\nbackend " + record + " ./installer-cli -i\n");
            write_file(forged.state() + "/run/kestrane-sdk-backend.lock", "running\n./installer-cli " + record + "\n");
            ProcessResult r = forged.run({"-i"});
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.err, "");
            EXPECT_EQ(kill(-std::stoi(daemon_group), 0), 0);
            EXPECT_FALSE(file_exists(forged.state() + "/run/kestrane-sdk-backend.lock"));
        }
        EXPECT_EQ(forged.log().find("earlier run"), std::string::npos) << forged.log();
        kill(-std::stoi(daemon_group), SIGKILL);

        // The record a run of the previous release left when it was killed
        // outright: its command, whose leader is the process it names, is
        // stopped, never run beside.
        std::filesystem::remove(scratch / "group");
        BackgroundProcess previous({"setsid", "-w", "/bin/sh", "-c", "echo $$ > " + sh_quote(scratch / "group") + "; sleep 60; :"});
        ASSERT_TRUE(eventually([&] { return !read_file(scratch / "group").empty(); }));
        const int group = std::stoi(read_file(scratch / "group"));
        const std::string stat = read_file("/proc/" + std::to_string(group) + "/stat");
        std::istringstream fields(stat.substr(stat.rfind(')') + 2));
        std::string start;
        for (int field = 3; field <= 22; ++field)
            fields >> start;
        write_file(forged.state() + "/run/kestrane-sdk-install.lock",
                   "1\nbackend " + std::to_string(group) + " " + start + " ./installer-cli -r\n");
        ProcessResult r = forged.run({"-i"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "Stopping the back-end command of an earlier run that is still running: ./installer-cli -r\n");
        EXPECT_NE(previous.wait(5000).status, -1); // its command ended
        EXPECT_TRUE(std::regex_match(read_file(forged.state() + "/run/kestrane-sdk-install.lock"), std::regex("[0-9]+\n")));

        // The record of a release that named no session: what holds it
        // open and locked is its command, and stopped; nothing else is.
        // Also where a container's seccomp profile refuses pidfds (EPERM).
        // Where no pidfd can be had for want of descriptors (EMFILE), nobody
        // is signalled, and the refusal names what still runs.
        for (int refused : {0, EPERM, EMFILE}) {
            SCOPED_TRACE(refused);
            RunOptions options;
            if (refused != 0)
                options.wrapper = {
                    "python3", "-c",
                    "import ctypes, os, sys\n"
                    "class F(ctypes.Structure): _fields_ = [('c', ctypes.c_ushort), ('t', ctypes.c_ubyte), ('f', ctypes.c_ubyte), ('k', ctypes.c_uint)]\n"
                    "class P(ctypes.Structure): _fields_ = [('n', ctypes.c_ushort), ('f', ctypes.POINTER(F))]\n"
                    "f = (F * 4)((0x20, 0, 0, 0), (0x15, 0, 1, 434), (0x06, 0, 0, 0x50000 + int(sys.argv[1])), (0x06, 0, 0, 0x7fff0000))\n"
                    "libc = ctypes.CDLL(None)\n"
                    "assert libc.prctl(38, 1, 0, 0, 0) == 0 and libc.prctl(22, 2, ctypes.byref(P(4, f))) == 0\n"
                    "os.execvp(sys.argv[2], sys.argv[2:])\n",
                    std::to_string(refused)};
            const std::string record = forged.state() + "/run/kestrane-sdk-backend.lock";
            write_file(record, "running\n./installer-cli -r\n", 0600);
            BackgroundProcess holder({"flock", record, "sleep", "60"});
            ASSERT_TRUE(eventually([&] { return run_process({"flock", "-n", record, "true"}).status != 0; }));
            BackgroundProcess bystander({"sleep", "60"});
            r = forged.run({"-i"}, options);
            const std::string stopping = "Stopping the back-end command of an earlier run that is still running: ./installer-cli -r\n";
            if (refused == EMFILE) {
                EXPECT_EQ(r.status, 1) << r.err;
                EXPECT_TRUE(std::regex_match(r.err, std::regex(stopping + "The back-end command of an earlier run is still running: "
                                                               "\\./installer-cli -r\nThis installer does not run beside it: wait until it "
                                                               "has ended, then start this one again.\nIts processes still running: " +
                                                               std::to_string(holder.pid()) + ", [0-9]+\n")))
                    << r.err;
                EXPECT_EQ(holder.wait(0).status, -1);
            } else {
                EXPECT_EQ(r.status, 0) << r.err;
                EXPECT_EQ(r.err, stopping);
                EXPECT_NE(holder.wait(5000).status, -1);
            }
            EXPECT_EQ(bystander.wait(0).status, -1) << "a process that does not hold the record was stopped";
        }
    }

    // A daemon that a finished back-end command started is no part of a
    // command that still runs: the next run leaves it alone.
    {
        PackageFixture starter;
        TempDir scratch;
        starter.tool("installer-cli", "setsid sleep 60 </dev/null >/dev/null 2>&1 &\necho $! > " +
                                          sh_quote(scratch / "daemon") + "\necho '[100%] Done'\n");
        ASSERT_EQ(starter.run({"-i"}).status, 0);
        const int daemon = std::stoi(read_file(scratch / "daemon"));
        ProcessResult r = starter.run({"-i"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(kill(daemon, 0), 0);
        kill(daemon, SIGKILL);
    }
    // Nor a service that the package step's maintainer script started
    // (setsid, every descriptor kept), when the run is killed outright in
    // a later command: that command is stopped, the service lives on.
    for (bool cgroup : {false, true}) {
        SCOPED_TRACE(cgroup ? "cgroup" : "session");
        PackageFixture starter;
        if (cgroup)
            starter.use_cgroup();
        TempDir hooks;
        starter.tool("installer/pm.sh", "case \"$1\" in\n--check) [ -e " + sh_quote(hooks / "daemon") +
                                            " ] || echo 'm libfoo' ;;\n--install) setsid sleep 60 &\necho $! > " +
                                            sh_quote(hooks / "daemon") + " ;;\nesac\n");
        const std::string started = hooks / "started";
        pausing_installer_cli(starter, started, hooks / "release");
        BackgroundProcess killed(starter.command({"-i"}), starter.state());
        ASSERT_TRUE(eventually([&] { return file_exists(started); }));
        const int daemon = std::stoi(read_file(hooks / "daemon"));
        ASSERT_EQ(kill(killed.pid(), SIGKILL), 0);
        EXPECT_EQ(killed.wait().status, 128 + SIGKILL);
        std::filesystem::remove(started);
        BackgroundProcess next(starter.command({"-i"}), starter.state());
        ASSERT_TRUE(eventually([&] { return file_exists(started); }));
        write_file(hooks / "release", "");
        ProcessResult r = next.wait();
        EXPECT_EQ(r.status, 0) << r.err;
        // Said once: what the cgroup held is not stopped a second time by
        // its session.
        EXPECT_EQ(r.err, "Stopping the back-end command of an earlier run that is still running: ./installer-cli "
                         "--verbose --logfile=/var/log/kestrane-sdk-install.log --progress "
                         "--define=\"kversion=$(uname -r)\"     -i Manifest 2>&1\n");
        EXPECT_EQ(kill(daemon, 0), 0) << "the service was stopped";
        kill(daemon, SIGKILL);
    }

    // A directory where the lock or the record must be, or a read-only
    // /run, leaves a run blind to another installer, or to what an earlier
    // one left running: it refuses, saying why, before any tool runs. In a
    // full /run its commands run without their record, which it says once. Only a cgroup tree, which
    // holds whatever an earlier command left, lets it go on without the
    // record.
    struct OddRun {
        const char *place;
        bool cgroup;
        int status;
        const char *says;
    };
    for (const OddRun &odd : {OddRun{"kestrane-sdk-install.lock", false, 1, "The installer cannot take its lock "},
                              OddRun{"read-only", false, 1, "The installer cannot take its lock "},
                              OddRun{"full", false, 0, "The back-end commands run without their record "},
                              OddRun{"kestrane-sdk-backend.lock", false, 1,
                                     "The installer cannot read or replace the record of an earlier run's back-end "},
                              OddRun{"kestrane-sdk-backend.lock", true, 0, ""}}) {
        SCOPED_TRACE(std::string(odd.place) + (odd.cgroup ? " cgroup" : ""));
        PackageFixture blind;
        if (odd.cgroup)
            blind.use_cgroup();
        if (std::string(odd.place) == "read-only" || std::string(odd.place) == "full")
            write_file(blind.state() + "/run-" + odd.place, "");
        else
            std::filesystem::create_directories(blind.state() + "/run/" + odd.place + "/inside");
        ProcessResult r = blind.run({"-i"});
        EXPECT_EQ(r.status, odd.status) << r.err;
        EXPECT_EQ(*odd.says == '\0' ? r.err : r.err.substr(0, std::strlen(odd.says)), odd.says);
        EXPECT_EQ(read_file(blind.root() + "/calls.log").empty(), odd.status != 0);
        // Said once, however many commands run without it.
        EXPECT_EQ(r.err.find(odd.says), r.err.rfind(odd.says)) << r.err;
    }

    // A lock held by a process that never wrote an id: refused, naming no
    // process.
    PackageFixture held;
    std::filesystem::create_directories(held.state() + "/run");
    BackgroundProcess holder({"flock", held.state() + "/run/kestrane-sdk-install.lock", "sleep", "60"});
    ASSERT_TRUE(eventually([&] { return file_exists(held.state() + "/run/kestrane-sdk-install.lock"); }));
    ProcessResult r = held.run({"-i"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Another installer is running. Only one installer can change this host at a time: wait until it "
                     "has finished, then start this one again.\n");

    // Started with its standard output or its standard error closed: what
    // it would print there (the success, a tool's warning) is lost, never
    // written into the lock file the run opens.
    for (const char *closing : {">&-", "2>&-", ">&- 2>&-"}) {
        SCOPED_TRACE(closing);
        PackageFixture closed;
        closed.tool("installer-cli", "echo 'a warning of the back end' >&2\necho '[100%] Done'\n");
        RunOptions without_output;
        without_output.wrapper = {"/bin/sh", "-c", std::string("exec \"$@\" ") + closing, "sh"};
        r = closed.run({"-i"}, without_output);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(std::regex_match(read_file(closed.state() + "/run/kestrane-sdk-install.lock"), std::regex("[0-9]+\n")))
            << read_file(closed.state() + "/run/kestrane-sdk-install.lock");
        EXPECT_NE(closed.log().find(": Exiting with code 0\n"), std::string::npos);
        EXPECT_NE(closed.log().find("installer-cli: a warning of the back end"), std::string::npos) << closed.log();
    }
}

TEST(SampleBackEnd, InstallsUpgradesAndRemovesForReal)
{
    PackageFixture pkg;
    pkg.use_sample_backend();
    // Whatever mask the administrator's shell has, every user can read the
    // SDK and run its tools; the log is root's alone.
    RunOptions strict_mask;
    strict_mask.wrapper = {"sh", "-c", "umask 077; exec \"$@\"", "sh"};
    ProcessResult r = pkg.run({"-i"}, strict_mask);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(pkg.sdk_installed());
    for (const auto &[path, mode] : std::vector<std::pair<std::string, unsigned>>{
             {"/usr/share/kestrane-virtualization-sdk/include/tessaro", 0755},
             {"/usr/share/kestrane-virtualization-sdk/include/tessaro/sdk.h", 0644},
             {"/usr/share/kestrane-virtualization-sdk/bin/tessaro-sdk-info", 0755},
             {"/etc/kestrane-sdk", 0755},
             {"/etc/kestrane-sdk/sdk.conf", 0644}}) {
        struct stat st{};
        ASSERT_EQ(stat(pkg.installed_file(path).c_str(), &st), 0) << path;
        EXPECT_EQ(st.st_mode & 07777, mode) << path;
    }
    struct stat log_st{};
    ASSERT_EQ(stat((pkg.state() + "/log/kestrane-sdk-install.log").c_str(), &log_st), 0);
    EXPECT_EQ(log_st.st_mode & 07777, 0600u);
    EXPECT_NE(read_file(pkg.installed_file("/usr/share/kestrane-virtualization-sdk/include/tessaro/sdk.h")).find("TESSARO_SDK_H"),
              std::string::npos);
    std::string conf = pkg.installed_file("/etc/kestrane-sdk/sdk.conf");
    EXPECT_TRUE(file_exists(conf));
    EXPECT_NE(pkg.log().find("installer-cli: installed /etc/kestrane-sdk/sdk.conf"), std::string::npos);

    // An upgrade keeps the settings the administrator changed.
    write_file(conf, "LOG_LEVEL=debug\n");
    r = pkg.run({"-i"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("completed updating"), std::string::npos);
    EXPECT_EQ(read_file(conf), "LOG_LEVEL=debug\n");
    EXPECT_NE(pkg.log().find("installer-cli: keeping /etc/kestrane-sdk/sdk.conf\n"), std::string::npos);
    EXPECT_TRUE(pkg.sdk_installed());

    r = pkg.run({"-r"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_FALSE(pkg.sdk_installed());
    EXPECT_FALSE(file_exists(conf));
    // As the licence tells the administrator, with no choice to offer.
    EXPECT_NE(read_file(pkg.root() + "/LICENSE").find("An upgrade keeps the configuration\nfile as you left it; removal "
                                                      "erases every file that the\ninstallation put in place, the "
                                                      "configuration file included.\n"),
              std::string::npos);
    EXPECT_FALSE(file_exists(pkg.installed_file("/usr/share/kestrane-virtualization-sdk/doc/README")));
}

// Scratch files of the back end as root must not be planted beforehand: a
// user who links every name of the coming process ids to a file of root's
// changes nothing, and nothing is left behind in the scratch directory.
TEST(SampleBackEnd, ScratchFilesCannotBeHijacked)
{
    PackageFixture pkg;
    pkg.use_sample_backend();
    pkg.write("data/lib_deps", "m tessaro-no-such-package\n");
    pkg.plant("/usr/bin/apt-get", "#!/bin/sh\necho 'E: Unable to locate package'\nexit 100\n");
    std::string tmp = pkg.state() + "/tmp";
    std::string victim = pkg.state() + "/victim";
    write_file(victim, "precious\n");
    std::filesystem::create_directories(tmp);
    long last = std::stol(read_file("/proc/sys/kernel/ns_last_pid"));
    for (long pid = last; pid < last + 4000; ++pid) {
        for (const char *name : {"/pm.sh.", "/installer-cli."})
            std::filesystem::create_symlink(victim, tmp + name + std::to_string(pid));
    }
    ProcessResult r = pkg.run({"-i"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("- tessaro-no-such-package"), std::string::npos) << r.err;
    pkg.write("data/lib_deps", "m coreutils\n");
    r = pkg.run({"-i"});
    EXPECT_EQ(r.status, 0) << r.err;
    r = pkg.run({"-r"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(victim), "precious\n");
    for (const auto &entry : std::filesystem::directory_iterator(tmp))
        EXPECT_TRUE(entry.is_symlink()) << entry.path();
}

// The wrapper lists the missing packages, mandatory ones first, as each
// package manager answers; without any it lists every package, so that the
// installer can tell the administrator which to install by hand.
TEST(SampleBackEnd, PackageWrapperListsMissingPackagesMandatoryFirst)
{
    // Stubs that answer as the real tools do, on a host that has coreutils
    // and gzip.
    const std::string dpkg_query = "#!/bin/sh\nfor name; do :; done\ncase $name in coreutils|gzip) printf 'install ok "
                                   "installed' ;; *) echo \"dpkg-query: no packages found matching $name\" >&2; exit 1 ;; "
                                   "esac\n";
    const std::string rpm = "#!/bin/sh\ncase $2 in coreutils|gzip) echo \"$2-9.1-1.x86_64\" ;; *) echo \"package $2 is "
                            "not installed\"; exit 1 ;; esac\n";
    const std::string present = "#!/bin/sh\nexit 0\n";
    // A package database that cannot be asked (dpkg-query failing for want
    // of memory) is no package that is missing.
    const std::string dpkg_failing = "#!/bin/sh\necho 'dpkg-query: error: failed to allocate memory' >&2\nexit 2\n";
    // Installed whatever triggers wait for it or whether it is held; a
    // package removed but for its configuration files is not.
    const std::string dpkg_states = "#!/bin/sh\nfor name; do :; done\ncase $name in coreutils) printf 'hold ok installed' ;; "
                                    "gzip) printf 'install ok triggers-pending' ;; sed) printf 'deinstall ok config-files' ;; "
                                    "*) exit 1 ;; esac\n";
    struct Row {
        const char *manager;
        std::vector<std::pair<std::string, std::string>> tools;
        int status;
        std::string out;
        std::string err = ""; // the managers' own complaints are not the wrapper's output
    };
    const Row rows[] = {
        {"none", {}, 124, "m coreutils\nm sed\no gzip\no zstd\n", "pm.sh: no supported package manager for sdk\n"},
        {"apt", {{"dpkg-query", dpkg_query}, {"apt-get", present}}, 0, "m sed\no zstd\n"},
        {"apt", {{"dpkg-query", dpkg_states}, {"apt-get", present}}, 0, "m sed\no zstd\n"},
        {"dnf", {{"rpm", rpm}, {"dnf", present}}, 0, "m sed\no zstd\n"},
        {"zypper", {{"rpm", rpm}, {"zypper", present}}, 0, "m sed\no zstd\n"},
        {"apt", {{"dpkg-query", dpkg_failing}, {"apt-get", present}}, 1, "",
         "pm.sh: cannot tell whether coreutils is installed: dpkg-query failed\n"},
    };
    for (const Row &row : rows) {
        TempDir dir;
        write_file(dir / "lib_deps", "o gzip\nm coreutils\no zstd\nm sed\n");
        std::filesystem::create_directory(dir / "bin");
        std::string grep = shell_output("command -v grep");
        grep.pop_back();
        std::filesystem::create_symlink(grep, dir / "bin/grep");
        for (const auto &[name, script] : row.tools)
            write_file(dir / ("bin/" + name), script, 0755);
        ProcessResult r = run_process({"/usr/bin/env", "PATH=" + dir / "bin", "/bin/sh",
                                       std::string(SAMPLE_SDK_DIR) + "/installer/pm.sh", "--check", "sdk", "--lib-deps",
                                       dir / "lib_deps"});
        EXPECT_EQ(r.status, row.status) << row.manager << r.err;
        EXPECT_EQ(r.out, row.out) << row.manager;
        EXPECT_EQ(r.err, row.err) << row.manager;
    }
}

// The disk-space check needs the payload's size and 1 MiB more on each file
// system it installs to, and compares that with the space available to it
// (not what root's reserve adds to it). Each file system is the one that
// will hold the directory: the directory's own when it exists (an upgrade),
// a file system of its own too.
TEST(SampleBackEnd, DiskSpaceCheckComparesTheAvailableSpace)
{
    const std::string sdk = "/usr/share/kestrane-virtualization-sdk";
    struct Row {
        bool installed;    // the SDK's directory exists
        std::string share; // df's line for the SDK's file system: size, used, available
        std::string etc;
        int status;
        std::string out;
    };
    const Row rows[] = {
        {false, "100000 1000 1124", "100000 1000 5000", 0, ""},
        {false, "100000 1000 1123", "100000 1000 5000", 2,
         "There is not enough space on /usr/share: 1124 KiB are needed, 1123 KiB are free.\n"},
        {false, "100000 1000 50000", "100000 99990 10", 2,
         "There is not enough space on /etc: 1124 KiB are needed, 10 KiB are free.\n"},
        {false, "100000 1000 50000", "", 1, "Cannot read the free space of /etc.\n"},
        {true, "100000 99000 20", "100000 1000 5000", 2,
         "There is not enough space on " + sdk + ": 1124 KiB are needed, 20 KiB are free.\n"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.share + " " + row.etc);
        PackageFixture pkg;
        pkg.use_sample_backend();
        if (row.installed)
            pkg.preinstall();
        TempDir stubs;
        write_file(stubs / "du", "#!/bin/sh\nprintf '100\\tpayload\\n'\n", 0755);
        // Only the file systems that hold the directories answer: the
        // SDK's own when installed, else /usr/share's.
        std::string df = "#!/bin/sh\necho 'Filesystem 1024-blocks Used Available Capacity Mounted on'\ncase $2 in\n";
        for (const auto &[target, figures] :
             {std::pair{row.installed ? sdk : std::string("/usr/share"), row.share}, std::pair{std::string("/etc"), row.etc}}) {
            if (!figures.empty())
                df += target + ") echo '/dev/sda1 " + figures + " 50% " + target + "' ;;\n";
        }
        write_file(stubs / "df", df + "esac\n", 0755);
        RunOptions options;
        options.program = "/usr/bin/env";
        options.cwd = pkg.root();
        ProcessResult r = pkg.run({"PATH=" + stubs.path() + ":/usr/bin:/bin", "/bin/sh", "installer/check_disk_space.sh"},
                                  options);
        EXPECT_EQ(r.status, row.status);
        EXPECT_EQ(r.out, row.out);
    }
}

// The back end's tools, stopped in the middle of their work by INT, TERM
// or HUP sent to their process group (as the installer sends it), end with
// 128 + the signal and leave no scratch file behind.
TEST(SampleBackEnd, ToolsStopOnSignalsAndLeaveNoScratchFiles)
{
    for (const char *tool : {"installer-cli", "installer/pm.sh"}) {
        for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
            SCOPED_TRACE(std::string(tool) + " " + std::to_string(sig));
            PackageFixture pkg;
            pkg.use_sample_backend();
            pkg.write("data/lib_deps", "m tessaro-missing\n");
            TempDir hooks;
            const std::string reached = hooks / "reached";
            const std::string scratch = hooks / "tmp";
            std::filesystem::create_directory(scratch);
            // Where the work pauses: it records its process group first.
            const std::string pause = "cut -d ' ' -f 5 /proc/$$/stat > " + sh_quote(reached) +
                                      "; i=0; while [ $i -lt 1200 ]; do sleep 0.05; i=$((i + 1)); done";
            write_file(hooks / "cp", "#!/bin/sh\ncase \"$*\" in *tessaro-sdk.pc*) " + pause +
                                         " ;; esac\nexec /usr/bin/cp \"$@\"\n", 0755);
            write_file(hooks / "dpkg-query", "#!/bin/sh\nexit 1\n", 0755);
            write_file(hooks / "apt-get", "#!/bin/sh\n" + pause + "\n", 0755);
            std::vector<std::string> args = {"PATH=" + hooks.path() + ":/usr/sbin:/usr/bin:/sbin:/bin",
                                             "TMPDIR=" + scratch, "setsid", "-w", "/bin/sh", std::string("./") + tool};
            for (const char *arg : std::string(tool) == "installer-cli"
                                       ? std::vector<const char *>{"--progress", "-i", "Manifest"}
                                       : std::vector<const char *>{"--install", "sdk", "--lib-deps", "data/lib_deps"})
                args.push_back(arg);
            RunOptions options;
            options.program = "/usr/bin/env";
            BackgroundProcess run(pkg.command(args, options), pkg.root());
            ASSERT_TRUE(eventually([&] { return !read_file(reached).empty(); }));
            ASSERT_EQ(kill(-std::stoi(read_file(reached)), sig), 0);
            EXPECT_EQ(run.wait().status, 128 + sig);
            EXPECT_TRUE(std::filesystem::is_empty(scratch));
        }
    }
}

// A failing back end says why in the log: its own error and that of the
// command that failed.
// The package manager never asks (nobody would see it), keeps changed
// configuration files, and waits a bounded time for another one's lock:
// 123 only when that time runs out.
TEST(SampleBackEnd, PackageManagerNeverAsksAndWaitsForItsLock)
{
    for (bool held : {false, true}) {
        TempDir dir;
        write_file(dir / "lib_deps", "m tessaro-missing\n");
        write_file(dir / "bin/dpkg-query", "#!/bin/sh\n[ -e " + sh_quote(dir / "done") +
                                               " ] && echo 'install ok installed'\nexit 0\n", 0755);
        write_file(dir / "bin/apt-get",
                   "#!/bin/sh\n{ echo \"$*\"; echo \"$DEBIAN_FRONTEND\"; readlink /proc/self/fd/0; } > " +
                       sh_quote(dir / "apt.log") + "\n" +
                       (held ? "echo 'E: Could not get lock /var/lib/dpkg/lock-frontend. It is held by process 4242' >&2\n"
                               "exit 100\n"
                             // Waited for the lock, then got it: no failure.
                             : "echo 'Waiting for cache lock: Could not get lock /var/lib/dpkg/lock-frontend. It is "
                               "held by process 4242 (apt-get)...' >&2\ntouch " +
                                   sh_quote(dir / "done") + "\n"),
                   0755);
        std::vector<std::string> env = {"PATH=" + dir / "bin" + ":/usr/sbin:/usr/bin:/sbin:/bin"};
        if (held)
            env.push_back("PM_LOCK_WAIT=1");
        ProcessResult r = run_process({"/bin/sh", std::string(SAMPLE_SDK_DIR) + "/installer/pm.sh", "--install", "sdk",
                                       "--lib-deps", dir / "lib_deps", "--logfile", dir / "log"},
                                      "", env, "y\ny\n");
        EXPECT_EQ(r.status, held ? 123 : 0) << r.out << r.err;
        EXPECT_EQ(read_file(dir / "apt.log"),
                  std::string("install -y -q -o DPkg::Lock::Timeout=") + (held ? "1" : "60") +
                      " -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold tessaro-missing\n"
                      "noninteractive\n/dev/null\n");
    }
}

// On RPM hosts, with the real dnf and zypper and a repository that lacks
// one optional package: the missing packages are installed for real and the
// one the repository lacks is recommended; while another process holds the
// manager's lock, every attempt gives up after PM_LOCK_WAIT and the run
// ends with the error for that, having installed nothing.
TEST(SampleBackEnd, RealRpmPackageManagersInstallWhatIsMissing)
{
    for (const std::string manager : {"dnf", "zypper"}) {
        for (bool held : {false, true}) {
            SCOPED_TRACE(manager + (held ? " held" : ""));
            PackageFixture pkg;
            pkg.use_sample_backend();
            pkg.write("data/lib_deps", "m coreutils\nm sed\no gzip\no tessaro-absent\n");
            pkg.use_rpm_host(manager);
            BackgroundProcess holder({"sleep", "120"});
            if (held)
                pkg.hold_package_lock(manager, holder.pid());
            RunOptions options;
            options.env = {"PM_LOCK_WAIT=1"};
            ProcessResult r = pkg.run({"-i"}, options);
            RunOptions rpm;
            rpm.program = "/usr/bin/rpm";
            ProcessResult query = pkg.run({"-q", "coreutils", "sed", "gzip", "tessaro-absent"}, rpm);
            if (held) {
                EXPECT_EQ(r.status, 1) << r.out << r.err;
                EXPECT_NE(r.err.find("An unknown error occurred while installing the required packages."),
                          std::string::npos)
                    << r.err;
                EXPECT_EQ(query.out, "package coreutils is not installed\npackage sed is not installed\npackage gzip "
                                     "is not installed\npackage tessaro-absent is not installed\n");
                EXPECT_FALSE(pkg.sdk_installed());
            } else {
                EXPECT_EQ(r.status, 0) << r.out << r.err;
                EXPECT_NE(r.out.find("we recommend you to install the following packages as well:\n- tessaro-absent\n"),
                          std::string::npos)
                    << r.out;
                EXPECT_EQ(query.out, "coreutils-1.0-1.noarch\nsed-1.0-1.noarch\ngzip-1.0-1.noarch\npackage "
                                     "tessaro-absent is not installed\n");
                EXPECT_TRUE(pkg.sdk_installed());
            }
        }
    }
}

TEST(SampleBackEnd, FailsClearlyOnABrokenPackage)
{
    {
        PackageFixture pkg;
        pkg.use_sample_backend();
        pkg.remove("payload/doc/README");
        ProcessResult r = pkg.run({"-i"});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("Error during configuration"), std::string::npos);
        EXPECT_NE(pkg.log().find("installer-cli: error: missing package files: payload/doc/README"), std::string::npos);
        EXPECT_FALSE(pkg.sdk_installed());
    }
    {
        PackageFixture pkg;
        pkg.use_sample_backend();
        pkg.plant("/etc/kestrane-sdk", "a file where a directory belongs\n", 0644);
        ProcessResult r = pkg.run({"-i"});
        EXPECT_EQ(r.status, 1);
        std::string log = pkg.log();
        EXPECT_NE(log.find("installer-cli: error: cannot create the directory of /etc/kestrane-sdk/sdk.conf: mkdir: "
                           "cannot create directory"),
                  std::string::npos)
            << log;
        EXPECT_NE(log.find("File exists"), std::string::npos);
    }
}

// A run stopped at any point, in either half of an upgrade, leaves what a
// removal removes whole and what a new installation repairs. A run killed
// outright (SIGKILL: its handler never runs) leaves its back end running;
// the next run stops what is left of it before it does anything, so that
// nothing of the earlier run changes the host after the next one has said
// what it did.
TEST(SampleBackEnd, InterruptedRunsCanAlwaysBeFinished)
{
    const std::string kFiles[] = {"/usr/share/kestrane-virtualization-sdk/include/tessaro/sdk.h",
                                  "/usr/share/kestrane-virtualization-sdk/bin/tessaro-sdk-info",
                                  "/usr/share/kestrane-virtualization-sdk/Manifest", "/etc/kestrane-sdk/sdk.conf"};
    struct Row {
        const char *tool; // where the upgrade stops: rm in its first half, cp in its second, apt-get before
        const char *then;
        int sig;
        // The stopped tool outlives SIGTERM (a package manager in a critical
        // section), and the next run is itself killed while it waits for it:
        // the run after that still finds and stops it.
        bool next_killed = false;
        // The stopped tool is also stopped by job control (SIGSTOP): it
        // must be let go on to act on the stop request.
        bool suspended = false;
        // The tool is run as ordinary programs run their workers, none of
        // which keeps the back end's descriptors: through Python's
        // subprocess, after closing every descriptor above 2, or that in a
        // session of its own as well.
        const char *worker = "";
        // The host has a cgroup tree.
        bool cgroup = false;
    };
    const char *const subprocess = "python3 -c 'import subprocess, sys; sys.exit(subprocess.call(sys.argv[1:]))'";
    const char *const closefrom = "python3 -c 'import os, sys; os.closerange(3, 65536); os.execvp(sys.argv[1], sys.argv[1:])'";
    const std::string setsid_closefrom = std::string("setsid -w ") + closefrom;
    // A worker that takes the record's descriptor number for a lock of its own.
    // (It ends at once where it finds no such descriptor.)
    const char *const own_lock = "bash -c 'for fd in /proc/$$/fd/*; do [ \"$(readlink \"$fd\")\" = "
                                 "/run/kestrane-sdk-backend.lock ] && { eval \"exec ${fd##*/}>/dev/null\"; found=1; }; "
                                 "done; [ -n \"$found\" ] && exec \"$@\"' bash";
    const Row rows[] = {{"rm", "-r", SIGTERM},  {"rm", "-i", SIGTERM},  {"cp", "-r", SIGTERM},
                        {"cp", "-i", SIGTERM},  {"rm", "-r", SIGKILL},  {"rm", "-i", SIGKILL},
                        {"cp", "-r", SIGKILL},  {"cp", "-i", SIGKILL},  {"apt-get", "-i", SIGKILL},
                        {"rm", "-i", SIGKILL, true},  {"cp", "-i", SIGKILL, false, true},
                        {"rm", "-i", SIGKILL, false, false, subprocess},
                        {"rm", "-i", SIGKILL, false, false, closefrom},
                        {"rm", "-i", SIGKILL, false, false, own_lock},
                        {"rm", "-i", SIGKILL, false, false, subprocess, true},
                        {"rm", "-i", SIGKILL, false, false, closefrom, true},
                        {"rm", "-i", SIGKILL, false, false, setsid_closefrom.c_str(), true},
                        {"cp", "-r", SIGTERM, false, false, setsid_closefrom.c_str(), true}};
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.tool) + " " + row.then + " " + std::to_string(row.sig) + " " + row.worker +
                     (row.cgroup ? " cgroup" : ""));
        PackageFixture pkg;
        if (row.cgroup)
            pkg.use_cgroup();
        pkg.use_sample_backend();
        ASSERT_EQ(pkg.run({"-i"}).status, 0);
        // The back end's own tool stops, the first time, at the third file
        // of the list (or, for the package manager, at once, holding its
        // lock), until the test opens the gate.
        TempDir hooks;
        const std::string reached = hooks / "reached";
        const std::string pause = "if mkdir " + sh_quote(hooks / "paused") + " 2>/dev/null; then " +
                                  (row.next_killed ? "trap '' TERM; " : "") + "echo $$ > " + sh_quote(reached) + "; " +
                                  pkg.gate("go") + "fi\n";
        if (std::string(row.tool) == "apt-get") {
            pkg.write("data/lib_deps", "m tessaro-missing\n");
            write_file(hooks / "dpkg-query", "#!/bin/sh\n[ -e " + sh_quote(hooks / "done") +
                                                 " ] && printf 'install ok installed'\nexit 0\n", 0755);
            write_file(hooks / "apt-get",
                       "#!/bin/sh\nexec 9>" + sh_quote(hooks / "lock") +
                           "\nflock -n 9 || { echo 'E: Could not get lock /var/lib/dpkg/lock-frontend' >&2; exit 100; }\n" +
                           pause + "touch " + sh_quote(hooks / "done") + "\n",
                       0755);
        } else {
            write_file(hooks / row.tool,
                       std::string("#!/bin/sh\ncase \"$*\" in *tessaro-sdk.pc*) exec ") + row.worker + " /bin/sh -c " +
                           sh_quote(pause + "exec /usr/bin/" + row.tool + " \"$@\"") + " sh \"$@\";; esac\nexec /usr/bin/" +
                           row.tool + " \"$@\"\n",
                       0755);
        }
        const std::vector<std::string> env = {"PATH=" + hooks.path() + ":/usr/sbin:/usr/bin:/sbin:/bin", "PM_LOCK_WAIT=1"};
        BackgroundProcess upgrade(pkg.command({"-i"}), pkg.state(), env);
        ASSERT_TRUE(eventually([&] { return !read_file(reached).empty(); }));
        ASSERT_EQ(kill(upgrade.pid(), row.sig), 0);
        EXPECT_EQ(upgrade.wait().status, 128 + row.sig);
        // (Stopped after its group lost the installer: a group that has a
        // stopped process when it is orphaned gets SIGHUP from the kernel.)
        if (row.suspended) {
            ASSERT_EQ(kill(std::stoi(read_file(reached)), SIGSTOP), 0);
        }
        if (row.next_killed) {
            BackgroundProcess waiting(pkg.command({row.then}), pkg.state(), env);
            ASSERT_TRUE(eventually([&] {
                return pkg.log().find(": Stopping the back-end command of an earlier run") != std::string::npos;
            }));
            ASSERT_EQ(kill(waiting.pid(), SIGKILL), 0);
            EXPECT_EQ(waiting.wait().status, 128 + SIGKILL);
        }

        // An administrator who reads the record meanwhile is no part of it.
        BackgroundProcess reader({"tail", "-f", pkg.state() + "/run/kestrane-sdk-backend.lock"});
        ProcessResult r = run_process(pkg.command({row.then}), pkg.state(), env);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(reader.wait(0).status, -1) << "the record's reader was stopped";
        // Whatever of the earlier run is still there may go on now.
        pkg.open_gate("go");
        // (Counted again 10 s later where the tool runs as a worker.)
        int counted = 0;
        for (int second : {0, 1, *row.worker == '\0' ? 5 : 10}) {
            if (second > 0 && row.sig != SIGKILL && *row.worker == '\0')
                break;
            sleep(static_cast<unsigned>(second - counted));
            counted = second;
            for (const std::string &file : kFiles)
                EXPECT_EQ(pkg.installed(file), std::string(row.then) == "-i") << file << " after " << second << " s";
        }
        if (row.sig == SIGKILL) {
            EXPECT_TRUE(std::regex_search(pkg.log(), std::regex(std::string(": ") + (row.suspended ? "Stopped" : "(Stopped|Killed)") +
                                                                " the back-end command of an earlier run that was still "
                                                                "running \\((cgroup [^,]+, )?process(es)? [0-9, ]+\\)")))
                << pkg.log();
        }
    }
}

// What a power cut (or anything else) leaves of an installation is one the
// next run finishes or removes: an installed manifest that is empty, cut
// short or not this SDK's is taken for what it is, and the package's own
// manifest says what to repair or remove. Nothing it does not list goes.
TEST(SampleBackEnd, DamagedInstallationsAreRepairedFromThePackage)
{
    const std::string sdk = "/usr/share/kestrane-virtualization-sdk/";
    struct Row {
        const char *what;
        std::string manifest; // the installed manifest left behind
        bool files_empty;     // every installed file at length 0, the record too
    };
    const Row rows[] = {
        {"all empty", "", true},
        {"empty manifest", "", false},
        {"cut mid-line", "[files]\npayload/include/tessaro/sdk.h /usr/share/kestrane-virt", false},
        {"another's manifest", "[files]\npayload/doc/README /etc/kestrane-keep\n", false},
        {"a way out", "[files]\npayload/doc/README " + sdk + "../../../etc/kestrane-keep\n", false},
        {"no entries", "# nothing\n[files]\n", true},
    };
    for (const Row &row : rows) {
        for (const char *then : {"-i", "-r"}) {
            SCOPED_TRACE(std::string(row.what) + " then " + then);
            PackageFixture pkg;
            pkg.use_sample_backend();
            ASSERT_EQ(pkg.run({"-i"}).status, 0);
            std::vector<std::pair<std::string, std::string>> files; // target, package file
            for (const std::string &line : lines(read_file(pkg.root() + "/Manifest"))) {
                const std::size_t blank = line.find(' ');
                if (!line.empty() && line[0] != '#' && line[0] != '[' && blank != std::string::npos)
                    files.emplace_back(line.substr(blank + 1), line.substr(0, blank));
            }
            ASSERT_EQ(files.size(), 6u);
            if (row.files_empty) {
                for (const auto &[target, source] : files)
                    write_file(pkg.installed_file(target), "");
                write_file(pkg.installed_file(sdk + "Installed"), "");
            }
            write_file(pkg.installed_file(kInstalled), row.manifest);
            pkg.plant("/etc/kestrane-keep", "the administrator's\n", 0644);
            pkg.plant(sdk + "doc/mine", "not the package's\n", 0644);

            ProcessResult r = pkg.run({then});
            EXPECT_EQ(r.status, 0) << r.out << r.err << pkg.log();
            const bool installing = std::string(then) == "-i";
            for (const auto &[target, source] : files) {
                if (installing)
                    EXPECT_EQ(read_file(pkg.installed_file(target)), read_file(pkg.root() + "/" + source)) << target;
                else
                    EXPECT_FALSE(pkg.installed(target)) << target;
            }
            EXPECT_EQ(pkg.installed(kInstalled), installing);
            if (installing) {
                EXPECT_EQ(read_file(pkg.installed_file(kInstalled)), read_file(pkg.root() + "/Manifest"));
                EXPECT_NE(read_file(pkg.installed_file(sdk + "Installed")).find("\nend 6 "), std::string::npos);
            }
            EXPECT_EQ(read_file(pkg.installed_file("/etc/kestrane-keep")), "the administrator's\n");
            EXPECT_EQ(read_file(pkg.installed_file(sdk + "doc/mine")), "not the package's\n");
        }
    }
}
