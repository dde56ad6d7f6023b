// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "host/run_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/backend_record.h"
#include "core/clock.h"
#include "core/fatal_signals.h"
#include "core/log.h"
#include "core/text.h"
#include "dialogs/dialog.h"

namespace {

int lock_fd = -1; // open, and locked, until the process ends
std::string lock_head; // what this run writes into it: its process id

// The previous release kept its back-end command's record in the lock file
// itself: "backend GROUP START COMMAND", the command's process group and
// its leader's start time. A run of that release killed outright leaves
// it, and its command running; the line stays in the file until this run
// has dealt with it.
std::string previous_release_record;

// That line, from the lock file's content; empty when there is none whole.
std::string previous_release_line(const std::string &content)
{
    std::size_t start = content.find("\nbackend ");
    if (start == std::string::npos)
        return std::string();
    std::size_t end = content.find('\n', start + 1);
    return end == std::string::npos ? std::string() : content.substr(start + 1, end - start);
}

// The process id the holder wrote into the file; it writes it right after
// taking the lock, so a moment's wait may be needed.
long holder_pid(int fd)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        char text[32] = {};
        ssize_t got = ::pread(fd, text, sizeof text - 1, 0);
        if (got > 0) {
            long pid = std::strtol(text, nullptr, 10);
            if (pid > 0)
                return pid;
        }
        ::usleep(10000);
    }
    return 0;
}

// A descriptor closed when it goes out of scope.
struct OpenFile {
    int fd;
    explicit OpenFile(int descriptor) : fd(descriptor) {}
    ~OpenFile()
    {
        if (fd >= 0)
            ::close(fd);
    }
    OpenFile(const OpenFile &) = delete;
    OpenFile &operator=(const OpenFile &) = delete;
};

// The file a descriptor is open on, as /proc tells it without asking the
// file's own file system (which may not answer: a FUSE server that hangs):
// the mount's id (in that process's own table of mounts) and the inode
// number. Zeros when it cannot be read.
struct OpenFileId {
    long mount = 0;
    unsigned long long inode = 0;
};

OpenFileId open_file_id(const std::string &fdinfo)
{
    std::ifstream file(fdinfo);
    std::string line;
    OpenFileId id;
    while (std::getline(file, line)) {
        if (line.rfind("mnt_id:", 0) == 0)
            id.mount = std::strtol(line.c_str() + 7, nullptr, 10);
        else if (line.rfind("ino:", 0) == 0)
            id.inode = std::strtoull(line.c_str() + 4, nullptr, 10);
    }
    return id;
}

// The device ("major:minor") of mount `mount` in the mounts of process
// `pid` (each process sees the mounts of its own namespace, each with ids
// of its own); empty when it has none such.
std::string mount_device(pid_t pid, long mount)
{
    std::ifstream mounts("/proc/" + std::to_string(pid) + "/mountinfo");
    std::string line;
    while (std::getline(mounts, line)) {
        std::istringstream fields(line);
        long id = 0;
        long parent = 0;
        std::string device;
        if (fields >> id >> parent >> device && id == mount)
            return device;
    }
    return std::string();
}

// Whether the process `pid` has the file `inode` of the device `device`
// ("major:minor") open.
bool holds(pid_t pid, const std::string &device, unsigned long long inode)
{
    std::error_code error;
    const std::string proc = "/proc/" + std::to_string(pid);
    for (const auto &entry : std::filesystem::directory_iterator(proc + "/fdinfo", error)) {
        const OpenFileId id = open_file_id(entry.path());
        if (id.inode == inode && mount_device(pid, id.mount) == device)
            return true;
    }
    return false;
}

// The processes of /proc (other than this one) for which `wanted` holds.
template <typename Wanted> std::vector<pid_t> processes_where(Wanted wanted)
{
    std::vector<pid_t> found;
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename();
        char *end = nullptr;
        long pid = std::strtol(name.c_str(), &end, 10);
        if (pid <= 0 || *end != '\0' || pid == ::getpid())
            continue;
        if (wanted(static_cast<pid_t>(pid)))
            found.push_back(static_cast<pid_t>(pid));
    }
    return found;
}

bool in_session(pid_t pid, pid_t session)
{
    ProcessIds ids;
    return process_ids(pid, ids) && ids.session == session && !ids.ended;
}

