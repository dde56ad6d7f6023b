// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// How the run ends on SIGINT, SIGTERM and SIGHUP (and on every other
// signal whose default action would end it, SIGPIPE aside: the real-time
// signals, SIGPWR, SIGIO and the rest), in the wizard and in unattended
// runs alike: the running back-end command (its whole process group) gets
// the same signal (SIGTERM for the others) and is waited for, a bounded
// time, then killed; one log entry names the signal and the command; the
// terminal, the console message level and the live progress line are put
// back; the process exits with 128 + the signal. A fault (SIGSEGV,
// SIGBUS, SIGABRT, SIGFPE, SIGILL, SIGTRAP, SIGSYS) is handled the same
// way, but the process then ends by that signal, its core dump kept. Everything the handler needs is
// noted beforehand, so that it only copies bytes and makes system calls.
#pragma once

#include <signal.h>
#include <sys/types.h>
#include <termios.h>

#include <cstddef>

// Installs the handler for those signals, and makes a write to
// a closed standard output fail instead of ending the run (SIGPIPE).
// Takes the log path as it stands now.
void arm_fatal_signals();

// The terminal the screen reads its keys from and its settings before the
// screen started; the handler puts them back and leaves the screen's
// alternate buffer. `fd` -1 forgets them (the screen was stopped).
void note_screen_terminal(int fd, const termios *saved);

// The text to write back to /proc/sys/kernel/printk; empty forgets it.
void note_console_levels(const char *text, std::size_t len);

// The back-end command running now, as the leader of its own process
// group; `pid` 0 forgets it. Call with the fatal signals blocked.
void note_running_command(pid_t pid, const char *cmd);

// Whether the live progress line on standard output is open (then the
// handler finishes it with a line feed).
void note_progress_line_open(bool open);

// Collects the installer's ended children other than the running back-end
// command: the processes a back-end command left behind, which became the
// installer's when their parent ended. Runs on SIGCHLD too, once armed.
// Async-signal-safe.
void collect_ended_strays();

// The fatal signals (and SIGCHLD), blocked in the calling thread until the
// object goes out of scope: for the moments when a child is started or
// forgotten, and for threads that must never run the handlers.
class FatalSignalsBlocked {
public:
    FatalSignalsBlocked();
    ~FatalSignalsBlocked();
    FatalSignalsBlocked(const FatalSignalsBlocked &) = delete;
    FatalSignalsBlocked &operator=(const FatalSignalsBlocked &) = delete;

    // The mask from before, for a child to take on before its exec.
    const sigset_t &previous() const { return previous_; }

private:
    sigset_t previous_;
};

// In a child between fork and exec: the installer's own handlers go back to
// the default actions before the fatal signals are unblocked, so that a
// signal that arrives then ends the child, not as the installer would end.
// Ignored signals stay ignored. Async-signal-safe.
void reset_fatal_signals_in_child();

// Seconds the handler waits for the interrupted command before it kills
// the command's process group.
inline constexpr int kStopGraceSeconds = 5;

// Formats `when` (seconds since the epoch) at the fixed UTC offset
// `gmtoff` as "%Y-%m-%dT%T%z" without calling anything unsafe in a signal
// handler. Writes at most len - 1 characters and a NUL; returns the length.
std::size_t format_timestamp_signal_safe(char *buf, std::size_t len, long long when, long gmtoff);
