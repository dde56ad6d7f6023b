// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "exec/shell_child.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "core/backend_record.h"
#include "core/clock.h"
#include "core/fatal_signals.h"
#include "core/log.h"
#include "core/run_state.h"
#include "exec/terminal_line.h"

namespace {

void close_fd(int &fd)
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

} // namespace

ShellChild::ShellChild(const char *cmd) : command_(cmd)
{
    std::size_t word = command_.find_first_of(" \t\n");
    name_ = command_.substr(0, word);
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return;
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return;
    }
    // The handler must never see a child it cannot name, nor name one that
    // is gone: it is told with the fatal signals (and the collection of
    // ended children) blocked.
    FatalSignalsBlocked blocked;
    // The command and whatever it starts hold its record, locked, for as
    // long as they live.
    const int record = open_backend_record(cmd);
    // The child waits until it has been placed where a later run finds
    // it: it says it leads its session, the parent places it and says go.
    int handshake[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, handshake) != 0) {
        close_backend_record();
        ::close(out[0]);
        ::close(out[1]);
        ::close(err[0]);
        ::close(err[1]);
        return;
    }
    // In its systemd scope where there is one: systemd-run puts itself in
    // it, then starts the shell.
    std::vector<std::string> words = backend_scope_words();
    const std::string program = words.empty() ? std::string("/bin/sh") : words.front();
    for (const char *word : {"/bin/sh", "-c"})
        words.emplace_back(word);
    if (words.front() == "/bin/sh")
        words.front() = "sh";
    words.emplace_back(cmd);
    std::vector<char *> argv;
    argv.reserve(words.size() + 1);
    for (std::string &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    // A command outside the terminal's session must not read the keys
    // meant for the wizard: it reads from /dev/null instead.
    const int no_input = ::isatty(STDIN_FILENO) ? ::open("/dev/null", O_RDONLY | O_NOCTTY | O_CLOEXEC) : -1;
    pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls until exec.
        ::close(handshake[0]);
        // A session of its own: whatever it starts stays in it unless it
        // leaves on purpose, and its group is the session's.
        ::setsid();
        char go = 's';
        while (::write(handshake[1], &go, 1) < 0 && errno == EINTR) {
        }
        while (::read(handshake[1], &go, 1) < 0 && errno == EINTR) {
        }
        ::close(handshake[1]);
        if (no_input >= 0)
            ::dup2(no_input, STDIN_FILENO);
        // A command in a background process group that touches the terminal
        // gets an error instead of being stopped for good.
        struct sigaction ignore{};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        ::sigaction(SIGTTIN, &ignore, nullptr);
        ::sigaction(SIGTTOU, &ignore, nullptr);
        // The pipes' write ends become descriptors 1 and 2 (dup2 clears
        // close-on-exec on the copies); neither end is taken by the other.
        int out_end = out[1];
        int err_end = err[1];
        if (out_end == STDERR_FILENO)
            out_end = ::fcntl(out_end, F_DUPFD_CLOEXEC, 3);
        if (err_end == STDOUT_FILENO)
            err_end = ::fcntl(err_end, F_DUPFD_CLOEXEC, 3);
        if (out_end != STDOUT_FILENO)
            ::dup2(out_end, STDOUT_FILENO);
        else
            ::fcntl(STDOUT_FILENO, F_SETFD, 0);
        if (err_end != STDERR_FILENO)
            ::dup2(err_end, STDERR_FILENO);
        else
            ::fcntl(STDERR_FILENO, F_SETFD, 0);
        if (record >= 0)
            ::fcntl(record, F_SETFD, 0);
        reset_fatal_signals_in_child();
        ::sigprocmask(SIG_SETMASK, &blocked.previous(), nullptr);
        ::execve(program.c_str(), argv.data(), environ);
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    ::close(handshake[1]);
    if (no_input >= 0)
        ::close(no_input);
    if (pid < 0) {
        ::close(handshake[0]);
        close_backend_record();
        ::close(out[0]);
        ::close(err[0]);
        return;
    }
    // Once the child leads its session, its group exists for anyone who
    // signals it; then it is placed, and may go.
    char said = 0;
    while (::read(handshake[0], &said, 1) < 0 && errno == EINTR) {
    }
    place_backend(pid);
    // (A child gone meanwhile is no broken pipe of the installer's.)
    const char go = 'g';
    while (::send(handshake[0], &go, 1, MSG_NOSIGNAL) < 0 && errno == EINTR) {
    }
    ::close(handshake[0]);
    pid_ = pid;
    fd_ = out[0];
    err_fd_ = err[0];
    note_running_command(pid, cmd);
}

