// The fleet roll-out: the Ansible playbook against four test hosts on this
// machine, each an sshd on its own port of 127.0.0.1 in its own mount
// namespace (its own /usr/share, /etc, /var/log and /var/tmp), stopped by
// process id at the end.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <thread>

#include "support/package_fixture.h"

namespace {

namespace fs = std::filesystem;

int free_port()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = -1;
    if (bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(fd);
    return port;
}

bool accepts(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    bool ok = connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

// One test host: its sandbox state is that of a package fixture, so the
// fixture's helpers (plant, preinstall, log, sdk_installed) read and change
// it. Its sshd lives at most ten minutes.
class TestHost {
public:
    TestHost(std::string name, const std::string &authorized_keys, const std::string &share_kib = "")
        : name_(std::move(name)), port_(free_port())
    {
        pid_ = fork();
        if (pid_ == 0) {
            // sshd's own messages go to the host's state directory.
            int null_fd = open("/dev/null", O_RDWR);
            int log_fd = open((host.state() + "/sshd.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            dup2(null_fd, 0);
            dup2(null_fd, 1);
            dup2(log_fd >= 0 ? log_fd : null_fd, 2);
            close(null_fd);
            if (log_fd >= 0)
                close(log_fd);
            setsid();
            if (!share_kib.empty())
                setenv("SHARE_KIB", share_kib.c_str(), 1);
            std::string port = std::to_string(port_);
            execlp("timeout", "timeout", "600", "unshare", "-m", "--propagation", "private", "/bin/sh", TEST_HOST_SCRIPT,
                   host.state().c_str(), port.c_str(), authorized_keys.c_str(), static_cast<char *>(nullptr));
            _exit(127);
        }
    }
    ~TestHost() { stop(); }
    TestHost(const TestHost &) = delete;
    TestHost &operator=(const TestHost &) = delete;

    bool wait_ready() const
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            if (accepts(port_))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    void stop()
    {
        if (pid_ <= 0)
            return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

    std::string inventory_line(const std::string &key) const
    {
        return name_ + " ansible_host=127.0.0.1 ansible_port=" + std::to_string(port_) +
               " ansible_user=root ansible_ssh_private_key_file=" + key +
               " ansible_python_interpreter=/usr/bin/python3 ansible_remote_tmp=/var/tmp/.ansible-tmp\n";
    }

    const std::string &name() const { return name_; }
    int runs() const
    {
        std::string log = host.log();
        int n = 0;
        for (std::size_t at = log.find("Installer started."); at != std::string::npos;
             at = log.find("Installer started.", at + 1))
            ++n;
        return n;
    }

    PackageFixture host;

private:
    std::string name_;
    int port_;
    pid_t pid_ = -1;
};

struct Recap {
    int ok = -1;
    int changed = -1;
    int failed = -1;
    int unreachable = -1;
};

struct PlaybookRun {
    ProcessResult result;
    std::map<std::string, Recap> recap;
    std::string output() const { return result.out + result.err; }
};

class Fleet {
public:
    Fleet()
    {
        run_process({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", key()});
        fs::copy_file(key() + ".pub", dir_ / "authorized_keys");
        fs::create_directories(dir_ / "logs");
    }

    std::string key() const { return dir_ / "id_ed25519"; }
    std::string keys() const { return dir_ / "authorized_keys"; }
    std::string logs() const { return dir_ / "logs"; }

    PlaybookRun play(const std::vector<TestHost *> &hosts, const std::vector<std::string> &extra) const
    {
        std::string inventory;
        for (const TestHost *host : hosts)
            inventory += host->inventory_line(key());
        write_file(dir_ / "inventory.ini", inventory);
        std::vector<std::string> argv = {"timeout", "600", "ansible-playbook", "-i", dir_ / "inventory.ini",
                                         std::string(SOURCE_DIR) + "/deploy/ansible/install.yml",
                                         "-e", std::string("tessaro_sdk_package=") + PACKAGE_TARBALL,
                                         "-e", "tessaro_sdk_log_dir=" + logs()};
        argv.insert(argv.end(), extra.begin(), extra.end());
        PlaybookRun run;
        run.result = run_process(argv, "",
                                 {"ANSIBLE_HOST_KEY_CHECKING=False", "ANSIBLE_NOCOLOR=1", "ANSIBLE_FORCE_COLOR=0",
                                  "ANSIBLE_HOME=" + dir_ / "ansible", "ANSIBLE_LOCAL_TEMP=" + dir_ / "ansible-tmp",
                                  "ANSIBLE_RETRY_FILES_ENABLED=False",
                                  "ANSIBLE_SSH_ARGS=-o UserKnownHostsFile=/dev/null -o StrictHostKeyChecking=no "
                                  "-o ControlMaster=no -o ConnectTimeout=20"});
        static const std::regex line(R"((\S+)\s+: ok=(\d+)\s+changed=(\d+)\s+unreachable=(\d+)\s+failed=(\d+))");
        for (std::sregex_iterator it(run.result.out.begin(), run.result.out.end(), line), end; it != end; ++it) {
            Recap recap;
            recap.ok = std::stoi((*it)[2]);
            recap.changed = std::stoi((*it)[3]);
            recap.unreachable = std::stoi((*it)[4]);
            recap.failed = std::stoi((*it)[5]);
            run.recap[(*it)[1]] = recap;
        }
        return run;
    }

private:
    TempDir dir_;
};

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
