// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// The reader of the back end's progress lines: parses them, scales them
// across the parts of one action and drives the preparation window.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "dialogs/progress.h"

struct progress_data {
    char message[4096] = {};
    int progress = 0;
    int num_parts = 0;
    int part = 0;
    int done = 0;
    int action = 0;
    progress_handle data;
};

// The installer's one progress record, filled by the installation run
// before each back-end run.
extern progress_data progress;

// What one line of output says, when it is a progress line.
struct progress_line {
    bool is_progress = false;
    int percent = 0;
    std::string message;
};

// Parses one line as read (at most 4095 characters, its line feed, if any,
// still in place): "[" in column 0, the percentage in columns 1-3 read as
// scanf's "%i" reads it, the message from column 7 on with line feeds turned
// into blanks.
progress_line parse_progress_line(std::string_view line);

// A run's own percentage mapped onto its share of one bar.
int scale_progress(int percent, int num_parts, int part);

// Appends what fits of `line` to a capture of at most `size` - 1 characters.
void capture_output(std::string &captured, std::size_t size, std::string_view line);

// Applies one line to the record and sends event 3 when it is a progress line.
void apply_progress_line(progress_data *progr, std::string_view line);

// Forwards event 1 (open), 2 (close) or 3 (update) to the preparation window.
void show_progress_data(int progress_type, progress_data *progr);

// The last lines (at most five) that the command exec_with_progress ran
// last said besides its progress, on either output, each as the log has
// it; empty when it said nothing else.
const std::vector<std::string> &last_backend_lines();

// Runs `cmd`, reading its output line by line. Result: the exit code, or -1.
// `output_buf` (may be null) receives at most `output_buf_size` - 1
// characters of the output.
int exec_with_progress(const char *cmd, progress_data *progr, std::string *output_buf, std::size_t output_buf_size);