ShellChild::~ShellChild()
{
    if (started())
        finish();
}

bool ShellChild::ended()
{
    if (!ended_) {
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid_) {
            ended_ = true;
            close_backend_record();
            grace_end_ = seconds_now() + kOutputGraceSeconds;
        }
    }
    return ended_;
}

bool ShellChild::grace_over()
{
    collect_ended_strays();
    return ended() && seconds_now() >= grace_end_;
}

void ShellChild::pass_on(std::string_view line)
{
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    std::string text(line);
    write_log("%s: %s\n", name_.c_str(), text.c_str());
    if (last_lines_.size() == kLastLines)
        last_lines_.pop_front();
    last_lines_.push_back(text);
    if (unattended && !innewt) {
        clear_terminal_line();
        std::fputs(text.c_str(), stderr);
        std::fputc('\n', stderr);
    }
}

void ShellChild::read_error_output()
{
    char block[4096];
    ssize_t got = ::read(err_fd_, block, sizeof block);
    if (got < 0 && errno == EINTR)
        return;
    if (got <= 0) {
        close_fd(err_fd_);
        flush_error_output();
        return;
    }
    err_pending_.append(block, static_cast<std::size_t>(got));
    std::size_t start = 0;
    for (std::size_t feed = err_pending_.find('\n'); feed != std::string::npos;
         feed = err_pending_.find('\n', start)) {
        pass_on(std::string_view(err_pending_).substr(start, feed - start + 1));
        start = feed + 1;
    }
    err_pending_.erase(0, start);
    // A "line" without end that grows past the log's cut goes as it is.
    if (err_pending_.size() >= 4095)
        flush_error_output();
}

void ShellChild::flush_error_output()
{
    if (!err_pending_.empty())
        pass_on(err_pending_);
    err_pending_.clear();
}

bool ShellChild::wait_for_output(int timeout_ms)
{
    pollfd fds[2] = {{fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
    int ready = ::poll(fds, 2, timeout_ms);
    if (ready <= 0)
        return false;
    if (err_fd_ >= 0 && fds[1].revents != 0)
        read_error_output();
    return fd_ >= 0 && fds[0].revents != 0;
}

ShellChild::Read ShellChild::read_output(char *buf, std::size_t size, std::size_t &got)
{
    got = 0;
    while (fd_ >= 0) {
        // Looked at whether or not there is output: a process left behind
        // that writes all the time must not hold the run either.
        if (grace_over()) {
            write_log("%s has ended, but a process it left behind keeps its output open; going on without it\n",
                      command_.c_str());
            close_fd(fd_);
            return Read::End;
        }
        if (!wait_for_output(100)) {
            if (idle_)
                idle_();
            continue;
        }
        ssize_t n = ::read(fd_, buf, size);
        if (n > 0) {
            got = static_cast<std::size_t>(n);
            return Read::Data;
        }
        if (n == 0) {
            close_fd(fd_);
            return Read::End;
        }
        if (errno == EINTR)
            continue;
        return Read::Error;
    }
    return Read::End;
}

int ShellChild::finish()
{
    if (!started())
        return -1;
    close_fd(fd_);
    // What is left of the error output, until it closes or the command has
    // ended and the grace time is over.
    while (err_fd_ >= 0) {
        if (wait_for_output(100))
            continue;
        if (grace_over())
            break;
    }
    close_fd(err_fd_);
    flush_error_output();
    // Wait for the end without collecting it: until it is collected, the
    // command's process id (and its group's) cannot be taken by another
    // process, so the handler never signals a stranger.
    siginfo_t info{};
    int waited;
    do {
        waited = ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT);
    } while (waited != 0 && errno == EINTR);

    FatalSignalsBlocked blocked;
    close_backend_record();
    note_running_command(0, nullptr);
    int status = 0;
    pid_t got;
    do {
        got = ::waitpid(pid_, &status, 0);
    } while (got < 0 && errno == EINTR);
    pid_ = -1;
    collect_ended_strays();
    return got < 0 ? -1 : status;
}