// Whether a pidfd call failed because pidfds cannot be had here: a kernel
// older than 5.3 (ENOSYS), or a container whose seccomp profile predates
// them and refuses them (EPERM; root is never refused a pidfd otherwise).
bool without_pidfds(long result)
{
    return result < 0 && (errno == ENOSYS || errno == EPERM);
}

// Sends `sig` to each of `pids` that `still` holds for once the process is
// held by its pidfd: the signal reaches the process that was seen, or
// nobody. Only where pidfds cannot be had is a process signalled by
// number, right after the check.
template <typename Still> std::vector<pid_t> signal_each(const std::vector<pid_t> &pids, int sig, Still still)
{
    std::vector<pid_t> signalled;
    for (pid_t pid : pids) {
        OpenFile process(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
        const bool by_number = without_pidfds(process.fd);
        if ((process.fd < 0 && !by_number) || !still(pid))
            continue;
        bool sent = false;
        if (!by_number) {
            const long result = ::syscall(SYS_pidfd_send_signal, process.fd, sig, nullptr, 0);
            sent = result == 0;
            if (without_pidfds(result) && still(pid))
                sent = ::kill(pid, sig) == 0;
        } else {
            sent = ::kill(pid, sig) == 0;
        }
        if (sent)
            signalled.push_back(pid);
    }
    return signalled;
}

// Whether every process that held the locked file `fd` has let go of it
// by the deadline (then this run holds its lock).
bool let_go_by(int fd, double deadline)
{
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (seconds_now() >= deadline)
            return false;
        ::usleep(20000);
    }
    return true;
}

// The record at its path goes, if it is still the file `st` describes.
void forget_record(const struct stat &st)
{
    struct stat now{};
    if (::lstat(BACKEND_RECORD_PATH, &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino)
        ::unlink(BACKEND_RECORD_PATH);
}

// A notice for the administrator, on standard error and in the log.
void notice(const std::string &message)
{
    std::fputs(message.c_str(), stderr);
    std::fflush(stderr);
    write_log("%s", message.c_str());
}

// "(cgroup C, processes 12, 34)": how the command was held, and the
// processes signalled, for the log; "" when neither is known.
std::string held_as(const std::string &what, const std::vector<pid_t> &pids)
{
    std::string text = what;
    if (!pids.empty())
        text += std::string(text.empty() ? "" : ", ") + (pids.size() == 1 ? "process " : "processes ");
    for (std::size_t i = 0; i < pids.size(); ++i)
        text += (i == 0 ? "" : ", ") + std::to_string(pids[i]);
    return text.empty() ? text : " (" + text + ")";
}

[[noreturn]] void refuse_unusable_lock(const char *reason)
{
    const std::string message =
        strprintf(_("The installer cannot take its lock %s: %s. Only one installer can change this host at a "
                    "time, and without its lock it cannot tell: make /run usable, then start it again.\n"),
                  INSTALLER_LOCK_PATH, reason);
    std::fputs(message.c_str(), stderr);
    write_log("%s", message.c_str());
    insExit(1);
}

} // namespace

void take_installer_lock()
{
    if (lock_fd >= 0)
        return;
    int fd = ::open(INSTALLER_LOCK_PATH, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    if (fd < 0 && errno == ENOENT) {
        // A host without /run: no run of this installer can have left
        // anything there, nor hold a lock in it.
        notice(strprintf(_("The installer cannot take its lock %s: %s. It goes on without it.\n"),
                         INSTALLER_LOCK_PATH, std::strerror(errno)));
        return;
    }
    // Anything else in the lock's place (a directory, a read-only or full
    // /run) leaves the run blind to another installer and to what an
    // earlier one left running: it does not go on.
    if (fd < 0)
        refuse_unusable_lock(std::strerror(errno));
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        refuse_unusable_lock(_("it is not a regular file"));
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK)
            refuse_unusable_lock(std::strerror(errno));
        long pid = holder_pid(fd);
        ::close(fd);
        // A holder that never wrote its id (no installer of ours, or one
        // stopped before it could) is not named.
        std::string message =
            pid > 0 ? strprintf(_("Another installer is running (process %ld). Only one installer can change this "
                                  "host at a time: wait until it has finished, then start this one again.\n"),
                                pid)
                    : std::string(_("Another installer is running. Only one installer can change this host at a "
                                    "time: wait until it has finished, then start this one again.\n"));
        std::fputs(message.c_str(), stderr);
        write_log("%s", message.c_str());
        insExit(1);
    }
    char earlier[4096 + 128] = {};
    ssize_t got = ::pread(fd, earlier, sizeof earlier - 1, 0);
    previous_release_record = previous_release_line(std::string(earlier, got > 0 ? static_cast<std::size_t>(got) : 0));
    lock_head = strprintf("%ld\n", static_cast<long>(::getpid()));
    const std::string pid = lock_head + previous_release_record;
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size()))
        write_log("cannot write the process id into %s\n", INSTALLER_LOCK_PATH);
    keep_run_records();
    lock_fd = fd;
}

