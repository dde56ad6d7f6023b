// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// What a run leaves in /run for the runs after it, should it be killed
// outright (SIGKILL: no handler runs):
//
// - The record of the back-end command it runs: a file that the run makes
//   anew and locks before each command starts, and whose descriptor the
//   command (and every process it starts that keeps its descriptors)
//   inherits. The kernel keeps the file locked for as long as any of those
//   processes holds it open: a later run knows that something of the
//   command still lives by the lock alone, and which processes they are by
//   the open file, never by a number read back from anywhere. The file
//   says "running" while the command runs and "ended" once it has ended;
//   then it goes.
// - The kernel's console message levels from before the wizard lowered
//   them, until it puts them back.
//
// Only the run that holds the installer lock keeps or reads them.
#pragma once

#include <optional>
#include <string>

inline constexpr const char *BACKEND_RECORD_PATH = "/run/kestrane-sdk-backend.lock";
inline constexpr const char *CONSOLE_LEVELS_PATH = "/run/kestrane-sdk-console-levels";

// From now on this run keeps the records: it holds the installer lock.
void keep_run_records();

// Before a back-end command starts: its record, new and locked. The
// descriptor (close-on-exec: the child clears that flag), or -1 when the
// run keeps no records or the file cannot be made (logged).
int open_backend_record(const char *command);

// The command has ended (it may not be collected yet): the record says so
// and goes, so that nothing the command left behind on purpose (a daemon
// it started) is ever taken for a part of it that still runs.
void close_backend_record();

// The console levels this run found, before it lowers them ("4 4 1 7\n").
void save_console_levels(const std::string &levels);
// They are back: the saved copy goes.
void forget_saved_console_levels();
// The levels an earlier run saved and never put back (then the saved copy
// goes); none when there are none or they are not levels.
std::optional<std::string> take_saved_console_levels();
