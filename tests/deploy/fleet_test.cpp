// The fleet roll-out: the Ansible playbook against test hosts on this
// machine, each an sshd on its own port of 127.0.0.1 in its own mount
// namespace (its own /usr/share, /etc, /var/log, /var/tmp and /run),
// stopped by process id at the end.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <future>

#include "support/fleet.h"

namespace {

namespace fs = std::filesystem;

const std::string kSdk = "/usr/share/kestrane-virtualization-sdk";

// What a run left in a host's /var/tmp: the entries named like the role's
// private directories.
std::vector<std::string> private_dirs(const TestHost &host)
{
    std::vector<std::string> found;
    for (const auto &entry : fs::directory_iterator(host.host.state() + "/vartmp"))
        if (entry.path().filename().string().rfind("tessaro-sdk", 0) == 0)
            found.push_back(entry.path().filename().string());
    std::sort(found.begin(), found.end());
    return found;
}

// Where the role records on a test host what it installed.
std::string record_of(const TestHost &host)
{
    return host.host.state() + "/varlib/upper/tessaro-sdk/package";
}

void age(const std::string &path)
{
    ASSERT_EQ(run_process({"touch", "-h", "-d", "2 hours ago", path}).status, 0) << path;
}

// Everything the role can be asked to do, against the host kinds it meets:
// a recap, a message and an installer command line per host and row.
struct Expect {
    std::string host;
    int changed;
    int failed;
    std::string message; // in the output, when not empty
};

void expect_rows(const PlaybookRun &run, const std::vector<Expect> &rows, const std::string &row)
{
    for (const Expect &e : rows) {
        SCOPED_TRACE(row + ": " + e.host);
        auto recap = run.recap.find(e.host);
        ASSERT_NE(recap, run.recap.end()) << run.output();
        EXPECT_EQ(recap->second.changed, e.changed) << run.output();
        EXPECT_EQ(recap->second.failed, e.failed) << run.output();
        if (!e.message.empty()) {
            EXPECT_NE(run.output().find(e.message), std::string::npos) << run.output();
        }
    }
}

} // namespace

