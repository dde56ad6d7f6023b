#include "host/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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
        std::string message = strprintf(_("Another installer is running (process %ld). Only one installer can "
                                           "change this host at a time: wait until it has finished, then start "
                                           "this one again.\n"),
                                         pid);
        std::fputs(message.c_str(), stderr);
        write_log("%s", message.c_str());
        insExit(1);
    }
    std::string pid = strprintf("%ld\n", static_cast<long>(::getpid()));
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size()))
        write_log("cannot write the process id into %s\n", INSTALLER_LOCK_PATH);
    lock_fd = fd;
}
