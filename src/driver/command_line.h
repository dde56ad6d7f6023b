// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// The command line: the option table, its parser, the usage text and the
// version line.
#pragma once

// Longest --log-path value accepted; longer paths cannot name a file.
inline constexpr unsigned kLogPathMax = 4095;

#include <string>
#include <vector>

// What reading the command line found wrong, if anything.
enum class CommandLineError { None, BadOption, Leftover, InstallAndRemove, LogPathTooLong };

struct CommandLineOutcome {
    CommandLineError error = CommandLineError::None;
    std::string argument;  // the offending option or argument
    std::string reason;    // the parser's text for a bad option
};

// Every option of the option table as it is written on the command line,
// in the table's order, each short spelling before its long one ("-i",
// "--install", ..., "--log-path").
std::vector<std::string> option_spellings();

// Reads the command line into the run state without printing or exiting.
CommandLineOutcome parse_command_line(int argc, const char **argv);

// parse_command_line, then the message and the exit for any error.
void parseCmdLine(int argc, const char **argv);
[[noreturn]] void usage(int errCode);
[[noreturn]] void report_ver();