TEST(FleetRollOut, InstallsUpgradesRemovesAndFailsClearly)
{
#ifndef PACKAGE_TARBALL
    GTEST_SKIP() << "this build makes no package";
#else
    const std::string name = fs::path(PACKAGE_TARBALL).stem().stem().string();
    Fleet fleet;

    // A fresh host on which a local user planted what once made root follow
    // a link: the old fixed directory as a link to a directory of theirs,
    // and a directory named like the role's private ones.
    TestHost fresh("fresh", fleet.keys());
    const std::string vartmp = fresh.host.state() + "/vartmp";
    fs::create_directories(vartmp + "/victim");
    ASSERT_EQ(chmod(vartmp.c_str(), 01777), 0);
    ASSERT_EQ(symlink("/var/tmp/victim", (vartmp + "/tessaro-sdk").c_str()), 0);
    fs::create_directories(vartmp + "/tessaro-sdk.UserPlantd");
    write_file(vartmp + "/tessaro-sdk.UserPlantd/keep", "mine\n");
    for (const std::string &path : {vartmp + "/victim", vartmp + "/tessaro-sdk", vartmp + "/tessaro-sdk.UserPlantd",
                                   vartmp + "/tessaro-sdk.UserPlantd/keep"})
        ASSERT_EQ(lchown(path.c_str(), 65534, 65534), 0);
    age(vartmp + "/tessaro-sdk.UserPlantd");

    // An older SDK, and what an earlier, interrupted roll-out left: the old
    // role's directory and a private directory of a run stopped by Ctrl-C.
    TestHost older("older", fleet.keys());
    older.host.preinstall("[files]\npayload/doc/README " + kSdk + "/doc/OLD-README\n");
    older.host.plant(kSdk + "/doc/OLD-README", "old\n", 0644);
    write_file(older.host.state() + "/vartmp/tessaro-sdk/old.tar.gz", "old\n");
    write_file(older.host.state() + "/vartmp/tessaro-sdk.Interruptd/" + name + "/install", "#!/bin/sh\n", 0755);
    age(older.host.state() + "/vartmp/tessaro-sdk.Interruptd");

    TestHost full("full", fleet.keys(), "512");
    // This host's package manager finds every package missing and its lock
    // held by another process, for good.
    TestHost locked("locked", fleet.keys());
    locked.host.plant("/usr/bin/dpkg-query", "#!/bin/sh\nexit 1\n");
    locked.host.plant("/usr/bin/apt-get", "#!/bin/sh\necho 'E: Could not get lock /var/lib/dpkg/lock-frontend. "
                                          "It is held by process 4242 (apt-get)' >&2\nexit 100\n");
    // Reached as a user who is not root, without --become.
    TestHost user("user", fleet.keys());
    user.host.plant("/etc/passwd", read_file("/etc/passwd") + "tester:x:1000:1000::/var/tmp:/bin/sh\n", 0644);
    user.host.plant("/etc/shadow", read_file("/etc/shadow") + "tester:*:19000:0:99999:7:::\n", 0640);
    user.user = "tester";
    // Given a package of its own whose checksum file does not match it.
    TestHost badsum("badsum", fleet.keys());
    TempDir elsewhere;
    fs::copy_file(PACKAGE_TARBALL, elsewhere / (name + ".tar.gz"));
    write_file(elsewhere / (name + ".tar.gz.sha256"), std::string(64, '0') + "  " + name + ".tar.gz\n");
    badsum.vars = "tessaro_sdk_package=" + elsewhere / (name + ".tar.gz");

    // Given a package of its own whose installer ends with a usage error.
    TestHost usage("usage", fleet.keys());
    TempDir own;
    fs::create_directories(own / "x");
    ASSERT_EQ(run_process({"tar", "-xzf", PACKAGE_TARBALL, "-C", own / "x"}).status, 0);
    write_file(own / ("x/" + name + "/installer/install"), "#!/bin/sh\necho 'install: unknown option -i' >&2\nexit 2\n",
               0755);
    ASSERT_EQ(run_process({"tar", "-czf", own / (name + ".tar.gz"), "-C", own / "x", name}).status, 0);
    ASSERT_EQ(run_process({"sh", "-c", "sha256sum " + name + ".tar.gz > " + name + ".tar.gz.sha256"}, own.path()).status, 0);
    usage.vars = "tessaro_sdk_package=" + own / (name + ".tar.gz");

    // Given a package that matches its checksum file but is no tarball.
    TestHost broken("broken", fleet.keys());
    TempDir damaged;
    write_file(damaged / (name + ".tar.gz"), "not a tarball\n");
    ASSERT_EQ(run_process({"sh", "-c", "sha256sum " + name + ".tar.gz > " + name + ".tar.gz.sha256"}, damaged.path()).status,
              0);
    broken.vars = "tessaro_sdk_package=" + damaged / (name + ".tar.gz");

    std::vector<TestHost *> hosts = {&fresh, &older, &full, &locked, &user, &badsum, &usage, &broken};
    for (TestHost *host : hosts)
        ASSERT_TRUE(host->wait_ready()) << host->name();
    const std::string not_root = "must run as root on user (it runs as uid 1000): connect as root, or add --become";
    const std::string mismatch = "does not match its checksum file";

    // Check mode says per host what would change, and runs nothing.
    PlaybookRun dry = fleet.play(hosts, {"--check"});
    expect_rows(dry,
                {{"fresh", 1, 0, "\"msg\": \"would install " + name + "\""},
                 {"older", 1, 0, "\"msg\": \"would upgrade " + name + "\""},
                 {"full", 1, 0, ""},
                 {"user", 0, 1, not_root},
                 {"badsum", 0, 1, mismatch},
                 {"usage", 1, 0, "\"msg\": \"would install " + name + "\""},
                 {"broken", 1, 0, "\"msg\": \"would install " + name + "\""}},
                "check mode");
    for (TestHost *host : hosts)
        EXPECT_EQ(host->runs(), 0) << host->name();

    // Installed where it can be; a failed host is never counted as changed.
    PlaybookRun first = fleet.play(hosts, {});
    expect_rows(first,
                {{"fresh", 1, 0, ""},
                 {"older", 1, 0, ""},
                 {"full", 0, 1, "not enough disk space: There is not enough space on /usr/share"},
                 {"locked", 0, 1, "the installer failed: "},
                 {"user", 0, 1, not_root},
                 {"badsum", 0, 1, mismatch},
                 {"usage", 0, 1, "usage or privilege error: install: unknown option -i"},
                 {"broken", 0, 1, "| the package could not be unpacked\"}"}},
                "install");
    EXPECT_TRUE(fresh.host.sdk_installed());
    EXPECT_TRUE(older.host.sdk_installed());
    EXPECT_FALSE(older.host.installed(kSdk + "/doc/OLD-README"));
    for (TestHost *host : {&fresh, &older, &full, &locked}) {
        EXPECT_EQ(host->runs(), 1) << host->name();
        EXPECT_EQ(read_file(fleet.logs() + "/" + host->name() + ".log"), host->host.log()) << host->name();
    }
    EXPECT_EQ(user.runs() + badsum.runs(), 0);
    // The local user's planted links and directories are left as they
    // were, and were never followed; what interrupted runs left is gone.
    struct stat victim{};
    ASSERT_EQ(stat((vartmp + "/victim").c_str(), &victim), 0);
    EXPECT_EQ(victim.st_uid, 65534u);
    EXPECT_EQ(victim.st_mode & 07777, 0755u);
    EXPECT_TRUE(fs::is_symlink(vartmp + "/tessaro-sdk"));
    EXPECT_EQ(read_file(vartmp + "/tessaro-sdk.UserPlantd/keep"), "mine\n");
    EXPECT_EQ(private_dirs(older), std::vector<std::string>{});
    for (TestHost *host : {&full, &locked, &usage, &broken})
        EXPECT_EQ(private_dirs(*host), std::vector<std::string>{}) << host->name();

    // Again: the installed hosts run nothing, the failed ones fail the same
    // way.
    PlaybookRun second = fleet.play(hosts, {});
    expect_rows(second,
                {{"fresh", 0, 0, ""},
                 {"older", 0, 0, ""},
                 {"full", 0, 1, "not enough disk space"},
                 {"locked", 0, 1, "the installer failed: "},
                 {"usage", 0, 1, "usage or privilege error"}},
                "up to date");
    EXPECT_EQ(fresh.runs(), 1);
    EXPECT_EQ(older.runs(), 1);
    std::vector<TestHost *> installed = {&fresh, &older};

    // Another package than the installed one (its files the same) is an
    // upgrade, and so is an SDK with files missing; -f is passed when
    // tessaro_sdk_force says true, as a boolean or as text, never when it
    // says false.
    struct ForceRow {
        std::vector<std::string> extra;
        bool passed;
    };
    for (const ForceRow &row : {ForceRow{{}, false}, ForceRow{{"-e", "tessaro_sdk_force=false"}, false},
                                ForceRow{{"-e", "tessaro_sdk_force=true"}, true},
                                ForceRow{{"-e", "{\"tessaro_sdk_force\": true}"}, true}}) {
        SCOPED_TRACE(row.extra.empty() ? "default" : row.extra[1]);
        ASSERT_EQ(fresh.run(fleet.key(), "echo tessaro-virtualization-sdk-3.0.0.1-x86_64 " + std::string(64, 'a') +
                                             " > /var/lib/tessaro-sdk/package").status, 0);
        ASSERT_EQ(older.run(fleet.key(), "rm " + kSdk + "/doc/README").status, 0);
        std::vector<std::string> check = row.extra;
        check.push_back("--check");
        expect_rows(fleet.play(installed, check),
                    {{"fresh", 1, 0, "\"msg\": \"would upgrade " + name + "\""}, {"older", 1, 0, ""}}, "check");
        PlaybookRun upgrade = fleet.play(installed, row.extra);
        expect_rows(upgrade, {{"fresh", 1, 0, ""}, {"older", 1, 0, ""}}, "upgrade");
        EXPECT_TRUE(older.host.installed(kSdk + "/doc/README"));
        const std::string run_log = read_file(fleet.logs() + "/fresh.log");
        EXPECT_EQ(fresh.host.log().substr(fresh.host.log().size() - run_log.size()), run_log);
        EXPECT_EQ(run_log.find("Installer started."), run_log.rfind("Installer started."));
        EXPECT_EQ(run_log.find(" --force ") != std::string::npos, row.passed) << run_log;
        EXPECT_EQ(read_file(record_of(fresh)), name + " " + read_file(std::string(PACKAGE_TARBALL) + ".sha256").substr(0, 64) + "\n");
    }

    // A value the role does not take fails every host before anything runs.
    const int runs_before = fresh.runs();
    PlaybookRun wrong = fleet.play(installed, {"-e", "tessaro_sdk_state=gone"});
    expect_rows(wrong, {{"fresh", 0, 1, "tessaro_sdk_state"}, {"older", 0, 1, ""}}, "wrong value");
    EXPECT_NE(wrong.output().find("present, absent"), std::string::npos) << wrong.output();
    EXPECT_EQ(fresh.runs(), runs_before);

    // Two plays at once against one host: each in its own directory, the
    // second waits for the first's installer; both succeed, nothing is left.
    ASSERT_EQ(fresh.run(fleet.key(), "echo another package > /var/lib/tessaro-sdk/package").status, 0);
    auto twin = std::async(std::launch::async, [&] { return fleet.play({&fresh}, {}); });
    PlaybookRun one = fleet.play({&fresh}, {});
    PlaybookRun other = twin.get();
    expect_rows(one, {{"fresh", 1, 0, ""}}, "one of two at once");
    expect_rows(other, {{"fresh", 1, 0, ""}}, "the other of two at once");
    EXPECT_EQ(fresh.runs(), runs_before + 2);

    // Removal, also of what an interrupted installation left (its manifest
    // is written first, its files are not all there); then nothing to do,
    // with the package named relative to where the playbook starts.
    ASSERT_EQ(older.run(fleet.key(), "rm " + kSdk + "/include/tessaro/sdk.h").status, 0);
    PlaybookRun removal = fleet.play(hosts, {"-e", "tessaro_sdk_state=absent"});
    expect_rows(removal, {{"fresh", 1, 0, ""}, {"older", 1, 0, ""}, {"full", 0, 0, ""}, {"locked", 0, 0, ""}},
                "removal");
    for (TestHost *host : {&fresh, &older, &full, &locked}) {
        EXPECT_FALSE(host->host.sdk_installed()) << host->name();
        EXPECT_FALSE(host->host.installed(kSdk + "/include/tessaro/version.h")) << host->name();
        EXPECT_FALSE(file_exists(record_of(*host))) << host->name();
    }
    PlaybookRun again = fleet.play({&fresh, &older, &full, &locked},
                                   {"-e", "tessaro_sdk_state=absent", "-e", "tessaro_sdk_package=" + name + ".tar.gz"},
                                   fs::path(PACKAGE_TARBALL).parent_path().string());
    expect_rows(again, {{"fresh", 0, 0, ""}, {"older", 0, 0, ""}, {"full", 0, 0, ""}, {"locked", 0, 0, ""}},
                "removal again");

    // Nothing of the role's is left on any host.
    for (TestHost *host : {&older, &full, &locked})
        EXPECT_EQ(private_dirs(*host), std::vector<std::string>{}) << host->name();
    EXPECT_EQ(private_dirs(fresh), (std::vector<std::string>{"tessaro-sdk", "tessaro-sdk.UserPlantd"}));
#endif
}
