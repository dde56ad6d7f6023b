// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "core/backend_record.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "core/log.h"
#include "core/run_state.h"
#include "core/text.h"

namespace {

bool keeping = false;
int record_fd = -1;
std::string record_command;
std::string record_text; // what the record says while the command runs

// The command's cgroup while it runs, and its cgroup.procs (open for
// writing: the child is placed through it).
std::string command_cgroup;
int cgroup_procs_fd = -1;

// The command's systemd scope while it runs.
std::string command_scope;
int scopes_started = 0;

// Runs a program (no shell: its words as they are) with its output read
// (standard error to /dev/null), and waits for it: its exit status, or -1.
int run_program(const std::vector<std::string> &words, std::string *output = nullptr)
{
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return -1;
    std::vector<char *> argv;
    argv.reserve(words.size() + 1);
    for (const std::string &word : words)
        argv.push_back(const_cast<char *>(word.c_str()));
    argv.push_back(nullptr);
    const int null = ::open("/dev/null", O_RDWR | O_NOCTTY | O_CLOEXEC);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(null, STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    if (null >= 0)
        ::close(null);
    std::string text;
    char block[4096];
    ssize_t got;
    while ((got = ::read(out[0], block, sizeof block)) != 0) {
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            break;
        text.append(block, static_cast<std::size_t>(got));
    }
    ::close(out[0]);
    if (output != nullptr)
        *output = text;
    int status = 0;
    while (pid > 0 && ::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return pid > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A systemd program of the host.
std::string systemd_program(const char *name)
{
    for (const char *directory : {"/usr/bin/", "/bin/"}) {
        std::string path = std::string(directory) + name;
        if (::access(path.c_str(), X_OK) == 0)
            return path;
    }
    return std::string();
}

constexpr long kCgroup2Magic = 0x63677270; // CGROUP2_SUPER_MAGIC
constexpr const char *kCgroupName = "kestrane-sdk-backend";
constexpr const char *kStateAttribute = "user.kestrane-sdk.state";

// The whole of a small file of /proc or /sys ("" when it cannot be read).
std::string read_small_file(const std::string &path)
{
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return file ? text.str() : std::string();
}

// Writes `text` into the control file `path`; what did not take, its
// caller sees in the cgroup's own files.
void write_text(const std::string &path, const std::string &text)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return;
    (void)::write(fd, text.data(), text.size());
    ::close(fd);
}

bool set_state(const std::string &cgroup, const std::string &state)
{
    return ::setxattr(cgroup.c_str(), kStateAttribute, state.data(), state.size(), 0) == 0;
}

// This process's own cgroup, under the tree's mount point `root`.
std::string own_cgroup(const std::string &root)
{
    std::istringstream lines(read_small_file("/proc/self/cgroup"));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("0::/", 0) == 0 && line.find("/..") == std::string::npos)
            return line.size() == 4 ? root : root + line.substr(3);
    }
    return std::string();
}

// Replaces the whole content of `fd`, written before the file is cut to
// it: a reader never sees a record without its end.
bool rewrite(int fd, const std::string &text)
{
    return ::pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()) &&
           ::ftruncate(fd, static_cast<off_t>(text.size())) == 0;
}

// One line: the command line's own line feeds are blanks here.
std::string one_line(const char *command)
{
    std::string line = cut_text(command != nullptr ? command : "");
    for (char &c : line) {
        if (c == '\n')
            c = ' ';
    }
    return line;
}

// "N N N N\n", each a level of one or two digits.
bool are_console_levels(const std::string &text)
{
    std::istringstream fields(text);
    std::string field;
    int count = 0;
    while (fields >> field) {
        if (field.empty() || field.size() > 2 || field.find_first_not_of("0123456789") != std::string::npos)
            return false;
        ++count;
    }
    return count == 4 && !text.empty() && text.back() == '\n';
}

} // namespace

