// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// Text boxes whose text is taller than the room a dialog has for them: the
// text is wrapped two columns narrower than the box, and newt's vertical
// scroll bar stands in the last column, showing where the box-full shown
// lies in the whole text. Page Up and Page Down (and Home and End) scroll
// it from anywhere in its dialog. A text that fits gets a plain box and no
// scroll bar.
#pragma once

#include <newt.h>

#include <string>

// A text box `width` columns wide and `rows` high (plus `extra_rows`
// blank ones) for a text taller than that: the text wrapped two columns
// narrower, scrolling.
newtComponent scrolled_text_box(const std::string &text, int width, int rows, int extra_rows = 0);

// A box of a fixed size, `rows` high and two columns wider than the
// `wrap_width` its text is wrapped at; the scroll bar, when the text is
// taller, takes the last of those columns (the agreement's box).
newtComponent fixed_text_box(const std::string &text, int wrap_width, int rows);

// newtRunForm for dialogs that may hold scrolling text boxes: the scroll
// keys move the text of the form's first scrolling box and never end the
// form; anything else ends it as newtRunForm would. While it runs, a
// resize lays out and draws every open window again for the new size (or
// asks for a larger terminal), and so does Ctrl-L.
// A dialog that sizes its content by the screen passes `remake`: when the
// terminal's size is no longer the one its content was made for (also on
// coming back from a dialog above it), the form ends with null and
// *remake true, for the dialog to be made anew for the size now.
newtComponent run_form(newtComponent form, bool *remake = nullptr);

// For a form with a list: its list takes the scroll keys (elsewhere, with
// no scrolling text, run_form makes them do nothing).
void scroll_keys_go_to_its_list(newtComponent form);

// Puts the scroll bars of `form`'s boxes beside their boxes again, after
// the window was laid out anew.
void place_scroll_bars(newtComponent form);
