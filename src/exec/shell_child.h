// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// One shell command line running as a child, its standard output read
// through a pipe (as popen does it), in a session (and process group) of
// its own so that a fatal signal to the installer reaches the whole command
// and nothing else, and held where a later run finds it (its record, and
// its cgroup where the host has one). While it runs, the fatal-signal handler knows it, and it holds its
// record (which a later run finds should this one be killed outright).
//
// Its error output is read beside its standard output and goes to the log,
// line by line, named after the command (in unattended runs to standard
// error as well; never onto the wizard's screen). A command that has ended
// while a process it left behind keeps its output open holds the installer
// only for kOutputGraceSeconds: then that is logged and the output is
// taken as closed.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

inline constexpr int kOutputGraceSeconds = 2;

class ShellChild {
public:
    // Starts "/bin/sh -c cmd"; started() tells whether it could.
    explicit ShellChild(const char *cmd);
    // A child never collected is closed and waited for.
    ~ShellChild();
    ShellChild(const ShellChild &) = delete;
    ShellChild &operator=(const ShellChild &) = delete;

    bool started() const { return pid_ > 0; }

    enum class Read { Data, Error, End };
    // Reads what the command writes next on its standard output: up to
    // `size` bytes into `buf` (Data, `got` bytes), a read error (Error:
    // errno tells; interrupted reads are made again), or End: the output
    // is closed, or held open by a process the command left behind after
    // the grace time.
    Read read_output(char *buf, std::size_t size, std::size_t &got);

    // Called every 100 ms that read_output finds nothing to read: whatever
    // the screen must do meanwhile (follow the terminal's size, Ctrl-L).
    void while_silent(std::function<void()> idle) { idle_ = std::move(idle); }

    // A line of the command's standard output that the installer does not
    // use: it goes where the error output goes.
    void pass_on(std::string_view line);

    // The last lines passed on (at most kLastLines), oldest first: the
    // command's own words on why it failed.
    static constexpr std::size_t kLastLines = 5;
    const std::deque<std::string> &last_lines() const { return last_lines_; }

    // Closes the pipes and waits for the command, as pclose does: its wait
    // status, or -1.
    int finish();

private:
    // Waits (at most `timeout_ms`) for either stream; the error output that
    // came is passed on. True when standard output has something (or its
    // end) to read.
    bool wait_for_output(int timeout_ms);
    void read_error_output();
    void flush_error_output();
    // Whether the command has ended (it is not collected yet); the grace
    // time for its output starts then.
    bool ended();
    // Between reads that found nothing: collects what the back end left
    // behind that has ended, and tells whether the command has ended and
    // its output's grace time is over.
    bool grace_over();

    pid_t pid_ = -1;
    int fd_ = -1;
    int err_fd_ = -1;
    std::string err_pending_;
    std::string name_;   // the command's first word, which the log names
    std::string command_;
    bool ended_ = false;
    double grace_end_ = 0;
    std::function<void()> idle_;
    std::deque<std::string> last_lines_;
};
