// One shell command line running as a child, its standard output read
// through a pipe (as popen does it), in a process group of its own so that
// a fatal signal to the installer reaches the whole command and nothing
// else. While it runs, the fatal-signal handler knows it.
#pragma once

#include <sys/types.h>

class ShellChild {
public:
    // Starts "/bin/sh -c cmd"; started() tells whether it could.
    explicit ShellChild(const char *cmd);
    // A child never collected is closed and waited for.
    ~ShellChild();
    ShellChild(const ShellChild &) = delete;
    ShellChild &operator=(const ShellChild &) = delete;

    bool started() const { return pid_ > 0; }
    // The read end of the command's standard output.
    int fd() const { return fd_; }

    // Closes the pipe and waits for the command, as pclose does: its wait
    // status, or -1.
    int finish();

private:
    pid_t pid_ = -1;
    int fd_ = -1;
};
