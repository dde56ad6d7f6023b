// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// The fleet roll-out: the Ansible playbook against test hosts on this
// machine, each an sshd on its own port of 127.0.0.1 in its own mount
// namespace (its own /usr/share, /etc, /var/log, /var/tmp and /run),
// stopped by process id at the end.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <future>
#include <map>
#include <thread>
#include <tuple>

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

// What the installation recorded on a test host: its package line.
std::string record_of(const TestHost &host)
{
    const std::string record = read_file(host.host.installed_file(kSdk + "/Installed"));
    return record.substr(0, record.find('\n') + 1);
}

// The host's record, as if another package had installed the same files.
std::string record_another_package(const std::string &identity)
{
    return "cd " + kSdk + " && sed -i '1s/.*/package " + identity + "/; $d' Installed && "
           "echo \"end $(($(wc -l < Installed) - 1)) $(sha256sum < Installed | cut -c 1-64)\" >> Installed";
}

// Installs the package by hand on the host, as an administrator does: its
// identity replaced by `identity` when that is not empty.
void install_by_hand(const TestHost &host, const std::string &key, const std::string &name, const std::string &identity)
{
    const std::string change = identity.empty() ? "" : "echo '" + identity + "' > data/identity && ";
    ASSERT_EQ(host.run(key, "set -e; umask 022; d=$(mktemp -d); cd \"$d\"; tar -xzf " + std::string(PACKAGE_TARBALL) +
                                " --no-same-owner; cd " + name + "; " + change + "./install -i >/dev/null; rm -rf \"$d\"")
                  .status,
              0)
        << host.name();
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

    // Given a package that matches its checksum file but is no tarball:
    TestHost broken("broken", fleet.keys());
    TempDir damaged;
    write_file(damaged / (name + ".tar.gz"), "not a tarball\n");
    ASSERT_EQ(run_process({"sh", "-c", "sha256sum " + name + ".tar.gz > " + name + ".tar.gz.sha256"}, damaged.path()).status,
              0);
    broken.vars = "tessaro_sdk_package=" + damaged / (name + ".tar.gz");
    // It goes to no host: the controller says so, in check mode too.
    const std::string not_package = damaged / (name + ".tar.gz") +
                                    " is not an SDK package: it holds no data/identity under its top directory: nothing was done on broken";

    // Installed by hand with this very package.
    TestHost byhand("byhand", fleet.keys());
    // Where root is asked to unpack in directories other users can change.
    TestHost unsafe("unsafe", fleet.keys());
    // Given a package whose installer runs until it is stopped.
    TestHost stopped("stopped", fleet.keys());
    TempDir endless;
    fs::create_directories(endless / "x");
    ASSERT_EQ(run_process({"tar", "-xzf", PACKAGE_TARBALL, "-C", endless / "x"}).status, 0);
    write_file(endless / ("x/" + name + "/installer/install"), "#!/bin/sh\nexec sleep 120\n", 0755);
    ASSERT_EQ(run_process({"tar", "-czf", endless / (name + ".tar.gz"), "-C", endless / "x", name}).status, 0);
    ASSERT_EQ(run_process({"sh", "-c", "sha256sum " + name + ".tar.gz > " + name + ".tar.gz.sha256"}, endless.path()).status,
              0);
    stopped.vars = "tessaro_sdk_package=" + endless / (name + ".tar.gz");

    std::vector<TestHost *> hosts = {&fresh, &older, &full, &locked, &user, &badsum, &usage, &broken, &byhand};
    for (TestHost *host : {&fresh, &older, &full, &locked, &user, &badsum, &usage, &broken, &byhand, &unsafe, &stopped})
        ASSERT_TRUE(host->wait_ready()) << host->name();
    install_by_hand(byhand, fleet.key(), name, "");
    const std::string not_root = "must run as root on user (it runs as uid 1000): connect as root, or add --become";
    const std::string mismatch = "does not match its checksum file";

    std::map<std::string, std::vector<std::string>> planted;
    for (TestHost *host : hosts)
        planted[host->name()] = private_dirs(*host);

    // Check mode says per host what would change, and runs nothing.
    PlaybookRun dry = fleet.play(hosts, {"--check"});
    expect_rows(dry,
                {{"fresh", 1, 0, "\"msg\": \"would install " + name + "\""},
                 {"older", 1, 0, "\"msg\": \"would upgrade " + name + " (installed: unrecorded)\""},
                 {"full", 1, 0, ""},
                 {"user", 0, 1, not_root},
                 {"badsum", 0, 1, mismatch},
                 {"usage", 1, 0, "\"msg\": \"would install " + name + "\""},
                 {"broken", 0, 1, not_package},
                 {"byhand", 0, 0, "\"msg\": \"up to date: " + name + "\""}},
                "check mode");
    // Neither check mode nor the check tag alone changes a host: no
    // installer runs, no directory is made.
    PlaybookRun tagged = fleet.play(hosts, {"--tags", "tessaro_sdk_check"});
    expect_rows(tagged, {{"fresh", 1, 0, "\"msg\": \"would install " + name + "\""}, {"badsum", 0, 1, mismatch}},
                "check tag");
    for (TestHost *host : hosts) {
        EXPECT_EQ(host->runs(), host == &byhand ? 1 : 0) << host->name();
        EXPECT_EQ(private_dirs(*host), planted[host->name()]) << host->name();
    }
    // Each package is checked once a play, whichever host names it first.
    {
        TempDir counting;
        write_file(counting / "mktemp", "#!/bin/sh\necho made >> " + sh_quote(counting / "made") + "\nexec /usr/bin/mktemp \"$@\"\n",
                   0755);
        expect_rows(fleet.play({&badsum, &fresh, &older, &byhand}, {"--check"}, "",
                               {"PATH=" + counting.path() + ":" + std::getenv("PATH")}),
                    {{"badsum", 0, 1, mismatch}, {"fresh", 1, 0, ""}, {"older", 1, 0, ""}, {"byhand", 0, 0, ""}},
                    "own package first");
        EXPECT_EQ(read_file(counting / "made"), "made\nmade\n");
    }

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
                 {"broken", 0, 1, not_package},
                 {"byhand", 0, 0, "\"msg\": \"up to date: " + name + "\""}},
                "install");
    EXPECT_EQ(byhand.runs(), 1);
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
    for (TestHost *host : {&full, &locked, &user, &badsum, &usage, &broken, &byhand})
        EXPECT_EQ(private_dirs(*host), std::vector<std::string>{}) << host->name();

    // A directory for the run that another user could swap, or one above
    // it, fails the host before the package is copied.
    const std::string their_dirs = unsafe.host.state() + "/vartmp";
    fs::create_directories(their_dirs + "/theirs/root");
    ASSERT_EQ(lchown((their_dirs + "/theirs").c_str(), 65534, 65534), 0);
    fs::create_directories(their_dirs + "/open");
    ASSERT_EQ(chmod((their_dirs + "/open").c_str(), 0777), 0);
    ASSERT_EQ(symlink("/var/tmp", (their_dirs + "/link").c_str()), 0);
    fs::create_directories(their_dirs + "/acl");
    ASSERT_EQ(run_process({"setfacl", "-m", "u:1500:rwx", their_dirs + "/acl"}).status, 0);
    fs::create_directories(their_dirs + "/group");
    ASSERT_EQ(chmod((their_dirs + "/group").c_str(), 0775), 0);
    const std::string cannot = "tessaro_sdk_remote_dir cannot hold root's private directory on unsafe: ";
    for (const auto &[dir, why] : std::vector<std::pair<std::string, std::string>>{
             {"/var/tmp/theirs", "/var/tmp/theirs belongs to uid 65534, not to root"},
             {"/var/tmp/theirs/root", "/var/tmp/theirs belongs to uid 65534, not to root"},
             {"/var/tmp/link", "/var/tmp/link is a symbolic link"},
             {"/var/tmp/link/", "/var/tmp/link is a symbolic link"},
             {"/var/tmp//link/.", "/var/tmp/link is a symbolic link"},
             {"/var/tmp/theirs/../open", "/var/tmp/theirs/../open names a parent directory (..)"},
             {"/var/tmp/open", "/var/tmp/open may be written by users other than root and has no sticky bit"},
             {"/var/tmp/acl", "/var/tmp/acl may be written by users other than root and has no sticky bit "
                              "(an access ACL lets users or groups other than root write it)"},
             {"/var/tmp/group", "/var/tmp/group may be written by users other than root and has no sticky bit "
                                "(its group, gid 0, may write it)"},
             {"var/tmp", "var/tmp is not an absolute path"}}) {
        expect_rows(fleet.play({&unsafe}, {"-e", "tessaro_sdk_remote_dir=" + dir}), {{"unsafe", 0, 1, cannot + why}}, dir);
    }
    // One where programs cannot run says what to change.
    ASSERT_EQ(unsafe.run(fleet.key(), "mkdir /run/noexec && mount -t tmpfs -o noexec,mode=0755 tmpfs /run/noexec").status, 0);
    expect_rows(fleet.play({&unsafe}, {"-e", "tessaro_sdk_remote_dir=/run/noexec"}),
                {{"unsafe", 0, 1, "programs cannot run in /run/noexec (is its file system mounted noexec?): "
                                  "set tessaro_sdk_remote_dir to a directory of root's where they can"}},
                "noexec");
    EXPECT_EQ(unsafe.run(fleet.key(), "ls -A /run/noexec").out, "");
    EXPECT_EQ(unsafe.runs(), 0);
    EXPECT_TRUE(fs::is_empty(their_dirs + "/theirs/root"));
    EXPECT_TRUE(fs::is_empty(their_dirs + "/open"));
    // An empty package name is refused before anything is looked at.
    expect_rows(fleet.play({&unsafe}, {"-e", "tessaro_sdk_package="}),
                {{"unsafe", 0, 1, "tessaro_sdk_package is empty: name the package tarball"}}, "no package");

    // The README's command as it stands: the log directory beside the
    // playbook is made, for its owner alone.
    std::string documented;
    expect_rows(fleet.play_as_documented({&unsafe}, documented), {{"unsafe", 1, 0, ""}}, "as documented");
    EXPECT_EQ(read_file(documented + "/logs/unsafe.log"), unsafe.host.log());
    EXPECT_EQ(fs::status(documented + "/logs").permissions(), fs::perms::owner_all);
    // Any spelling of a good directory is that directory.
    ASSERT_EQ(unsafe.run(fleet.key(), record_another_package("another package")).status, 0);
    expect_rows(fleet.play({&unsafe}, {"-e", "tessaro_sdk_remote_dir=/var/tmp//./"}), {{"unsafe", 1, 0, ""}}, "spelt");
    // A directory that is not the one checked (its device and inode) is
    // not used.
    {
        TempDir replaced;
        const std::string sum = shell_output("sha256sum < " + sh_quote(PACKAGE_TARBALL) + " | cut -c 1-64");
        ProcessResult run = run_process({"sh", std::string(SOURCE_DIR) + "/deploy/ansible/roles/tessaro_sdk/files/run.sh",
                                         PACKAGE_TARBALL, replaced.path(), name, "-i", "", sum.substr(0, 64),
                                         replaced / "install.log", "MARKER", "0:0"});
        EXPECT_EQ(run.status, 3);
        EXPECT_EQ(run.err, replaced.path() + " is not the directory that was checked for root's private directory "
                                             "(replaced since): nothing was unpacked\n");
        EXPECT_EQ(shell_output("ls -A " + sh_quote(replaced.path())), "");
    }

    // The wait for another installer runs out: nothing is left behind.
    ProcessResult holder = unsafe.run(fleet.key(), "setsid flock -o /run/kestrane-sdk-install.lock sleep 120 "
                                                   "</dev/null >/dev/null 2>&1 & echo $!");
    ASSERT_EQ(holder.status, 0);
    ASSERT_EQ(unsafe.run(fleet.key(), record_another_package("another package")).status, 0);
    expect_rows(fleet.play({&unsafe}, {"-e", "tessaro_sdk_wait_retries=1"}),
                {{"unsafe", 0, 1, "another installer kept running on the host: Another installer is running"}}, "busy");
    kill(-std::stoi(holder.out), SIGTERM);
    EXPECT_EQ(private_dirs(unsafe), std::vector<std::string>{});

    // A run stopped before its installer started names the signal (not the
    // status) and the step it was in.
    {
        TempDir early;
        fs::create_directories(early / "bin");
        write_file(early / "bin/sha256sum", "#!/bin/sh\ntouch " + sh_quote(early / "checking") + "\nexec sleep 30\n", 0755);
        write_file(early / "package.tar.gz", "not a package\n");
        BackgroundProcess run({"env", "PATH=" + early / "bin" + ":/usr/bin:/bin", "sh",
                               std::string(SOURCE_DIR) + "/deploy/ansible/roles/tessaro_sdk/files/run.sh",
                               early / "package.tar.gz", early.path(), name, "-i", "", std::string(64, 'a'),
                               early / "install.log", "MARKER", "0:0"});
        ASSERT_TRUE(eventually([&] { return fs::exists(early / "checking"); }));
        ASSERT_EQ(kill(-run.pid(), SIGTERM), 0);
        ProcessResult stopped_early = run.wait();
        EXPECT_EQ(stopped_early.status, 143);
        // (The shell may say "Terminated" of the step's tool first.)
        const std::string said = "stopped by signal 15 while checking the package against its checksum: the installer "
                                 "did not run\n";
        EXPECT_EQ(stopped_early.err.substr(stopped_early.err.size() - std::min(stopped_early.err.size(), said.size())), said)
            << stopped_early.err;
    }

    // A run stopped while its installer works stops the installer and
    // removes its directory.
    auto stopping = std::async(std::launch::async, [&] { return fleet.play({&stopped}, {}); });
    const std::string in_this_host = "for p in /proc/[0-9]*; do [ \"$(readlink $p/ns/mnt)\" = \"$(readlink /proc/self/ns/mnt)\" ] "
                                     "&& [ \"$(cat $p/comm)\" = ";
    const std::string in_private_dir = " ] && readlink $p/cwd; done 2>/dev/null | grep -q '^/var/tmp/tessaro-sdk\\.'";
    bool working = false;
    for (auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
         !working && std::chrono::steady_clock::now() < deadline;)
        working = stopped.run(fleet.key(), in_this_host + "sleep" + in_private_dir).status == 0;
    ASSERT_TRUE(working);
    ASSERT_EQ(stopped.run(fleet.key(), "for p in /proc/[0-9]*; do [ \"$(readlink $p/ns/mnt)\" = "
                                       "\"$(readlink /proc/self/ns/mnt)\" ] && [ \"$(cat $p/comm)\" = sh ] && "
                                       "readlink $p/cwd | grep -q '^/var/tmp/tessaro-sdk\\.' && kill -TERM ${p#/proc/}; "
                                       "done 2>/dev/null; true").status, 0);
    expect_rows(stopping.get(), {{"stopped", 0, 1, "the installer ended with status 143"}}, "stopped");
    EXPECT_EQ(private_dirs(stopped), std::vector<std::string>{});
    EXPECT_NE(stopped.run(fleet.key(), in_this_host + "sleep" + in_private_dir).status, 0);

    // With a pinned signing key, the package goes to no host unless its
    // checksum file carries a good signature by that key, made while the
    // key was valid, and names this very package.
    TempDir gnupg;
    TempDir signing;
    std::filesystem::permissions(gnupg.path(), std::filesystem::perms::owner_all);
    const std::string gpg = "GNUPGHOME=" + sh_quote(gnupg.path()) +
                            " gpg --batch --quiet --yes --pinentry-mode loopback --passphrase '' ";
    auto shell = [&](const std::string &script) {
        ProcessResult result = run_process({"sh", "-c", "set -e\n" + script}, signing.path());
        EXPECT_EQ(result.status, 0) << script << result.err;
    };
    const std::string tarball = name + ".tar.gz";
    const std::string sums = tarball + ".sha256";
    shell(gpg + "--quick-gen-key 'Release <release@tessaro.example>' ed25519 sign 1y\n" + gpg +
          "--quick-gen-key 'Other <other@tessaro.example>' ed25519 sign 1y\n" + gpg +
          "--faked-system-time 20200101T000000 --quick-gen-key 'Old <old@tessaro.example>' ed25519 sign 1d\n" + gpg +
          "--quick-gen-key 'Revoked <revoked@tessaro.example>' ed25519 sign 1y\n" + gpg +
          "--quick-gen-key 'Release RSA <rsa@tessaro.example>' rsa2048 sign 1y\n" + gpg +
          "--quick-add-key $(" + gpg + "--list-keys --with-colons release@tessaro.example | "
          "awk -F: '/^fpr/ { print $10; exit }') ed25519 auth 1y\n");
    // Each kind of package, in a directory of its own: the build's tarball
    // and checksum file, and what the row does to them.
    const std::vector<std::pair<std::string, std::string>> kinds = {
        {"unsigned", ""},
        {"empty", ": > " + sums + ".asc"},
        {"garbage", "echo 'not a signature' > " + sums + ".asc"},
        {"otherfile", "echo other > other\n" + gpg + "-u release@tessaro.example -a -b -o " + sums + ".asc other"},
        {"changed", gpg + "-u release@tessaro.example -a -b " + sums + "\necho >> " + sums},
        {"otherkey", gpg + "-u other@tessaro.example -a -b " + sums},
        {"expired", gpg + "--faked-system-time 20200101T010000 -u old@tessaro.example -a -b " + sums},
        {"revoked", gpg + "-u revoked@tessaro.example -a -b " + sums},
        {"future", gpg + "--faked-system-time $(date -u -d '+1 day' +%Y%m%dT%H%M%S) -u release@tessaro.example -a -b " + sums},
        {"otherversion", "mv " + tarball + " old.tar.gz\nsha256sum old.tar.gz > old.tar.gz.sha256\n" + gpg +
                             "-u release@tessaro.example -a -b old.tar.gz.sha256\nmv old.tar.gz " + tarball +
                             "\nmv old.tar.gz.sha256 " + sums + "\nmv old.tar.gz.sha256.asc " + sums + ".asc"},
        {"subkey", "fpr=$(" + gpg + "--list-keys --with-colons release@tessaro.example | "
                   "awk -F: '/^fpr/ { n++ } n == 2 && /^fpr/ { print $10 }')\n" +
                   gpg + "--export-secret-subkeys release@tessaro.example | python3 " +
                   sh_quote(std::string(SOURCE_DIR) + "/tests/support/sign-with-subkey.py") + " " + sums + " $fpr > " +
                   sums + ".asc"},
        {"critical", gpg + "-u release@tessaro.example --sig-notation '!build@tessaro.example=1' -a -b " + sums},
        {"twosigs", gpg + "-u release@tessaro.example -u other@tessaro.example -a -b " + sums},
        {"sha1", gpg + "--digest-algo SHA1 -u release@tessaro.example -a -b " + sums},
        {"md5", gpg + "--allow-weak-digest-algos --digest-algo MD5 -u rsa@tessaro.example -a -b " + sums},
        {"rsa", gpg + "-u rsa@tessaro.example -a -b " + sums},
        {"good", gpg + "-u release@tessaro.example -a -b " + sums}};
    for (const auto &[kind, make] : kinds) {
        fs::create_directories(signing / kind);
        fs::copy_file(PACKAGE_TARBALL, signing / (std::string(kind) + "/" + tarball));
        fs::copy_file(std::string(PACKAGE_TARBALL) + ".sha256", signing / (std::string(kind) + "/" + sums));
        shell("cd " + kind + "\n" + make);
    }
    shell("fpr=$(" + gpg + "--list-keys --with-colons revoked@tessaro.example | awk -F: '/^fpr/ { print $10; exit }')\n"
          "sed 's/^:-----/-----/' " + sh_quote(gnupg.path()) + "/openpgp-revocs.d/$fpr.rev | " + gpg + "--import\n");
    for (const char *who : {"release", "other", "old", "revoked", "rsa"})
        shell(gpg + "--armor --export " + who + "@tessaro.example > " + who + ".asc");
    shell(gpg + "--armor --export release@tessaro.example other@tessaro.example > two.asc\n"
                "cat other.asc release.asc > other-release.asc\ncat release.asc other.asc > release-other.asc");
    const std::string fingerprints = shell_output(
        "GNUPGHOME=" + sh_quote(gnupg.path()) + " gpg --batch --with-colons --list-keys release@tessaro.example "
        "other@tessaro.example | awk -F: '/^pub/ { p = 1; next } p && /^fpr/ { print $10; p = 0 }' | paste -s -d ' ' - | "
        "sed 's/ /, /'");
    TestHost &signed_host = stopped;
    for (const auto &[kind, key, why] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {"unsigned", "release.asc", " is not signed: " + (signing / (std::string("unsigned") + "/" + sums)) + ".asc is missing"},
             {"empty", "release.asc", "the signature " + (signing / (std::string("empty") + "/" + sums)) + ".asc is empty"},
             {"garbage", "release.asc", (signing / (std::string("garbage") + "/" + sums)) + ".asc is not an OpenPGP signature"},
             {"otherfile", "release.asc", "(changed after it was signed, or the signature of another file)"},
             {"changed", "release.asc", "(changed after it was signed, or the signature of another file)"},
             {"otherkey", "release.asc", ".asc was not made by the key of " + (signing / "release.asc")},
             {"subkey", "release.asc", ".asc was made by a subkey of " + (signing / "release.asc") + " that may not sign"},
             {"good", "other.asc", ".asc was not made by the key of " + (signing / "other.asc")},
             {"expired", "old.asc", ".asc was made by the key of " + (signing / "old.asc") + ", which has expired"},
             {"revoked", "revoked.asc", ".asc was made by the key of " + (signing / "revoked.asc") + ", which was revoked"},
             {"future", "release.asc", ".asc is dated in the future ("},
             {"sha1", "release.asc", ".asc was made with a weak hash (MD5, SHA-1 or RIPEMD-160): sign with SHA-256 or stronger"},
             {"md5", "rsa.asc", ".asc was made with a weak hash (MD5, SHA-1 or RIPEMD-160): sign with SHA-256 or stronger"},
             {"critical", "release.asc", ".asc carries a critical part that gpgv does not know (a critical notation, say)"},
             {"twosigs", "release.asc", ".asc holds 2 signatures: it must hold one, by the key of " + (signing / "release.asc")},
             {"good", "good/" + sums, "the signing key " + (signing / (std::string("good") + "/" + sums)) +
                                              " is not an ASCII-armoured OpenPGP public key (gpg --export --armor writes one)"},
             {"good", "two.asc", "the signing key " + (signing / "two.asc") + " holds 2 keys (" +
                                     fingerprints.substr(0, fingerprints.size() - 1) + "): pin exactly one"},
             // (Two armour blocks: every one is read, in either order.)
             {"good", "release-other.asc", "the signing key " + (signing / "release-other.asc") + " holds 2 keys (" +
                                               fingerprints.substr(0, fingerprints.size() - 1) + "): pin exactly one"},
             {"good", "other-release.asc", "the signing key " + (signing / "other-release.asc") + " holds 2 keys (" +
                                               fingerprints.substr(42, 40) + ", " + fingerprints.substr(0, 40) +
                                               "): pin exactly one"},
             {"otherversion", "release.asc", "the signed checksum file " + (signing / (std::string("otherversion") + "/" + sums)) +
                                                 " is for another package (old.tar.gz): nothing was done on stopped"}}) {
        expect_rows(fleet.play({&signed_host}, {"-e", "tessaro_sdk_package=" + (signing / (std::string(kind) + "/" + tarball)), "-e",
                                                "tessaro_sdk_signing_key=" + (signing / key)}),
                    {{"stopped", 0, 1, why}}, kind + " with " + key);
    }
    EXPECT_EQ(signed_host.run(fleet.key(), "find /root /var/tmp -name '*.tar.gz*'").out, "");
    EXPECT_EQ(signed_host.runs(), 0);
    // Named through a link of another name, the package is installed under
    // its own.
    // (Signed with an RSA key: its algorithm is no hash's.)
    ASSERT_EQ(symlink((signing / (std::string("rsa") + "/" + tarball)).c_str(), (signing / "sdk-latest.tar.gz").c_str()), 0);
    expect_rows(fleet.play({&signed_host}, {"-e", "tessaro_sdk_package=" + (signing / "sdk-latest.tar.gz"), "-e",
                                            "tessaro_sdk_signing_key=" + (signing / "rsa.asc")}),
                {{"stopped", 1, 0, "\"msg\": \"install " + name + "\""}}, "signed by the pinned key");
    EXPECT_TRUE(signed_host.host.sdk_installed());

    // What was checked is what travels: a look-alike and its own checksum
    // file, swapped in by someone who can write the package's directory
    // the moment the check has read the checksum file, or the tarball, is
    // never what a host runs: the host gets the checked bytes, or nothing.
    shell("mkdir swap look && cp good/" + tarball + " good/" + sums + " good/" + sums + ".asc swap/\n"
          "tar -xzf swap/" + tarball + " -C look\necho look-alike >> look/" + name + "/payload/doc/README\n"
          "tar -czf look/" + tarball + " -C look " + name + "\n(cd look && sha256sum " + tarball + " > " + sums + ")\n");
    // After the checksum file the check reads nothing: the original goes.
    // After the tarball the swap races the copy of the checksum file: the
    // original goes, or the pair does not match and nothing goes.
    for (const std::string &trigger : {sums, tarball}) {
        SCOPED_TRACE("swapped after reading " + trigger);
        shell("cp good/" + tarball + " good/" + sums + " swap/");
        ASSERT_EQ(signed_host.run(fleet.key(), record_another_package("another package")).status, 0);
        const std::string swapper = shell_output(
            "cd " + sh_quote(signing / "swap") + " && rm -f .watch .swapped && setsid sh -c '"
            "inotifywait -m -e close_nowrite --format %f . 2> .watch | { while read -r f; do [ \"$f\" = " + trigger +
            " ] && break; done; cp ../look/" + tarball + " .new.tar.gz && cp ../look/" + sums + " .new.sha256 && mv .new.tar.gz " +
            tarball + " && mv .new.sha256 " + sums + " && echo swapped > .swapped; cat > /dev/null; }' "
            "< /dev/null > /dev/null 2>&1 & echo $!");
        for (auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
             read_file(signing / "swap/.watch").find("Watches established") == std::string::npos;) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the swapper did not start";
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        PlaybookRun swapped = fleet.play({&signed_host}, {"-e", "tessaro_sdk_package=" + (signing / ("swap/" + tarball)), "-e",
                                                          "tessaro_sdk_signing_key=" + (signing / "release.asc")});
        kill(-std::stoi(swapper), SIGTERM);
        EXPECT_EQ(read_file(signing / "swap/.swapped"), "swapped\n") << swapped.output();
        const Recap &recap = swapped.recap["stopped"];
        EXPECT_EQ(recap.changed + recap.failed, 1) << swapped.output();
        EXPECT_TRUE(trigger == tarball || recap.changed == 1) << swapped.output();
        EXPECT_NE(swapped.output().find(recap.changed ? "\"msg\": \"upgrade " + name : "does not match"), std::string::npos)
            << swapped.output();
        EXPECT_EQ(read_file(signed_host.host.installed_file(kSdk + "/doc/README")).find("look-alike"), std::string::npos);
    }
    EXPECT_EQ(shell_output("ls -A " + sh_quote(fleet.tmp())), "");
    // A play whose hosts are all unreachable ends before it can remove its
    // copy: the next play's check does.
    PlaybookRun unreachable = fleet.play({&signed_host}, {"-e", "ansible_port=1"});
    ASSERT_EQ(unreachable.recap["stopped"].unreachable, 1) << unreachable.output();
    EXPECT_NE(shell_output("ls -A " + sh_quote(fleet.tmp())), "");
    expect_rows(fleet.play({&signed_host}, {"--check"}), {{"stopped", 0, 0, ""}}, "after the unreachable");
    EXPECT_EQ(shell_output("ls -A " + sh_quote(fleet.tmp())), "");

    // The controller's private copy is made only where nobody else can
    // change it; a checksum file not as sha256sum writes it is named for
    // what it is.
    {
        TempDir controller;
        const std::string verify = std::string(SOURCE_DIR) + "/deploy/ansible/roles/tessaro_sdk/files/verify.sh";
        auto refusal = [&](const std::string &tmpdir, const std::string &package) {
            const std::string out = run_process({"sh", verify, package}, "", {"TMPDIR=" + tmpdir}).out;
            const std::size_t at = out.find("refusal=");
            return at == std::string::npos ? std::string() : out.substr(at + 8, out.find('\n', at) - at - 8);
        };
        fs::create_directories(controller / "theirs");
        ASSERT_EQ(lchown((controller / "theirs").c_str(), 65534, 65534), 0);
        fs::create_directories(controller / "open");
        ASSERT_EQ(chmod((controller / "open").c_str(), 0777), 0);
        fs::create_directories(controller / "sticky/dir");
        ASSERT_EQ(chmod((controller / "sticky").c_str(), 01777), 0);
        ASSERT_EQ(symlink("dir", (controller / "sticky/link").c_str()), 0);
        ASSERT_EQ(lchown((controller / "sticky/link").c_str(), 65534, 65534), 0);
        const std::string cannot = "the controller's TMPDIR ";
        for (const auto &[tmpdir, why] : std::vector<std::pair<std::string, std::string>>{
                 {controller / "theirs", controller / "theirs belongs to uid 65534, neither to root nor to uid 0"},
                 {controller / "open", controller / "open may be written by other users and has no sticky bit (every user may write it)"},
                 {controller / "sticky/link/", controller / "sticky/link belongs to uid 65534, neither to root nor to uid 0"},
                 {controller / "sticky/dir/", ""}}) {
            SCOPED_TRACE(tmpdir);
            const std::string said = refusal(tmpdir, PACKAGE_TARBALL);
            EXPECT_EQ(said, why.empty() ? "" : cannot + tmpdir.substr(0, tmpdir.find_last_not_of('/') + 1) +
                                                   " cannot hold the private copy of the package: " + why +
                                                   " (set TMPDIR to a directory that only you or root may change)");
        }
        EXPECT_EQ(shell_output("find " + sh_quote(controller / "theirs") + " " + sh_quote(controller / "open") + " -mindepth 1"), "");
        // A full TMPDIR is the controller's to mend.
        fs::create_directories(controller / "full");
        const std::string full = run_process({"unshare", "-m", "sh", "-c", "mount -t tmpfs -o size=256k tmpfs " +
                                              sh_quote(controller / "full") + " && TMPDIR=" + sh_quote(controller / "full") +
                                              " sh " + sh_quote(verify) + " " + sh_quote(PACKAGE_TARBALL)}).out;
        EXPECT_NE(full.find("refusal=" + std::string(PACKAGE_TARBALL) + " cannot be copied into the controller's private "
                            "directory "), std::string::npos) << full;
        EXPECT_NE(full.find(" (No space left on device): free space in " + controller / "full" +
                            ", or set TMPDIR to another directory\n"), std::string::npos) << full;
        const std::string sum = shell_output("sha256sum < " + sh_quote(PACKAGE_TARBALL) + " | cut -c 1-64").substr(0, 64);
        const std::string entry = sum + "  " + name + ".tar.gz";
        for (const auto &[sums, why] : std::vector<std::pair<std::string, std::string>>{
                 {entry + " extra\n", "is not as sha256sum writes it (the SHA-256 sum, two characters, the package's name, "
                                      "and nothing else)"},
                 {entry + "\n" + entry + "\n", "holds 2 lines: it must hold one, the package's entry, as sha256sum writes it"},
                 {entry, "does not end its line: it must be as sha256sum writes it"},
                 {"", "is empty"}}) {
            SCOPED_TRACE(why);
            TempDir row;
            fs::copy_file(PACKAGE_TARBALL, row / (name + ".tar.gz"));
            write_file(row / (name + ".tar.gz.sha256"), sums);
            EXPECT_EQ(refusal(controller / "sticky/dir", row / (name + ".tar.gz")),
                      "the checksum file " + row / (name + ".tar.gz.sha256") + " " + why);
        }
        // What a play that was stopped left (its process gone) goes with
        // the next check; another user's, and a running play's, stay.
        const std::string mine = controller / "sticky/dir";
        const std::string self = shell_output("echo $PPID-$(sed 's/.*) //' /proc/$PPID/stat | cut -d ' ' -f 20)");
        for (const std::string &left : std::vector<std::string>{"tessaro-sdk-package.999999-1.Abandoned0", "tessaro-sdk-package.1-1.Abandoned1",
                                         "tessaro-sdk-package.999998-1.NotMine000",
                                         "tessaro-sdk-package." + self.substr(0, self.size() - 1) + ".Running000"})
            fs::create_directories(mine + "/" + left);
        ASSERT_EQ(lchown((mine + "/tessaro-sdk-package.999998-1.NotMine000").c_str(), 65534, 65534), 0);
        EXPECT_EQ(refusal(mine, PACKAGE_TARBALL), "");
        EXPECT_EQ(shell_output("ls -A " + sh_quote(mine) + " | grep -E 'Abandoned|NotMine|Running' | LC_ALL=C sort"),
                  shell_output("printf '%s\\n' tessaro-sdk-package.999998-1.NotMine000 tessaro-sdk-package." +
                               self.substr(0, self.size() - 1) + ".Running000 | LC_ALL=C sort"));
    }

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

    // What the host has decides. Installed files changed by hand are
    // repaired, and named; a changed configuration file is kept and
    // reported. A change that keeps size and time is found when every file
    // is read. A host installed by hand with another package is upgraded.
    const std::string identity = shell_output("tar -xzOf " + sh_quote(PACKAGE_TARBALL) + " " + name + "/data/identity");
    const std::string earlier = "tessaro-virtualization-sdk-3.1.0.400-x86_64 " + std::string(64, '0');
    ASSERT_EQ(fresh.run(fleet.key(), "cd " + kSdk + " && echo edited >> doc/README && chmod 0600 bin/tessaro-sdk-info && "
                                     "echo '# mine' >> /etc/kestrane-sdk/sdk.conf && "
                                     "sed -i 's/SDK/sdk/' include/tessaro/sdk.h && "
                                     "touch -d @$(awk '$6 ~ /sdk.h$/ { print $4 }' Installed) include/tessaro/sdk.h").status, 0);
    install_by_hand(byhand, fleet.key(), name, earlier);
    const std::string repair = name + ": " + kSdk + "/doc/README (content), " + kSdk + "/bin/tessaro-sdk-info (mode)";
    const std::string kept = "; configuration changed on the host, kept as it is: /etc/kestrane-sdk/sdk.conf";
    expect_rows(fleet.play({&fresh, &byhand}, {"--check"}),
                {{"fresh", 1, 0, "\"msg\": \"would repair " + repair + kept + "\""},
                 {"byhand", 1, 0, "\"msg\": \"would upgrade " + name + " (installed: " + earlier.substr(0, 43) + ")\""}},
                "drift seen");
    expect_rows(fleet.play({&fresh}, {"--check", "-e", "tessaro_sdk_verify_content=true"}),
                {{"fresh", 1, 0, ": " + kSdk + "/include/tessaro/sdk.h (content), " + kSdk + "/doc/README (content), "}},
                "drift read");
    expect_rows(fleet.play({&fresh, &byhand}, {}),
                {{"fresh", 1, 0, "\"msg\": \"repair " + repair + kept + "\""}, {"byhand", 1, 0, ""}}, "drift mended");
    EXPECT_EQ(read_file(fresh.host.installed_file(kSdk + "/doc/README")),
              read_file(std::string(SOURCE_DIR) + "/sample-sdk/payload/doc/README"));
    EXPECT_EQ(fs::status(fresh.host.installed_file(kSdk + "/bin/tessaro-sdk-info")).permissions(), fs::perms(0755));
    EXPECT_EQ(read_file(fresh.host.installed_file("/etc/kestrane-sdk/sdk.conf")),
              read_file(std::string(SOURCE_DIR) + "/sample-sdk/payload/config/sdk.conf") + "# mine\n");
    EXPECT_EQ(record_of(byhand), "package " + identity);
    expect_rows(fleet.play({&fresh, &byhand}, {}),
                {{"fresh", 0, 0, "\"msg\": \"up to date: " + name + kept + "\""}, {"byhand", 0, 0, ""}}, "mended");
    EXPECT_EQ(byhand.runs(), 3);

    // A record that does not prove itself (cut short, a file gone with its
    // line) counts as none: the SDK is installed anew. A directory where a
    // file of the SDK goes fails the repair before anything is removed: the
    // other files and the record stay, and once it is gone the next run
    // mends the host.
    ASSERT_EQ(fresh.run(fleet.key(), "cd " + kSdk + " && rm doc/README && sed -i '/doc\\/README$/d' Installed").status, 0);
    expect_rows(fleet.play({&fresh}, {}), {{"fresh", 1, 0, "\"msg\": \"upgrade " + name + " (installed: unrecorded)\""}},
                "record cut");
    EXPECT_TRUE(fresh.host.installed(kSdk + "/doc/README"));
    EXPECT_EQ(record_of(fresh), "package " + identity);
    ASSERT_EQ(fresh.run(fleet.key(), "cd " + kSdk + " && rm doc/README && mkdir doc/README").status, 0);
    const std::string before_repair = read_file(fresh.host.installed_file(kSdk + "/Installed"));
    expect_rows(fleet.play({&fresh}, {}), {{"fresh", 0, 1, "not files, where files of the SDK go"}}, "directory in the way");
    EXPECT_EQ(read_file(fresh.host.installed_file(kSdk + "/Installed")), before_repair);
    EXPECT_TRUE(fresh.host.installed(kSdk + "/include/tessaro/sdk.h"));
    ASSERT_EQ(fresh.run(fleet.key(), "rmdir " + kSdk + "/doc/README").status, 0);
    expect_rows(fleet.play({&fresh}, {}), {{"fresh", 1, 0, "\"msg\": \"repair " + name + ": " + kSdk + "/doc/README (missing)"}},
                "directory gone");

    // Installed paths are data, quotes included: a package with doc/it's
    // installs, and is then up to date. Installed over files that are
    // already there (a hand-copied SDK without its manifest), every file
    // gets the package's mode, and the record holds it.
    TempDir quoted;
    ASSERT_EQ(run_process({"sh", "-ec", "tar -xzf " + sh_quote(PACKAGE_TARBALL) + "\ncd " + name +
                                            "\necho quoted > \"payload/doc/it's\"\n"
                                            "echo \"payload/doc/it's " + kSdk + "/doc/it's\" >> Manifest\n"
                                            "f=\"doc/caf$(printf '\\351\\134q')\"\necho latin > \"payload/$f\"\n"
                                            "printf '%s\\n' \"payload/$f " + kSdk + "/$f\" >> Manifest\n"
                                            "echo \"" + name + " " + std::string(64, 'b') + "\" > data/identity\ncd ..\n"
                                            "tar -czf " + name + ".tar.gz " + name + "\nsha256sum " + name + ".tar.gz > " + name +
                                            ".tar.gz.sha256"},
                          quoted.path())
                  .status,
              0);
    const std::vector<std::string> quoted_package = {"-e", "tessaro_sdk_package=" + quoted / (name + ".tar.gz")};
    expect_rows(fleet.play({&byhand}, quoted_package), {{"byhand", 1, 0, "\"msg\": \"upgrade " + name}}, "quoted path");
    EXPECT_EQ(read_file(byhand.host.installed_file(kSdk + "/doc/it's")), "quoted\n");
    expect_rows(fleet.play({&byhand}, quoted_package), {{"byhand", 0, 0, "\"msg\": \"up to date: " + name}}, "quoted again");
    // A name that is no UTF-8 is named byte for byte in the verdict (the
    // manifest's last section, where it went, is the configuration), its
    // backslash as a byte too: no other name reads the same.
    ASSERT_EQ(byhand.run(fleet.key(), "echo more >> \"" + kSdk + "/doc/caf$(printf '\\351\\134q')\"").status, 0);
    expect_rows(fleet.play({&byhand}, quoted_package),
                {{"byhand", 0, 0, "\"msg\": \"up to date: " + name + "; configuration changed on the host, kept as it is: " +
                                     kSdk + "/doc/caf\\\\xE9\\\\x5Cq\""}},
                "non-UTF-8 path");
    ASSERT_EQ(byhand.run(fleet.key(), "cd " + kSdk + " && rm Manifest Installed && chmod 0600 doc/README && "
                                      "chmod 0777 bin/tessaro-sdk-info").status, 0);
    expect_rows(fleet.play({&byhand}, {}), {{"byhand", 1, 0, "\"msg\": \"install " + name}}, "over files");
    EXPECT_EQ(fs::status(byhand.host.installed_file(kSdk + "/doc/README")).permissions(), fs::perms(0644));
    EXPECT_EQ(fs::status(byhand.host.installed_file(kSdk + "/bin/tessaro-sdk-info")).permissions(), fs::perms(0755));
    EXPECT_EQ(byhand.run(fleet.key(), "awk '$6 ~ /doc\\/README$|bin\\/tessaro-sdk-info$/ { print $2 }' " + kSdk + "/Installed").out,
              "644\n755\n");

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
        ASSERT_EQ(fresh.run(fleet.key(), record_another_package("tessaro-virtualization-sdk-3.0.0.1-x86_64 " +
                                                                std::string(64, 'a'))).status, 0);
        ASSERT_EQ(older.run(fleet.key(), "rm " + kSdk + "/doc/README").status, 0);
        std::vector<std::string> check = row.extra;
        check.push_back("--check");
        expect_rows(fleet.play(installed, check),
                    {{"fresh", 1, 0, "\"msg\": \"would upgrade " + name + " (installed: tessaro-virtualization-sdk-3.0.0.1-x86_64)"},
                     {"older", 1, 0, "\"msg\": \"would repair " + name + ": " + kSdk + "/doc/README (missing)"}},
                    "check");
        PlaybookRun upgrade = fleet.play(installed, row.extra);
        expect_rows(upgrade, {{"fresh", 1, 0, ""}, {"older", 1, 0, ""}}, "upgrade");
        EXPECT_TRUE(older.host.installed(kSdk + "/doc/README"));
        const std::string run_log = read_file(fleet.logs() + "/fresh.log");
        EXPECT_EQ(fresh.host.log().substr(fresh.host.log().size() - run_log.size()), run_log);
        EXPECT_EQ(run_log.find("Installer started."), run_log.rfind("Installer started."));
        // It starts where this run's part of the log starts, with its first
        // entry's time stamp, not a byte of the last run's.
        EXPECT_TRUE(!run_log.empty() && std::isdigit(static_cast<unsigned char>(run_log.front()))) << run_log;
        EXPECT_EQ(run_log.find(" --force ") != std::string::npos, row.passed) << run_log;
        EXPECT_EQ(record_of(fresh), "package " + identity);
    }

    // A value the role does not take fails every host before anything runs.
    const int runs_before = fresh.runs();
    PlaybookRun wrong = fleet.play(installed, {"-e", "tessaro_sdk_state=gone"});
    expect_rows(wrong, {{"fresh", 0, 1, "tessaro_sdk_state"}, {"older", 0, 1, ""}}, "wrong value");
    EXPECT_NE(wrong.output().find("present, absent"), std::string::npos) << wrong.output();
    EXPECT_EQ(fresh.runs(), runs_before);

    // Two plays at once against one host: each in its own directory, the
    // second waits for the first's installer; both succeed, nothing is left.
    ASSERT_EQ(fresh.run(fleet.key(), record_another_package("another package")).status, 0);
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
        EXPECT_EQ(record_of(*host), "") << host->name();
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
