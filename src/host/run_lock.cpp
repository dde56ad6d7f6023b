#include "host/run_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "core/backend_record.h"
#include "core/clock.h"
#include "core/fatal_signals.h"
#include "core/log.h"
#include "core/text.h"
#include "screen/dialog.h"

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

bool group_gone_by(pid_t group, double deadline)
{
    while (process_group_alive(group)) {
        if (seconds_now() >= deadline)
            return false;
        ::usleep(20000);
    }
    return true;
}

// The back-end record an earlier run left in the lock file.
std::optional<BackendRecord> earlier_backend;

void read_earlier_backend(int fd)
{
    char text[8192] = {};
    ssize_t got = ::pread(fd, text, sizeof text - 1, 0);
    if (got > 0)
        earlier_backend = parse_backend_record(std::string(text, static_cast<std::size_t>(got)));
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
    read_earlier_backend(fd);
    std::string pid = strprintf("%ld\n", static_cast<long>(::getpid()));
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size()))
        write_log("cannot write the process id into %s\n", INSTALLER_LOCK_PATH);
    keep_backend_record_in(fd, pid);
    lock_fd = fd;
}

// A run that was killed outright (SIGKILL: no handler ran) leaves its
// back-end command running, and its record in the lock file. What is left
// of that command is stopped as the handler of a fatal signal would have
// stopped it: SIGTERM to its process group, a grace time, then SIGKILL.
// Stopping it, rather than refusing to run, is what the administrator
// asked for when they killed the earlier run, and the only way a later run
// can ever finish the work.
void stop_earlier_backend()
{
    std::optional<BackendRecord> record = std::exchange(earlier_backend, std::nullopt);
    if (!record || !process_group_alive(record->group))
        return;
    // A leader of another start time is a later process that was given the
    // same id: the recorded group ended long ago. (While any process of a
    // group lives, no new process is given the group's id.)
    unsigned long long start = process_start_time(record->group);
    if (start != 0 && start != record->start_time)
        return;
    ::kill(-record->group, SIGTERM);
    ::kill(-record->group, SIGCONT);
    if (group_gone_by(record->group, seconds_now() + kStopGraceSeconds)) {
        write_log("Stopped the back-end command of an earlier run that was still running (process group %ld): %s\n",
                  static_cast<long>(record->group), record->command.c_str());
        return;
    }
    ::kill(-record->group, SIGKILL);
    group_gone_by(record->group, seconds_now() + 2);
    write_log("Killed the back-end command of an earlier run that was still running (process group %ld) after it "
              "did not stop within %d seconds: %s\n",
              static_cast<long>(record->group), kStopGraceSeconds, record->command.c_str());
}
