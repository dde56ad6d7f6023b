// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// Starting and stopping the text screen; while it is up, the fatal-signal
// handler knows the terminal and the console message level to put back.
#pragma once

#include <string>

// The smallest terminal on which every screen of the wizard draws whole,
// in every language shipped: the agreement's window is 70 columns wide,
// and at 16 rows every dialog's texts and lists still keep a few rows each
// (they scroll) beside its buttons, with the header and the help line.
inline constexpr int kMinScreenColumns = 70;
inline constexpr int kMinScreenRows = 16;

// Empty when the terminal on standard input and output can carry the text
// screen; otherwise the reason it cannot.
std::string screen_unusable_reason();

// The fatal-signal handler (if main has not armed it yet), newtInit and
// newtCls. False when the screen could not be started.
bool start_screen();

// newtFinished; the handler no longer touches the terminal.
void stop_screen();

// Hands the console levels saved before the installer lowered them to the
// fatal-signal handler, which writes them back if a signal ends the run.
void remember_console_levels(const int *levels);

// After the terminal was resized, the screen takes the new size before the
// next dialog is laid out: the screen library learns it, and the
// background, the header line and the help line are drawn anew. Every
// dialog calls it before it measures the screen or opens its window.
void follow_terminal_size();

// The terminal's size now; false when it does not say.
bool terminal_size_now(int &columns, int &rows);

// Instead of the windows, one short line that says the size they need and
// the size now, for a terminal too small for them.
void show_size_notice(int columns_needed, int rows_needed);

// Ctrl-L, as terminals send it: the screen is drawn again.
inline constexpr int kRedrawKey = 12;

// Keys pressed while the screen cannot show a dialog go nowhere; true when
// Ctrl-L was among them (the screen is to be drawn again). Every window is
// opened after this, never with the library's own flush of pending keys
// alone: after a Ctrl-L that one waits for yet another key.
bool drop_pending_keys();

// Whether the terminal's size differs from the one the screen was last
// drawn for.
bool terminal_size_changed();

// Counts the times the screen was cleared for a new size.
int screen_generation();

// Clears the screen for the terminal's size now and draws the header and
// the help line again.
void redraw_screen_background();

// The header line, for drawing it anew after a resize.
void remember_header(const char *title);
// Draws it for the terminal's width.
void draw_header();
