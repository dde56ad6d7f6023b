// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "support/fleet.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <thread>

namespace {

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

} // namespace

TestHost::TestHost(std::string name, const std::string &authorized_keys, const std::string &share_kib)
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

TestHost::~TestHost()
{
    stop();
}

bool TestHost::wait_ready() const
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        if (accepts(port_))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

void TestHost::stop()
{
    if (pid_ <= 0)
        return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

std::string TestHost::inventory_line(const std::string &key) const
{
    return name_ + " ansible_host=127.0.0.1 ansible_port=" + std::to_string(port_) + " ansible_user=" + user +
           " ansible_ssh_private_key_file=" + key + " ansible_python_interpreter=/usr/bin/python3" +
           (vars.empty() ? "" : " " + vars) + "\n";
}

ProcessResult TestHost::run(const std::string &key, const std::string &command) const
{
    return run_process({"timeout", "60", "ssh", "-i", key, "-p", std::to_string(port_), "-o", "BatchMode=yes", "-o",
                        "StrictHostKeyChecking=no", "-o", "UserKnownHostsFile=/dev/null", "-o", "LogLevel=ERROR",
                        "root@127.0.0.1", command});
}

int TestHost::runs() const
{
    std::string log = host.log();
    int n = 0;
    for (std::size_t at = log.find("Installer started."); at != std::string::npos;
         at = log.find("Installer started.", at + 1))
        ++n;
    return n;
}

Fleet::Fleet()
{
    run_process({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", key()});
    std::filesystem::copy_file(key() + ".pub", keys());
    std::filesystem::create_directories(logs());
    std::filesystem::create_directories(tmp());
    std::filesystem::permissions(tmp(), std::filesystem::perms::owner_all);
}

namespace {

void read_recap(PlaybookRun &run)
{
    static const std::regex line(R"((\S+)\s+: ok=(\d+)\s+changed=(\d+)\s+unreachable=(\d+)\s+failed=(\d+))");
    for (std::sregex_iterator it(run.result.out.begin(), run.result.out.end(), line), end; it != end; ++it) {
        Recap recap;
        recap.ok = std::stoi((*it)[2]);
        recap.changed = std::stoi((*it)[3]);
        recap.unreachable = std::stoi((*it)[4]);
        recap.failed = std::stoi((*it)[5]);
        run.recap[(*it)[1]] = recap;
    }
}

} // namespace

PlaybookRun Fleet::play_as_documented(const std::vector<TestHost *> &hosts, std::string &where) const
{
    where = dir_ / "documented";
    std::filesystem::remove_all(where);
    std::filesystem::copy(std::string(SOURCE_DIR) + "/deploy/ansible", where, std::filesystem::copy_options::recursive);
    std::filesystem::remove_all(where + "/logs");
    // The hosts' keys are the test's: never remembered on this machine.
    std::string inventory = "[sdk_hosts]\n";
    for (const TestHost *host : hosts) {
        std::string line = host->inventory_line(key());
        inventory += line.insert(line.size() - 1, " ansible_ssh_extra_args='-o UserKnownHostsFile=/dev/null'");
    }
    write_file(where + "/inventory.ini", inventory);
    PlaybookRun run;
    run.result = run_process({"timeout", "600", "ansible-playbook", "-i", "inventory.ini", "install.yml", "-e",
                              "tessaro_sdk_package=" + std::string(PACKAGE_TARBALL)},
                             where,
                             {"ANSIBLE_HOST_KEY_CHECKING=False", "ANSIBLE_NOCOLOR=1", "ANSIBLE_HOME=" + dir_ / "ansible",
                              "ANSIBLE_LOCAL_TEMP=" + dir_ / "ansible-tmp", "TMPDIR=" + tmp()});
    read_recap(run);
    return run;
}

PlaybookRun Fleet::play(const std::vector<TestHost *> &hosts, const std::vector<std::string> &extra,
                        const std::string &cwd, const std::vector<std::string> &env) const
{
    std::string inventory = "[all:vars]\ntessaro_sdk_package=" + std::string(PACKAGE_TARBALL) + "\n[hosts]\n";
    for (const TestHost *host : hosts)
        inventory += host->inventory_line(key());
    write_file(dir_ / "inventory.ini", inventory);
    std::vector<std::string> argv = {"timeout", "600", "ansible-playbook", "-i", dir_ / "inventory.ini",
                                     std::string(SOURCE_DIR) + "/deploy/ansible/install.yml",
                                     "-e", "tessaro_sdk_log_dir=" + logs()};
    argv.insert(argv.end(), extra.begin(), extra.end());
    PlaybookRun run;
    // The shipped settings (forks, pipelining, one ssh connection per
    // host); the hosts' keys are the test's own.
    std::vector<std::string> settings = {"ANSIBLE_CONFIG=" + std::string(SOURCE_DIR) + "/deploy/ansible/ansible.cfg",
                              "ANSIBLE_HOST_KEY_CHECKING=False", "ANSIBLE_NOCOLOR=1", "ANSIBLE_FORCE_COLOR=0",
                              "ANSIBLE_HOME=" + dir_ / "ansible", "ANSIBLE_LOCAL_TEMP=" + dir_ / "ansible-tmp",
                              "ANSIBLE_RETRY_FILES_ENABLED=False",
                              "ANSIBLE_SSH_ARGS=-o ControlMaster=auto -o ControlPersist=60s "
                              "-o UserKnownHostsFile=/dev/null -o StrictHostKeyChecking=no "
                              "-o ConnectTimeout=20 -o BatchMode=yes", "TMPDIR=" + tmp()};
    settings.insert(settings.end(), env.begin(), env.end());
    run.result = run_process(argv, cwd, settings);
    read_recap(run);
    return run;
}
