#include "exec/shell_child.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "core/fatal_signals.h"

ShellChild::ShellChild(const char *cmd)
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return;
    // The handler must never see a child it cannot name, nor name one that
    // is gone: it is told with the fatal signals blocked.
    FatalSignalsBlocked blocked;
    pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls until exec.
        ::setpgid(0, 0);
        // A command in a background process group that touches the terminal
        // gets an error instead of being stopped for good.
        struct sigaction ignore{};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        ::sigaction(SIGTTIN, &ignore, nullptr);
        ::sigaction(SIGTTOU, &ignore, nullptr);
        if (ends[1] != STDOUT_FILENO) {
            ::dup2(ends[1], STDOUT_FILENO);
            ::close(ends[1]);
        } else {
            ::fcntl(STDOUT_FILENO, F_SETFD, 0);
        }
        reset_fatal_signals_in_child();
        ::sigprocmask(SIG_SETMASK, &blocked.previous(), nullptr);
        char shell[] = "sh";
        char option[] = "-c";
        char *const argv[] = {shell, option, const_cast<char *>(cmd), nullptr};
        ::execve("/bin/sh", argv, environ);
        ::_exit(127);
    }
    ::close(ends[1]);
    if (pid < 0) {
        ::close(ends[0]);
        return;
    }
    // Set here too, so that the group exists before anyone signals it.
    ::setpgid(pid, pid);
    pid_ = pid;
    fd_ = ends[0];
    note_running_command(pid, cmd);
}

ShellChild::~ShellChild()
{
    if (started())
        finish();
}

int ShellChild::finish()
{
    if (!started())
        return -1;
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    // Wait for the end without collecting it: until it is collected, the
    // command's process id (and its group's) cannot be taken by another
    // process, so the handler never signals a stranger.
    siginfo_t info{};
    int waited;
    do {
        waited = ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT);
    } while (waited != 0 && errno == EINTR);

    FatalSignalsBlocked blocked;
    note_running_command(0, nullptr);
    int status = 0;
    pid_t got;
    do {
        got = ::waitpid(pid_, &status, 0);
    } while (got < 0 && errno == EINTR);
    pid_ = -1;
    return got < 0 ? -1 : status;
}