namespace {

// Stops the command: `signal(sig)` sends a signal to what is left of it
// (the processes signalled), `gone()` tells whether nothing is left. SIGTERM
// (and SIGCONT: a stopped process could not act on it), a grace time, then
// SIGKILL. Logged; false when something is left even then.
template <typename Signal, typename Gone>
bool stop_command(const std::string &command, const std::string &what, Signal signal, Gone gone)
{
    notice(strprintf(_("Stopping the back-end command of an earlier run that is still running: %s\n"),
                     command.c_str()));
    const std::vector<pid_t> stopped = signal(SIGTERM);
    signal(SIGCONT);
    auto gone_by = [&](double deadline) {
        while (!gone()) {
            if (seconds_now() >= deadline)
                return false;
            ::usleep(20000);
        }
        return true;
    };
    if (gone_by(seconds_now() + kStopGraceSeconds)) {
        write_log("Stopped the back-end command of an earlier run that was still running%s: %s\n",
                  held_as(what, stopped).c_str(), command.c_str());
        return true;
    }
    const std::vector<pid_t> killed = signal(SIGKILL);
    if (gone_by(seconds_now() + 2)) {
        write_log("Killed the back-end command of an earlier run that was still running%s after it did "
                  "not stop within %d seconds: %s\n",
                  held_as(what, killed).c_str(), kStopGraceSeconds, command.c_str());
        return true;
    }
    return false;
}

// Refuses to run beside the earlier command, naming what is left of it
// where that is known.
[[noreturn]] void refuse_beside(const std::string &command, const std::vector<pid_t> &left = {})
{
    std::string refusal =
        strprintf(_("The back-end command of an earlier run is still running: %s\nThis installer does not run beside "
                    "it: wait until it has ended, then start this one again.\n"),
                  command.c_str());
    if (!left.empty()) {
        std::string numbers;
        for (pid_t pid : left)
            numbers += (numbers.empty() ? "" : ", ") + std::to_string(pid);
        refusal += strprintf(_("Its processes still running: %s\n"), numbers.c_str());
    }
    std::fputs(refusal.c_str(), stderr);
    write_log("%s", refusal.c_str());
    insExit(1);
}

// Waits (at most a second) until the cgroup's freezer has `frozen` it or
// let it go.
void freeze(const std::string &cgroup, bool frozen)
{
    std::ofstream(cgroup + "/cgroup.freeze") << (frozen ? "1" : "0");
    for (int wait = 0; wait < 50 && !cgroup_says(cgroup, frozen ? "frozen 1" : "frozen 0"); ++wait)
        ::usleep(20000);
}

// Signals every process in the cgroup. Frozen meanwhile, none of them can
// end and give its number to a process outside: the numbers read are the
// processes signalled.
std::vector<pid_t> signal_cgroup(const std::string &cgroup, int sig)
{
    if (sig == SIGKILL) {
        std::ofstream(cgroup + "/cgroup.kill") << "1";
    }
    freeze(cgroup, true);
    std::vector<pid_t> signalled;
    for (pid_t pid : cgroup_members(cgroup)) {
        if (::kill(pid, sig) == 0)
            signalled.push_back(pid);
    }
    freeze(cgroup, false);
    return signalled;
}

// What is left of an earlier run's command in its cgroup: stopped if the
// command still ran, let go to this run's cgroup if it had ended.
void stop_earlier_cgroup()
{
    const std::string cgroup = backend_cgroup_path();
    struct stat st{};
    if (cgroup.empty() || ::lstat(cgroup.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return;
    const std::string state = backend_cgroup_state(cgroup);
    if (state.rfind("ended\n", 0) != 0 && cgroup_populated(cgroup)) {
        const std::string command = state.rfind("running\n", 0) == 0 ? state.substr(8) : std::string("?");
        if (!stop_command(command, "cgroup " + cgroup,
                          [&](int sig) { return signal_cgroup(cgroup, sig); },
                          [&] { return !cgroup_populated(cgroup); }))
            refuse_beside(command, cgroup_members(cgroup));
    }
    (void)release_cgroup(cgroup);
}

// The fields of the record: its first line, the command, and the session
// ("session PID START") where it names one.
struct RecordText {
    std::string state;
    std::string command;
    pid_t session = 0;
    unsigned long long start = 0;
    std::string scope; // the command's systemd scope
};

RecordText parse_record(const std::string &content)
{
    RecordText record;
    std::istringstream lines(content);
    std::getline(lines, record.state);
    std::getline(lines, record.command);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string word;
        long pid = 0;
        unsigned long long start = 0;
        if (line.rfind("scope kestrane-sdk-backend-", 0) == 0 && line.size() > 6 &&
            line.find_first_of("/ \t", 6) == std::string::npos)
            record.scope = line.substr(6);
        if (fields >> word >> pid >> start && word == "session" && pid > 1) {
            record.session = static_cast<pid_t>(pid);
            record.start = start;
        }
    }
    return record;
}

} // namespace

// A run that was killed outright (SIGKILL: no handler ran) leaves its
// back-end command running. What is left of that command is stopped as
// the handler of a fatal signal would have stopped it: SIGTERM, a grace
// time, then SIGKILL, sent to exactly the processes of the command. Stopping
// it, rather than refusing to run, is what the administrator asked for when
// they killed the earlier run, and the only way a later run can ever
// finish the work.
//
// The command's cgroup holds all of it; where there is none, the record
// names the command's session, and its processes are those in the session
// while its leader (the same process: the same start time) lives, or a
// process that still holds the record is in it. Nobody outside the session
// is signalled: not a reader of the record, not what left the session on
// purpose (a daemon). No step asks the file system of a file that another
// process holds.
//
// The record goes only once nothing of the command is left: a run stopped
// while it waits here leaves it for the next. Where nobody can tell the
// processes apart (no /proc, or one of another pid namespace), the run
// waits as long as a stop would take, then refuses: it never runs beside
// the earlier command.
namespace {

// The previous release's command, stopped where its leader is still the
// process it recorded (then its group is the command's: no new process is
// given the group's number while any of it lives), and left alone where
// it is not. Without /proc to tell, the run refuses while the group is
// there. Then the line goes from the lock file.
void stop_previous_release_backend()
{
    if (previous_release_record.empty())
        return;
    std::istringstream fields(previous_release_record.substr(8));
    long number = 0;
    unsigned long long start = 0;
    std::string command;
    if (fields >> number >> start && number > 1 && number <= 4194304) {
        std::getline(fields >> std::ws, command);
        const pid_t group = static_cast<pid_t>(number);
        ProcessIds leader;
        if (!own_proc()) {
            if (::kill(-group, 0) == 0)
                refuse_beside(command);
        } else if (process_ids(group, leader) && leader.start == start && leader.group == group) {
            auto member = [&](pid_t pid) {
                ProcessIds ids;
                return process_ids(pid, ids) && ids.group == group && !ids.ended;
            };
            if (!stop_command(command, "process group " + std::to_string(group),
                              [&](int sig) { return signal_each(processes_where(member), sig, member); },
                              [&] { return processes_where(member).empty(); }))
                refuse_beside(command, processes_where(member));
        }
    }
    previous_release_record.clear();
    if (lock_fd >= 0 && ::ftruncate(lock_fd, 0) == 0)
        (void)::pwrite(lock_fd, lock_head.data(), lock_head.size(), 0);
}

} // namespace

void stop_earlier_backend()
{
    stop_previous_release_backend();
    stop_earlier_cgroup();
    OpenFile record(::open(BACKEND_RECORD_PATH, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (record.fd < 0 && errno != ENOENT && ::unlink(BACKEND_RECORD_PATH) != 0 && errno != ENOENT) {
        // A record that can be neither read nor removed (a directory in its
        // place, a read-only /run): an earlier command may still run. Only
        // a cgroup tree tells (its cgroup was looked at above).
        const std::string reason = std::strerror(errno);
        if (backend_cgroup_path().empty() || systemd_scopes()) {
            const std::string refusal = strprintf(
                _("The installer cannot read or replace the record of an earlier run's back-end command %s: %s.\nThe "
                  "back-end command of an earlier run may still be running, and this installer does not run beside it: "
                  "make /run usable, then start it again.\n"),
                BACKEND_RECORD_PATH, reason.c_str());
            std::fputs(refusal.c_str(), stderr);
            write_log("%s", refusal.c_str());
            insExit(1);
        }
        write_log("cannot open or remove %s: %s; the cgroup tree tells what is left of an earlier run\n",
                  BACKEND_RECORD_PATH, reason.c_str());
        return;
    }
    if (record.fd < 0)
        return;
    struct stat st{};
    if (::fstat(record.fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != 0) {
        write_log("%s is not a record of this installer; removed\n", BACKEND_RECORD_PATH);
        forget_record(st);
        return;
    }
    const bool held = ::flock(record.fd, LOCK_EX | LOCK_NB) != 0;
    char text[4096 + 128] = {};
    ssize_t got = ::pread(record.fd, text, sizeof text - 1, 0);
    const RecordText earlier = parse_record(std::string(text, got > 0 ? static_cast<std::size_t>(got) : 0));
    // A command that ended, or one of which nothing holds the record and
    // that names no session: nothing of it runs. (What still holds the
    // record of an ended command is what it left behind on purpose.)
    if (earlier.state != "running" || (!held && earlier.session == 0)) {
        forget_record(st);
        return;
    }
    const std::string &command = earlier.command;

    // A command that ran in a systemd scope: systemd stops what is in it.
    if (!earlier.scope.empty() && systemd_scopes()) {
        if (!stop_command(command, "systemd scope " + earlier.scope,
                          [&](int sig) {
                              signal_scope(earlier.scope, sig);
                              return std::vector<pid_t>();
                          },
                          [&] { return scope_ended(earlier.scope); }))
            refuse_beside(command);
        forget_record(st);
        return;
    }

    if (!own_proc()) {
        // Blind to sessions: the record's lock is all there is to go by.
        if (!held) {
            forget_record(st);
            return;
        }
        notice(strprintf(_("Waiting for the back-end command of an earlier run to end: %s\n"), command.c_str()));
        if (let_go_by(record.fd, seconds_now() + kStopGraceSeconds + 2)) {
            write_log("The back-end command of an earlier run has ended: %s\n", command.c_str());
            forget_record(st);
            return;
        }
        refuse_beside(command);
    }

    const std::string device = strprintf("%u:%u", major(st.st_dev), minor(st.st_dev));
    const unsigned long long inode = st.st_ino;
    if (earlier.session == 0) {
        // A record that names no session: its holders are the command.
        auto holder = [&](pid_t pid) { return holds(pid, device, inode); };
        if (stop_command(command, "", [&](int sig) { return signal_each(processes_where(holder), sig, holder); },
                         [&] { return ::flock(record.fd, LOCK_EX | LOCK_NB) == 0; })) {
            forget_record(st);
            return;
        }
        refuse_beside(command, processes_where(holder));
    }
    // The session is the command's while its leader lives, or while a
    // process in it holds the record: until the last process of a session
    // has ended, no new process is given its number.
    const pid_t session = earlier.session;
    ProcessIds leader;
    const bool proved = (process_ids(session, leader) && leader.start == earlier.start && leader.session == session) ||
                        !processes_where([&](pid_t pid) { return in_session(pid, session) && holds(pid, device, inode); }).empty();
    // (Nothing is left of it where its cgroup was stopped just now, or
    // only its leader's zombie is.)
    // The members found are the first signal's: /proc is read once more
    // for each later one.
    auto member = [&](pid_t pid) { return in_session(pid, session); };
    std::vector<pid_t> found = proved ? processes_where(member) : std::vector<pid_t>();
    auto signal_members = [&](int sig) {
        std::vector<pid_t> now = found.empty() ? processes_where(member) : std::move(found);
        found.clear();
        return signal_each(now, sig, member);
    };
    if (!found.empty() && !stop_command(command, "", signal_members, [&] { return processes_where(member).empty(); }))
        refuse_beside(command, processes_where(member));
    forget_record(st);
}
