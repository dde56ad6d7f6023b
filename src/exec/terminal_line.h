// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// The live progress line of a run without the text screen whose standard
// output is a terminal: one line rewritten in place from the action's first
// run to its last, finished with a line feed whatever the outcome. Standard
// output that is not a terminal receives none of it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// "NNN% message" as the terminal shows it: the message's trailing blanks
// dropped; control characters (C0, DEL, C1, raw or as UTF-8) and bytes that
// are not UTF-8 shown as blanks; cut, by display columns, to `limit`
// columns, never in the middle of a character. `columns` receives the
// columns the text takes.
std::string terminal_line_text(int percent, std::string_view message, std::size_t limit, std::size_t &columns);

// Opens the line when standard output is a terminal and the screen is not
// up; otherwise the other two do nothing.
void open_terminal_line();
// Rewrites the line with the run's overall percentage and message.
void update_terminal_line(int percent, const char *message);
// Blanks the line, so that a message can take its row; the next update
// draws the line anew on the row after the message.
void clear_terminal_line();
// Finishes the line with a line feed.
void close_terminal_line();
