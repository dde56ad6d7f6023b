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

#include <sys/types.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "screen/text_layout.h"

// A text box `width` columns wide and `rows` high (plus `extra_rows`
// blank ones) for a text taller than that: the text wrapped two columns
// narrower, scrolling.
newtComponent scrolled_text_box(const std::string &text, int width, int rows, int extra_rows = 0);

// A box of a fixed size, `rows` high and two columns wider than the
// `wrap_width` its text is wrapped at; the scroll bar, when the text is
// taller, takes the last of those columns (the agreement's box).
newtComponent fixed_text_box(const std::string &text, int wrap_width, int rows);

// The rows of a text file as a box shows them, read from the file as they
// are shown: each line made safe to show (as screen_text does), then
// wrapped. However long the file, only a mark every few dozen rows is kept
// in memory, and the rows near those shown are read again from the file.
class WrappedFile {
public:
    // Owns `fd`, a regular file open for reading.
    explicit WrappedFile(int fd);
    ~WrappedFile();
    WrappedFile(const WrappedFile &) = delete;
    WrappedFile &operator=(const WrappedFile &) = delete;

    // Wraps the text at `width` columns (one pass over the file, once per
    // width).
    void wrap(int width);
    int rows() const { return rows_; }
    // Up to `count` rows from the row `top` on.
    std::vector<std::string> rows_from(int top, int count) const;
    // The offset of the line (paragraph) that shows the row `row`, and the
    // first row of the line at or around `offset`: a place in the text
    // that outlives wrapping it anew at another width.
    off_t paragraph_of(int row) const;
    int row_of(off_t offset) const;

private:
    struct Mark {
        off_t at = 0;
        int row = 0;
    };
    template <typename Each> void walk(int row, off_t offset, Each each) const;
    int fd_;
    int width_ = 0;
    int rows_ = 0;
    std::vector<Mark> marks_;
};

// A box like fixed_text_box's for the text of `file`, its first row shown
// being `top`.
newtComponent file_text_box(const std::shared_ptr<WrappedFile> &file, int wrap_width, int rows, int top);

// The first row a scrolling box shows (0 for any other box).
int text_box_top(newtComponent box);

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

// A wrapping text box for reflowed text, at most `max_rows` high (and no
// higher than the text) with a scroll bar when the text is taller, plus
// `extra_rows`. A text that fits gets exactly its reflowed size and no
// scroll bar.
inline newtComponent fitting_text_box(const Reflowed &flowed, int max_rows, int extra_rows = 0)
{
    if (flowed.height > max_rows)
        return scrolled_text_box(flowed.source, flowed.width, max_rows, extra_rows);
    newtComponent box = newtTextbox(-1, -1, flowed.width, flowed.height + extra_rows, NEWT_FLAG_WRAP);
    newtTextboxSetText(box, flowed.text.c_str());
    return box;
}

// The same for `text` reflowed at `target` columns with `flex` columns
// either way.
inline newtComponent fitting_text_box(const std::string &text, int target, int flex, int max_rows,
                                      int extra_rows = 0)
{
    return fitting_text_box(reflow_text(text, target, flex, flex), max_rows, extra_rows);
}

// A wrapping text box as large as `text` reflowed at 60 columns, 5 either
// way, or as large as the screen leaves beside `other_rows` of the dialog,
// scrolling then.
inline newtComponent wrapped_text_box(const std::string &text, int other_rows)
{
    return fitting_text_box(text, 60, 5, text_rows_left(other_rows));
}

// A wrapping text box for `text` reflowed at `target` columns, 5 either way,
// at most 6 rows high with a scroll bar beyond that (fewer when the screen
// leaves fewer beside `other_rows`), plus `extra_rows`.
inline newtComponent scrolling_text_box(const std::string &text, int target, int extra_rows = 0,
                                        int other_rows = 0)
{
    return fitting_text_box(text, target, 5, std::min(6, text_rows_left(other_rows + extra_rows)), extra_rows);
}
