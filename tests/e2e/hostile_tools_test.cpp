// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// Back-end tools that misbehave: the installer ends with its fixed message
// and status, the log complete.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "support/package_fixture.h"

namespace {

const std::string kCheckMandatory = "case \"$1\" in --check) echo 'm libfoo' ;; --install) ";

} // namespace

TEST(HostileTools, HugeOutputs)
{
    PackageFixture pkg;
    // A single 10 MiB line from the package check, and another from the
    // back-end installer.
    pkg.tool("installer/pm.sh", kCheckMandatory + "exit 0 ;; esac\n"
                                "case \"$1\" in --check) head -c 10485760 /dev/zero | tr '\\0' 'p'; echo ;; esac\n");
    pkg.tool("installer-cli", "head -c 10485760 /dev/zero | tr '\\0' '['; echo\n");
    ProcessResult r = pkg.run({"-i"});
    EXPECT_EQ(r.status, 0) << r.err.substr(0, 200);
    EXPECT_NE(pkg.log().find(": exec_with_progress: ./installer-cli"), std::string::npos);

    PackageFixture million;
    million.tool("installer-cli", "awk 'BEGIN { for (i = 0; i < 1000000; i++) printf \"[%3d%%] line %d\\n\", i % 101, i }'\n");
    r = million.run({"-i"});
    EXPECT_EQ(r.status, 0);
}

