// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// The installer log: one append-only text file shared with the back-end
// tools. Every entry is a local timestamp, ": " and the caller's text.
#pragma once

#include <cstddef>
#include <string>

// Appends one entry. Dropped silently when no log path is set or the file
// cannot be opened.
void write_log(const char *format, ...) __attribute__((format(printf, 1, 2)));

// The current local time as "%Y-%m-%dT%T%z", at most len - 1 characters.
void get_date(char *buf, std::size_t len);

// Appends one entry holding `bytes` exactly as they are (command output may
// carry any byte, NUL included).
void write_log_bytes(const char *bytes, std::size_t size);

// Why entries of this run could not be written to the log ("" while every
// entry went there): the last reason met.
std::string log_entries_lost();

// Puts the entries written so far on the disk: the log and its directory
// synced (the entry of a log this run made). An ending run calls it after
// its last entry.
void make_log_durable();

// The directory of the log as the run holds it once it has written there
// (-1 until then): the fatal-signal handler opens the log in it, by the
// log's last name, and never walks a path.
int log_directory();
