// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// File operations done through the shell, and the temporary file of the
// text dialogs.
#pragma once

#include <cstdio>
#include <string>

#include "core/file_stream.h"

// Each returns the runner's result; a command line that would not fit is
// refused with -1 and runs nothing.
int untar(const std::string &from, const std::string &to);
int copy_file(const std::string &from, const std::string &to);
int makedir(const std::string &name);
int removedir(const std::string &name);
int remove_directory(const std::string &path);
// 0 when every regular file of the list was copied, 1 at the first failure.
int copy_files_array(const char *const *copy_files, const std::string &dest_path);
// Appends or rewrites the line var=val of a configuration file. The raw
// status of system(); non-zero without running anything for a key or value
// that cannot stand in the command line.
int set_param(const std::string &conf, const std::string &var, const std::string &val);

// Puts on the disk whatever the back end changed, before the run reports it
// done: one sync of every file system (a vendor's back end may write
// anywhere, and may not sync what it wrote). Logged.
void make_changes_durable();

// A new temporary file, its name already removed.
file_stream openTemp();

// The template of openTemp; tests point it elsewhere.
extern const char *temp_template;
