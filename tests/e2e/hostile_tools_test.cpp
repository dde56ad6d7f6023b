// Back-end tools that misbehave: the installer ends with its fixed message
// and status, the log complete.
#include <gtest/gtest.h>
#include <sys/stat.h>

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
        EXPECT_EQ(r.err, "Error during configuration Tessaro Virtualization SDK. Look at "
                         "/var/log/kestrane-sdk-install.log for more information.\n");
        // The shell that ran the tool reports the signal as 128 + its number.
        std::string status = std::string(signal) == "KILL" ? "137" : "139";
        EXPECT_NE(pkg.log().find("-i Manifest 2>&1 " + status + "\n"), std::string::npos) << signal;
        EXPECT_NE(pkg.log().find(": Exiting with code 1\n"), std::string::npos);
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

    PackageFixture read_only;
    r = read_only.run({"-i", "--log-path=/proc/version"});
    EXPECT_EQ(r.status, 0);
    r = read_only.run({"-r", "--log-path=/proc/version"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Tessaro Virtualization SDK is not installed\n");
}