std::string backend_cgroup_path()
{
    for (const char *root : {"/sys/fs/cgroup", "/sys/fs/cgroup/unified"}) {
        struct statfs fs{};
        struct statvfs vfs{};
        struct stat st{};
        if (::statfs(root, &fs) == 0 && fs.f_type == kCgroup2Magic && ::statvfs(root, &vfs) == 0 &&
            (vfs.f_flag & ST_RDONLY) == 0 && ::lstat(root, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == 0)
            return std::string(root) + "/" + kCgroupName;
    }
    return std::string();
}

std::string backend_cgroup_state(const std::string &cgroup)
{
    char value[4096 + 64];
    ssize_t got = ::getxattr(cgroup.c_str(), kStateAttribute, value, sizeof value);
    return got > 0 ? std::string(value, static_cast<std::size_t>(got)) : std::string();
}

std::vector<pid_t> cgroup_members(const std::string &cgroup)
{
    std::vector<pid_t> members;
    std::istringstream numbers(read_small_file(cgroup + "/cgroup.procs"));
    long pid = 0;
    while (numbers >> pid) {
        if (pid > 0)
            members.push_back(static_cast<pid_t>(pid));
    }
    return members;
}

bool cgroup_says(const std::string &cgroup, const std::string &event)
{
    std::istringstream lines(read_small_file(cgroup + "/cgroup.events"));
    std::string line;
    while (std::getline(lines, line)) {
        if (line == event)
            return true;
    }
    return false;
}

bool cgroup_populated(const std::string &cgroup)
{
    return cgroup_says(cgroup, "populated 1");
}

bool release_cgroup(const std::string &cgroup)
{
    const std::string root = cgroup.substr(0, cgroup.rfind('/'));
    const std::string own = own_cgroup(root);
    // A process that forks while the others move may leave a child behind:
    // a few rounds.
    for (int round = 0; round < 10; ++round) {
        if (::rmdir(cgroup.c_str()) == 0 || errno == ENOENT)
            return true;
        if (errno != EBUSY || own.empty())
            break;
        for (pid_t pid : cgroup_members(cgroup))
            write_text(own + "/cgroup.procs", std::to_string(pid));
    }
    write_log("cannot remove the cgroup %s: %s\n", cgroup.c_str(), std::strerror(errno));
    return false;
}

bool process_ids(pid_t pid, ProcessIds &ids)
{
    const std::string text = read_small_file("/proc/" + std::to_string(pid) + "/stat");
    // The command name (field 2) may hold blanks and parentheses.
    std::size_t close = text.rfind(')');
    if (close == std::string::npos)
        return false;
    std::istringstream fields(text.substr(close + 1));
    std::vector<std::string> values;
    std::string field;
    while (fields >> field)
        values.push_back(field);
    // state(3) ppid(4) pgrp(5) session(6) ... starttime(22)
    if (values.size() < 20)
        return false;
    ids.ended = values[0] == "Z" || values[0] == "X";
    ids.group = static_cast<pid_t>(std::strtol(values[2].c_str(), nullptr, 10));
    ids.session = static_cast<pid_t>(std::strtol(values[3].c_str(), nullptr, 10));
    ids.start = std::strtoull(values[19].c_str(), nullptr, 10);
    return true;
}

bool own_proc()
{
    char link[32] = {};
    ssize_t got = ::readlink("/proc/self", link, sizeof link - 1);
    return got > 0 && std::string(link, static_cast<std::size_t>(got)) == std::to_string(::getpid());
}

bool systemd_scopes()
{
    static int known = -1;
    if (known < 0) {
        known = 0;
        // As sd_booted() tells it.
        struct stat st{};
        const std::string run = systemd_program("systemd-run");
        if (::lstat("/run/systemd/system", &st) == 0 && S_ISDIR(st.st_mode) && !run.empty() &&
            run_program({run, "--scope", "--quiet", "--collect", "--unit=kestrane-sdk-check-" + std::to_string(::getpid()),
                         "--", "/bin/true"}) == 0)
            known = 1;
        write_log(known == 1 ? "The back-end commands run in systemd scopes\n"
                             : "The back-end commands run without systemd scopes\n");
    }
    return known == 1;
}

std::vector<std::string> backend_scope_words()
{
    if (command_scope.empty())
        return {};
    return {systemd_program("systemd-run"), "--scope", "--quiet", "--collect", "--unit=" + command_scope,
            "--property=TimeoutStopSec=" + std::to_string(5), "--"};
}

void signal_scope(const std::string &unit, int sig)
{
    const std::string systemctl = systemd_program("systemctl");
    if (sig == SIGTERM)
        (void)run_program({systemctl, "stop", unit});
    else if (sig == SIGKILL)
        (void)run_program({systemctl, "kill", "--signal=SIGKILL", unit});
}

bool scope_ended(const std::string &unit)
{
    std::string state;
    const int shown = run_program({systemd_program("systemctl"), "show", "--property=SubState", "--value", unit}, &state);
    // (A unit systemd no longer has is shown as "dead" too.)
    return shown == 0 && state.rfind("dead", 0) == 0;
}

void keep_run_records()
{
    keeping = true;
}

namespace {

// The command's cgroup, made anew; none where the host has no cgroup tree
// to use, or the cgroup cannot be made and marked (logged).
void make_command_cgroup()
{
    const std::string cgroup = backend_cgroup_path();
    if (cgroup.empty())
        return;
    if (::mkdir(cgroup.c_str(), 0755) != 0 && errno == EEXIST) {
        // What an earlier command of this run left there on purpose.
        if (backend_cgroup_state(cgroup).rfind("ended\n", 0) == 0)
            (void)release_cgroup(cgroup);
        (void)::mkdir(cgroup.c_str(), 0755);
    }
    struct stat st{};
    if (::lstat(cgroup.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || cgroup_populated(cgroup)) {
        write_log("cannot make the cgroup %s: %s; the back-end command is followed by its session only\n",
                  cgroup.c_str(), std::strerror(errno));
        return;
    }
    // Whether it still runs is said before anything is in it.
    if (!set_state(cgroup, "running\n" + record_command)) {
        write_log("cannot mark the cgroup %s: %s; the back-end command is followed by its session only\n",
                  cgroup.c_str(), std::strerror(errno));
        ::rmdir(cgroup.c_str());
        return;
    }
    cgroup_procs_fd = ::open((cgroup + "/cgroup.procs").c_str(), O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (cgroup_procs_fd < 0) {
        write_log("cannot open %s/cgroup.procs: %s\n", cgroup.c_str(), std::strerror(errno));
        ::rmdir(cgroup.c_str());
        return;
    }
    command_cgroup = cgroup;
}

} // namespace

namespace {

// The command runs without its record: where no cgroup holds it either,
// the administrator is told once (on standard error too, when no screen
// is up), since a run killed outright would then leave it unseen.
void without_record(const char *what)
{
    static bool said = false;
    const std::string reason = std::strerror(errno);
    write_log("cannot %s %s: %s\n", what, BACKEND_RECORD_PATH, reason.c_str());
    if (said || !command_cgroup.empty() || !command_scope.empty())
        return;
    said = true;
    const std::string message =
        strprintf(_("The back-end commands run without their record %s (%s): should this run be killed outright, "
                    "the next run cannot find what is left of them.\n"),
                  BACKEND_RECORD_PATH, reason.c_str());
    if (!innewt) {
        std::fputs(message.c_str(), stderr);
        std::fflush(stderr);
    }
    write_log("%s", message.c_str());
}

} // namespace

int open_backend_record(const char *command)
{
    close_backend_record();
    if (!keeping)
        return -1;
    record_command = one_line(command);
    if (systemd_scopes())
        command_scope = strprintf("kestrane-sdk-backend-%ld-%d.scope", static_cast<long>(::getpid()), ++scopes_started);
    else
        make_command_cgroup();
    // Made anew for each command: what an earlier command of this run left
    // behind on purpose may still hold the old one.
    if (::unlink(BACKEND_RECORD_PATH) != 0 && errno != ENOENT) {
        without_record("remove");
        return -1;
    }
    int fd = ::open(BACKEND_RECORD_PATH, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
    if (fd < 0) {
        without_record("make");
        return -1;
    }
    record_text = "running\n" + record_command + "\n";
    if (!command_scope.empty())
        record_text += "scope " + command_scope + "\n";
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || !rewrite(fd, record_text)) {
        without_record("write");
        ::close(fd);
        ::unlink(BACKEND_RECORD_PATH);
        return -1;
    }
    record_fd = fd;
    return fd;
}

void place_backend(pid_t child)
{
    if (cgroup_procs_fd >= 0) {
        const std::string pid = std::to_string(child);
        if (::write(cgroup_procs_fd, pid.data(), pid.size()) != static_cast<ssize_t>(pid.size())) {
            write_log("cannot place the back-end command in the cgroup %s: %s; it is followed by its session only\n",
                      command_cgroup.c_str(), std::strerror(errno));
            ::rmdir(command_cgroup.c_str());
            command_cgroup.clear();
        }
        ::close(cgroup_procs_fd);
        cgroup_procs_fd = -1;
    }
    ProcessIds ids;
    if (record_fd >= 0 && process_ids(child, ids) && ids.session == child) {
        record_text += strprintf("session %ld %llu\n", static_cast<long>(child), ids.start);
        (void)rewrite(record_fd, record_text);
    }
}

void close_backend_record()
{
    if (cgroup_procs_fd >= 0) {
        ::close(cgroup_procs_fd);
        cgroup_procs_fd = -1;
    }
    if (!command_scope.empty()) {
        // What is left in it now was left on purpose: the record that named
        // the scope as running goes, and no later run looks at it again.
        command_scope.clear();
    }
    if (!command_cgroup.empty()) {
        // What is left in it now was left on purpose.
        (void)set_state(command_cgroup, "ended\n" + record_command);
        (void)release_cgroup(command_cgroup);
        command_cgroup.clear();
    }
    if (record_fd < 0)
        return;
    (void)rewrite(record_fd, "ended\n" + record_command + "\n");
    ::unlink(BACKEND_RECORD_PATH);
    ::close(record_fd);
    record_fd = -1;
}

void save_console_levels(const std::string &levels)
{
    if (!keeping || !are_console_levels(levels))
        return;
    const std::string fresh = std::string(CONSOLE_LEVELS_PATH) + ".new";
    ::unlink(fresh.c_str());
    int fd = ::open(fresh.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    const bool written = ::write(fd, levels.data(), levels.size()) == static_cast<ssize_t>(levels.size());
    ::close(fd);
    // Whole or not at all: a later run never reads half the levels.
    if (!written || ::rename(fresh.c_str(), CONSOLE_LEVELS_PATH) != 0) {
        write_log("cannot keep the console levels in %s\n", CONSOLE_LEVELS_PATH);
        ::unlink(fresh.c_str());
    }
}

void forget_saved_console_levels()
{
    if (keeping)
        ::unlink(CONSOLE_LEVELS_PATH);
}

std::optional<std::string> take_saved_console_levels()
{
    if (!keeping)
        return std::nullopt;
    int fd = ::open(CONSOLE_LEVELS_PATH, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st{};
    char text[64] = {};
    ssize_t got = -1;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == 0)
        got = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    ::unlink(CONSOLE_LEVELS_PATH);
    if (got <= 0)
        return std::nullopt;
    std::string levels(text, static_cast<std::size_t>(got));
    if (!are_console_levels(levels))
        return std::nullopt;
    return levels;
}
