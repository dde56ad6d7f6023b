// The fleet roll-out: the Ansible playbook against four test hosts on this
// machine, each an sshd on its own port of 127.0.0.1 in its own mount
// namespace (its own /usr/share, /etc, /var/log and /var/tmp), stopped by
// process id at the end.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "support/fleet.h"

namespace {

namespace fs = std::filesystem;

// The line of the task `task` that reports on `host` ("ok: [host]", ...).
std::string task_result(const std::string &output, const std::string &task, const std::string &host)
{
    std::size_t at = output.find("TASK [tessaro_sdk : " + task);
    if (at == std::string::npos)
        return "";
    std::size_t next = output.find("TASK [", at + 1);
    std::string section = output.substr(at, next == std::string::npos ? std::string::npos : next - at);
    std::smatch match;
    if (std::regex_search(section, match, std::regex("(\\w+): \\[" + host + "[\\] ][^\\n]*")))
        return match[0];
    return "";
}

} // namespace

TEST(FleetRollOut, InstallsUpgradesRemovesAndFailsClearly)
{
#ifndef PACKAGE_TARBALL
    GTEST_SKIP() << "this build makes no package";
#else
    Fleet fleet;
    TestHost fresh("fresh", fleet.keys());
    TestHost older("older", fleet.keys());
    older.host.preinstall("[files]\npayload/doc/README /usr/share/kestrane-virtualization-sdk/doc/OLD-README\n");
    older.host.plant("/usr/share/kestrane-virtualization-sdk/doc/OLD-README", "old\n", 0644);
    TestHost full("full", fleet.keys(), "512");
    TestHost locked("locked", fleet.keys());
    // This host's package manager finds every package missing and its lock
    // held by another process, for good.
    locked.host.plant("/usr/bin/dpkg-query", "#!/bin/sh\nexit 1\n");
    locked.host.plant("/usr/bin/apt-get", "#!/bin/sh\necho 'E: Could not get lock /var/lib/dpkg/lock-frontend. "
                                          "It is held by process 4242 (apt-get)'\nexit 100\n");
    std::vector<TestHost *> hosts = {&fresh, &older, &full, &locked};
    for (TestHost *host : hosts)
        ASSERT_TRUE(host->wait_ready()) << host->name();

    // Check mode reports what would change and runs nothing.
    PlaybookRun dry = fleet.play(hosts, {"--check"});
    EXPECT_GT(dry.recap["fresh"].changed, 0) << dry.output();
    EXPECT_NE(dry.output().find("would install tessaro-virtualization-sdk-"), std::string::npos);
    EXPECT_NE(dry.output().find("would upgrade tessaro-virtualization-sdk-"), std::string::npos);
    for (TestHost *host : hosts)
        EXPECT_EQ(host->runs(), 0) << host->name();

    PlaybookRun first = fleet.play(hosts, {});
    std::string out = first.output();
    for (const char *name : {"fresh", "older"}) {
        EXPECT_GT(first.recap[name].changed, 0) << name << out;
        EXPECT_EQ(first.recap[name].failed, 0) << name << out;
    }
    for (const char *name : {"full", "locked"})
        EXPECT_EQ(first.recap[name].failed, 1) << name << out;
    EXPECT_NE(task_result(out, "Report the installer's failure", "full")
                  .find("not enough disk space: There is not enough space on /usr/share"),
              std::string::npos)
        << out;
    EXPECT_NE(task_result(out, "Report the installer's failure", "locked")
                  .find("the installer failed: An unknown error occurred while installing the required packages."),
              std::string::npos)
        << out;
    EXPECT_TRUE(fresh.host.sdk_installed());
    EXPECT_TRUE(older.host.sdk_installed());
    EXPECT_FALSE(older.host.installed("/usr/share/kestrane-virtualization-sdk/doc/OLD-README"));
    EXPECT_NE(older.host.log().find("-e --skip-sections config /usr/share/kestrane-virtualization-sdk/Manifest"),
              std::string::npos);
    for (TestHost *host : hosts) {
        EXPECT_EQ(host->runs(), 1) << host->name();
        EXPECT_EQ(read_file(fleet.logs() + "/" + host->name() + ".log"), host->host.log()) << host->name();
    }

    // Again: the installed hosts run nothing, the failed ones fail the same
    // way without the package being copied again.
    PlaybookRun second = fleet.play(hosts, {});
    out = second.output();
    for (const char *name : {"fresh", "older"}) {
        EXPECT_EQ(second.recap[name].changed, 0) << name << out;
        EXPECT_EQ(second.recap[name].failed, 0) << name << out;
    }
    EXPECT_EQ(fresh.runs(), 1);
    EXPECT_EQ(older.runs(), 1);
    for (const char *name : {"full", "locked"}) {
        EXPECT_EQ(second.recap[name].failed, 1) << name << out;
        EXPECT_EQ(task_result(out, "Copy the package", name).rfind("ok:", 0), 0u) << name << out;
    }
    EXPECT_NE(task_result(out, "Report the installer's failure", "full").find("not enough disk space"),
              std::string::npos);
    EXPECT_NE(task_result(out, "Report the installer's failure", "locked").find("An unknown error occurred"),
              std::string::npos);

    PlaybookRun removal = fleet.play(hosts, {"-e", "tessaro_sdk_state=absent"});
    out = removal.output();
    for (const char *name : {"fresh", "older"})
        EXPECT_GT(removal.recap[name].changed, 0) << name << out;
    for (TestHost *host : hosts) {
        EXPECT_EQ(removal.recap[host->name()].failed, 0) << host->name() << out;
        EXPECT_FALSE(host->host.sdk_installed()) << host->name();
    }
    PlaybookRun again = fleet.play(hosts, {"-e", "tessaro_sdk_state=absent"});
    for (TestHost *host : hosts) {
        EXPECT_EQ(again.recap[host->name()].changed, 0) << host->name() << again.output();
        EXPECT_EQ(again.recap[host->name()].failed, 0) << host->name() << again.output();
    }
    EXPECT_EQ(fresh.runs(), 2);

    // Nothing is left unpacked on the hosts.
    for (TestHost *host : hosts)
        EXPECT_FALSE(file_exists(host->host.state() + "/vartmp/tessaro-sdk/" +
                                 fs::path(PACKAGE_TARBALL).stem().stem().string()))
            << host->name();
#endif
}
