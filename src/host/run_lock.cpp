// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "host/run_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
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

// Whether the process `pid` has the file `dev`/`ino` open.
bool holds(pid_t pid, dev_t dev, ino_t ino)
{
    std::error_code error;
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    for (const auto &entry : std::filesystem::directory_iterator(fds, error)) {
        struct stat st{};
        if (::stat(entry.path().c_str(), &st) == 0 && st.st_dev == dev && st.st_ino == ino)
            return true;
    }
    return false;
}

// The processes (other than this one) that have the file open.
std::vector<pid_t> holders(dev_t dev, ino_t ino)
{
    std::vector<pid_t> found;
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename();
        char *end = nullptr;
        long pid = std::strtol(name.c_str(), &end, 10);
        if (pid <= 0 || *end != '\0' || pid == ::getpid())
            continue;
        if (holds(static_cast<pid_t>(pid), dev, ino))
            found.push_back(static_cast<pid_t>(pid));
    }
    return found;
}

// Sends `sig` to each process that has the file open. A process is held
// by its pidfd before it is checked, so that the signal reaches the
// process that was seen holding the file, or nobody; only a kernel without
// pidfds (older than 5.3) has its processes signalled by number, right
// after the check.
std::vector<pid_t> signal_holders(dev_t dev, ino_t ino, int sig)
{
    std::vector<pid_t> signalled;
    for (pid_t pid : holders(dev, ino)) {
        OpenFile process(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
        const bool without_pidfd = process.fd < 0 && errno == ENOSYS;
        if ((process.fd < 0 && !without_pidfd) || !holds(pid, dev, ino))
            continue;
        const bool sent = without_pidfd ? ::kill(pid, sig) == 0
                                        : ::syscall(SYS_pidfd_send_signal, process.fd, sig, nullptr, 0) == 0;
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

// "process 12" or "processes 12, 34": for the log.
std::string processes(const std::vector<pid_t> &pids)
{
    std::string text = pids.size() == 1 ? "process " : "processes ";
    for (std::size_t i = 0; i < pids.size(); ++i)
        text += (i == 0 ? "" : ", ") + std::to_string(pids[i]);
    return text;
}

} // namespace

void take_installer_lock()
{
    if (lock_fd >= 0)
        return;
    int fd = ::open(INSTALLER_LOCK_PATH, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    if (fd < 0) {
        write_log("cannot open the lock file %s: %s; going on without it\n", INSTALLER_LOCK_PATH,
                  std::strerror(errno));
        return;
    }
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        write_log("the lock file %s is not a regular file; going on without it\n", INSTALLER_LOCK_PATH);
        ::close(fd);
        return;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) {
            write_log("cannot lock %s: %s; going on without it\n", INSTALLER_LOCK_PATH, std::strerror(errno));
            ::close(fd);
            return;
        }
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
    std::string pid = strprintf("%ld\n", static_cast<long>(::getpid()));
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size()))
        write_log("cannot write the process id into %s\n", INSTALLER_LOCK_PATH);
    keep_run_records();
    lock_fd = fd;
}

// A run that was killed outright (SIGKILL: no handler ran) leaves its
// back-end command running, and the command's record: locked for as long
// as any process of the command holds it, and saying "running". What is
// left of that command is stopped as the handler of a fatal signal would
// have stopped it: SIGTERM, a grace time, then SIGKILL, sent to exactly
// the processes that hold the record open. Stopping it, rather than
// refusing to run, is what the administrator asked for when they killed
// the earlier run, and the only way a later run can ever finish the work.
//
// The record goes only once nothing holds it: a run stopped while it
// waits here leaves it for the next. Where nobody can tell which processes
// hold it (no /proc), the run waits as long as a stop would take, then
// refuses: it never runs beside the earlier command.
void stop_earlier_backend()
{
    OpenFile record(::open(BACKEND_RECORD_PATH, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (record.fd < 0) {
        if (errno != ENOENT) {
            write_log("cannot open %s: %s; removed\n", BACKEND_RECORD_PATH, std::strerror(errno));
            ::unlink(BACKEND_RECORD_PATH);
        }
        return;
    }
    struct stat st{};
    if (::fstat(record.fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != 0) {
        write_log("%s is not a record of this installer; removed\n", BACKEND_RECORD_PATH);
        forget_record(st);
        return;
    }
    if (::flock(record.fd, LOCK_EX | LOCK_NB) == 0) {
        // Nothing of that command lives.
        forget_record(st);
        return;
    }
    char text[4096 + 64] = {};
    ssize_t got = ::pread(record.fd, text, sizeof text - 1, 0);
    const std::string content(text, got > 0 ? static_cast<std::size_t>(got) : 0);
    if (content.rfind("running\n", 0) != 0) {
        // The command ended: what still holds its record is what it left
        // behind on purpose, and none of this run's business.
        forget_record(st);
        return;
    }
    const std::string command = content.substr(8, content.find('\n', 8) - 8);

    if (::access("/proc/self/fd", R_OK) != 0) {
        notice(strprintf(_("Waiting for the back-end command of an earlier run to end: %s\n"), command.c_str()));
        if (let_go_by(record.fd, seconds_now() + kStopGraceSeconds + 2)) {
            write_log("The back-end command of an earlier run has ended: %s\n", command.c_str());
            forget_record(st);
            return;
        }
    } else {
        notice(strprintf(_("Stopping the back-end command of an earlier run that is still running: %s\n"),
                         command.c_str()));
        const std::vector<pid_t> stopped = signal_holders(st.st_dev, st.st_ino, SIGTERM);
        signal_holders(st.st_dev, st.st_ino, SIGCONT); // a stopped process could not act on it
        if (let_go_by(record.fd, seconds_now() + kStopGraceSeconds)) {
            write_log("Stopped the back-end command of an earlier run that was still running (%s): %s\n",
                      processes(stopped).c_str(), command.c_str());
            forget_record(st);
            return;
        }
        const std::vector<pid_t> killed = signal_holders(st.st_dev, st.st_ino, SIGKILL);
        if (let_go_by(record.fd, seconds_now() + 2)) {
            write_log("Killed the back-end command of an earlier run that was still running (%s) after it did "
                      "not stop within %d seconds: %s\n",
                      processes(killed).c_str(), kStopGraceSeconds, command.c_str());
            forget_record(st);
            return;
        }
    }
    const std::string refusal =
        strprintf(_("The back-end command of an earlier run is still running: %s\nThis installer does not run beside "
                    "it: wait until it has ended, then start this one again.\n"),
                  command.c_str());
    std::fputs(refusal.c_str(), stderr);
    write_log("%s", refusal.c_str());
    insExit(1);
}
