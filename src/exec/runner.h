// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// The command runner: runs one shell command line, reads all of its
// standard output, logs output and status, and decodes the status.
#pragma once

#include <string>

#include "screen/status_window.h"

// Runs `cmd` through /bin/sh. When the command writes at least one byte and
// `mess` is set, `*mess` holds all of its output afterwards; otherwise
// `*mess` is left as it was. `progress_func` (may be null) runs in a second
// thread while the command runs, with `progr_msg` or the default wait
// message. Result: the exit code 0-255, or -1.
int execCmd3(const char *cmd, std::string *mess, thread_func progress_func, const char *progr_msg);
int execCmd2(const char *cmd, std::string *mess);
int execCmd(const char *cmd);

// Consecutive read errors tolerated before the runner stops reading.
inline constexpr int kMaxReadErrors = 100;
