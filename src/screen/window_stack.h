// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// The dialogs' windows that are open, bottom first, each with the grid that
// lays it out: so that every window can be laid out and drawn again for the
// terminal's size now (after a resize, on Ctrl-L), and a window that comes
// back from under a closed dialog is whole.
#pragma once

#include <newt.h>

#include <string>

// Called with a window's form whenever the window is drawn: what a widget
// above the stack places anew then (the scroll bars of scrolling text).
void on_window_drawn(void (*hook)(newtComponent form));

// Puts every widget of `grid` on `form`, opens a centred window fitted to
// the grid with `title` (already fitted), and keeps the grid until the
// window is closed.
void open_grid_window(newtComponent form, newtGrid grid, const std::string &title);

// Pops the window of `form` and frees its grid (not its widgets). The
// windows left under it that were laid out for another size, or cleared
// since, are laid out and drawn again.
void close_grid_window(newtComponent form);

// Clears the screen and lays out and draws every open window again, for
// the terminal's size now; while the terminal is too small for them, a
// line asks for a larger one instead (keys pressed meanwhile go nowhere).
void redraw_windows();

// For windows that wait for no key (the progress bar): when the terminal
// was resized, the windows are drawn again for the new size, or, while it
// is too small, the line that asks for a larger one stands instead; never
// waits. False while they do not fit. `asked`: drawn again even when the
// size is the same (Ctrl-L).
bool show_windows_if_they_fit(bool asked = false);

// Whether the terminal is now too small for the open windows (the size
// notice stands, or will at the next look).
bool terminal_too_small_for_windows();

// Whether the content of `form`'s window was made for another terminal
// size than the one now, on a terminal large enough for the wizard: a
// dialog that measures the screen is then made anew (see run_form).
bool made_for_another_size(newtComponent form);