TEST(HostileTools, OddPercentagesAndBytes)
{
    PackageFixture pkg;
    pkg.tool("installer-cli", "printf '[-5%%] neg\\n[999%%] big\\n[0x1f] hex\\n[\\n[\\0\\0\\0]\\0nul\\n\\377\\376\\033[2J\\n'\n");
    ProcessResult r = pkg.run({"-i"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("You have successfully completed installing"), std::string::npos);
}

TEST(HostileTools, KilledToolsAreFailures)
{
    for (const char *signal : {"KILL", "SEGV"}) {
        PackageFixture pkg;
        pkg.tool("installer-cli", std::string("echo '[ 10%] started'\nkill -") + signal + " $$\n");
        ProcessResult r = pkg.run({"-i"});
        EXPECT_EQ(r.status, 1) << signal;
        // The shell that ran the tool says what ended it, and reports the
        // signal as 128 + its number.
        const bool kill = std::string(signal) == "KILL";
        const std::string said = kill ? "Killed" : "Segmentation fault";
        EXPECT_EQ(r.err, said + "\nError during configuration Tessaro Virtualization SDK. Look at "
                                "/var/log/kestrane-sdk-install.log for more information.\n");
        EXPECT_NE(pkg.log().find(": ./installer-cli: " + said + "\n"), std::string::npos) << signal;
        std::string status = kill ? "137" : "139";
        EXPECT_NE(pkg.log().find("-i Manifest 2>&1 " + status + "\n"), std::string::npos) << signal;
        EXPECT_NE(pkg.log().find(": Exiting with code 1\n"), std::string::npos);
    }
}

// A back end that fails says why in the log, whatever it wrote its reason
// on, and whether or not it could even run: every line it wrote that the
// installer does not use, named after the command. Unattended runs show
// them on standard error too.
TEST(HostileTools, TheBackEndsOwnReasonIsLogged)
{
    struct Row {
        std::string tool;
        std::string body;
        unsigned mode;
        std::string entry; // after the timestamp
    };
    const Row rows[] = {
        {"installer-cli", "echo '[ 10%] started'\necho 'installer-cli: the licence server is out of reach' >&2\nexit 4\n",
         0755, "./installer-cli: installer-cli: the licence server is out of reach\n"},
        {"installer-cli", "echo '[ 10%] started'\n", 0644, "./installer-cli: sh: 1: ./installer-cli: Permission denied\n"},
        {"installer-cli", "if then fi\n", 0755, "./installer-cli: ./installer-cli: 2: Syntax error: \"then\" unexpected\n"},
        {"installer/pm.sh", "echo 'pm.sh: the package database is damaged' >&2\nexit 3\n", 0755,
         "./installer/pm.sh: pm.sh: the package database is damaged\n"},
        // Error output that comes in pieces: each line once.
        {"installer/pm.sh", "echo 'pm.sh: first' >&2\nsleep 0.2\necho 'pm.sh: second' >&2\nsleep 0.2\n"
                            "echo 'pm.sh: third' >&2\nexit 3\n", 0755, "./installer/pm.sh: pm.sh: first\n"},
    };
    const auto count = [](const std::string &text, const std::string &part) {
        std::size_t n = 0;
        for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
            ++n;
        return n;
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.entry);
        PackageFixture pkg;
        pkg.write(row.tool, "#!/bin/sh\n" + row.body, row.mode);
        ProcessResult r = pkg.run({"-i"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(count(pkg.log(), ": " + row.entry), 1u) << pkg.log();
        std::string shown = row.entry.substr(row.entry.find(": ") + 2);
        EXPECT_EQ(count(r.err, shown), 1u) << r.err;
    }

    // A command that has ended while a process it left behind keeps its
    // output open holds the run only a moment, a process that writes to it
    // all the time too: that is logged, and the run goes on. The command's
    // record goes as soon as it has ended: what it left sees that while
    // its output is still read.
    for (const auto &[left, said] : std::vector<std::pair<std::string, std::string>>{
             {"(sleep 20 &)", ""},
             {"(i=0; while [ $i -lt 1000 ]; do echo chatter; sleep 0.02; i=$((i + 1)); done &)", ""},
             {"((while [ -e /run/kestrane-sdk-backend.lock ]; do sleep 0.01; done; echo 'no record'; sleep 20) &)",
              "no record\n"}}) {
        SCOPED_TRACE(left);
        PackageFixture daemon;
        daemon.tool("installer-cli", "echo '[ 50%] starting the service'\n" + left + "\necho '[100%] Done'\n");
        BackgroundProcess run(daemon.command({"-i"}), daemon.state());
        ProcessResult done = run.wait(15000);
        EXPECT_EQ(done.status, 0) << done.err;
        const std::size_t grace = daemon.log().find("-i Manifest 2>&1 has ended, but a process it left behind keeps its "
                                                    "output open; going on without it\n");
        EXPECT_NE(grace, std::string::npos) << daemon.log();
        EXPECT_LT(daemon.log().find(said), grace) << daemon.log();
    }
}

TEST(HostileTools, ClosedOutputThenLateExitIsAwaited)
{
    PackageFixture pkg;
    pkg.tool("installer-cli", "echo '[ 50%] half'\nexec >&- 2>&-\nsleep 1\nexit 3\n");
    auto begin = std::chrono::steady_clock::now();
    ProcessResult r = pkg.run({"-i"});
    auto elapsed = std::chrono::steady_clock::now() - begin;
    EXPECT_EQ(r.status, 1);
    EXPECT_GE(elapsed, std::chrono::milliseconds(900));
    EXPECT_NE(pkg.log().find("2>&1 3\n"), std::string::npos);

    PackageFixture quiet;
    quiet.tool("installer/pm.sh", "exec >&-\nsleep 1\nexit 0\n");
    r = quiet.run({"-i"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(quiet.log().find("pm.sh --check sdk --lib-deps data/lib_deps [0]\n"), std::string::npos);
}

TEST(HostileLogPaths, OddPathsWorkOrAreDroppedSilently)
{
    PackageFixture odd;
    std::string path = "/var/log/a b;touch pwned\nnext.log";
    ProcessResult r = odd.run({"-i", "--log-path=" + path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(file_exists(odd.root() + "/pwned"));
    EXPECT_NE(odd.log("a b;touch pwned\nnext.log").find("Installer started."), std::string::npos);
    EXPECT_NE(odd.calls().find("--logfile=/var/log/a b;touch pwned"), std::string::npos);

    // A FIFO where the log belongs: the entries are lost, the run is not.
    PackageFixture fifo;
    std::filesystem::create_directories(fifo.state() + "/log");
    ASSERT_EQ(mkfifo((fifo.state() + "/log/fifo.log").c_str(), 0600), 0);
    BackgroundProcess run(fifo.command({"-i", "--log-path=/var/log/fifo.log"}), fifo.state());
    EXPECT_EQ(run.wait().status, 0);

    // A FIFO, a symbolic link and a dangling one where the log belongs, on
    // a run that installs a system package: the entries are lost (the back
    // end's too), the run is not, and nothing is written where a link
    // points.
    // A log that is not root's (its directory's owner may have put it
    // there) is none either. The back end's tools never open the log by its
    // path: their entries come through the installer.
    for (const std::string kind : {"fifo", "link", "dangling", "foreign"}) {
        SCOPED_TRACE(kind);
        PackageFixture pkg;
        pkg.use_sample_backend();
        pkg.write("data/lib_deps", "m tessaro-missing\n");
        const std::string marker = sh_quote(pkg.root() + "/installed");
        pkg.plant("/usr/bin/dpkg-query", "#!/bin/sh\n[ -e " + marker + " ] && printf 'install ok installed'\nexit 0\n");
        pkg.plant("/usr/bin/apt-get", "#!/bin/sh\necho 'Setting up tessaro-missing'\ntouch " + marker + "\n");
        const std::string log = pkg.state() + "/log/odd.log";
        std::filesystem::create_directories(pkg.state() + "/log");
        if (kind == "fifo") {
            ASSERT_EQ(mkfifo(log.c_str(), 0600), 0);
        }
        if (kind == "link") {
            write_file(pkg.state() + "/log/target.log", "before\n");
            std::filesystem::create_symlink("target.log", log);
        }
        if (kind == "dangling")
            std::filesystem::create_symlink("created-by-root", log);
        if (kind == "foreign") {
            write_file(log, "before\n");
            ASSERT_EQ(chown(log.c_str(), 65534, 65534), 0);
        }
        BackgroundProcess installing(pkg.command({"-i", "--log-path=/var/log/odd.log"}), pkg.state());
        ProcessResult done = installing.wait(60000);
        EXPECT_EQ(done.status, 0) << done.err;
        if (kind == "foreign") {
            EXPECT_EQ(read_file(log), "before\n");
            EXPECT_NE(done.err.find("The installer log /var/log/odd.log cannot be written (it is not a regular file of "
                                    "root's): the entries of this run are lost.\n"),
                      std::string::npos)
                << done.err;
            EXPECT_EQ(done.err.find("cannot be written"), done.err.rfind("cannot be written")) << "said once";
        }
        EXPECT_TRUE(pkg.sdk_installed());
        if (kind == "link") {
            EXPECT_EQ(read_file(pkg.state() + "/log/target.log"), "before\n");
        }
        EXPECT_FALSE(file_exists(pkg.state() + "/log/created-by-root"));
    }

    // A link among the log's directories is followed only where nobody
    // but root can have put it: root's own link in root's /var/log is, a
    // user's link in a directory everyone may write never is.
    for (bool users : {false, true}) {
        SCOPED_TRACE(users ? "a user's link" : "root's link");
        PackageFixture linked;
        std::filesystem::create_directories(linked.state() + "/log/shared");
        std::filesystem::create_directories(linked.state() + "/log/real");
        const std::string link = linked.state() + "/log/" + (users ? "shared/logs" : "logs");
        std::filesystem::create_symlink(users ? "/etc" : "/var/log/real", link);
        if (users) {
            ASSERT_EQ(chmod((linked.state() + "/log/shared").c_str(), 01777), 0);
            ASSERT_EQ(lchown(link.c_str(), 1500, 1500), 0);
        }
        r = linked.run({"-i", std::string("--log-path=/var/log/") + (users ? "shared/logs" : "logs") + "/linked.log"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_FALSE(file_exists(linked.state() + "/etc/upper/linked.log"));
        EXPECT_EQ(read_file(linked.state() + "/log/real/linked.log").find("Installer started.") != std::string::npos,
                  !users);
        EXPECT_EQ(r.err.find("cannot be written (Too many levels of symbolic links)") != std::string::npos, users)
            << r.err;
    }

    PackageFixture read_only;
    r = read_only.run({"-i", "--log-path=/proc/version"});
    EXPECT_EQ(r.status, 0);
    r = read_only.run({"-r", "--log-path=/proc/version"});
    EXPECT_EQ(r.status, 1);
    // Said once, where an unattended run's reader sees it.
    EXPECT_EQ(r.err, "The installer log /proc/version cannot be written (Input/output error): the entries of this run "
                     "are lost.\nTessaro Virtualization SDK is not installed\n");
}
