// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// RAII owners for the widget library's resources, so that every dialog
// destroys its form and removes its window on every way out.
#pragma once

#include <newt.h>
#include <slang.h>

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "core/text.h"
#include "screen/scrolling_text.h"
#include "screen/window_stack.h"
#include "screen/terminal_guard.h"

// A window title cut to what the screen can frame: a window is at least as
// wide as its title, and one wider than the screen loses its frame. Counts
// the columns the characters take, not bytes, and never cuts one in two.
inline std::string fitted_title(const char *title)
{
    std::string text = title != nullptr ? title : "";
    int columns = 0;
    int rows = 0;
    follow_terminal_size();
    newtGetScreenSize(&columns, &rows);
    const int limit = std::max(1, columns - 10);
    // Display columns, not bytes or characters: a wide character takes two,
    // and the title is never cut inside a character.
    int seen = 0;
    for (std::size_t i = 0; i < text.size();) {
        unsigned code = 0;
        std::size_t length = decode_utf8(std::string_view(text).substr(i), code);
        int width = 1;
        if (length == 0) {
            length = 1;
        } else if (code >= 0x80) {
            width = std::max(0, SLwchar_wcwidth(code));
        }
        if (seen + width > limit) {
            text.resize(i);
            break;
        }
        seen += width;
        i += length;
    }
    return text;
}

// A form and, once opened, the window around it. Destroys the form (with all
// its widgets) and then pops the window.
class ScreenForm {
public:
    explicit ScreenForm(newtComponent form = nullptr) : form_(form) {}
    ScreenForm(const ScreenForm &) = delete;
    ScreenForm &operator=(const ScreenForm &) = delete;
    ~ScreenForm() { close(); }

    newtComponent get() const { return form_; }
    void window_opened() { window_ = true; }

    // Puts every widget of `grid` on the form and opens a centred window
    // fitted to the grid with `title`; the grid (not its widgets) goes with
    // the window, which can then be laid out again for another size.
    void open(newtGrid grid, const char *title)
    {
        open_grid_window(form_, grid, fitted_title(title));
        window_opened();
    }
    void close()
    {
        if (window_)
            close_grid_window(form_);
        window_ = false;
        if (form_ != nullptr)
            newtFormDestroy(form_);
        form_ = nullptr;
    }

private:
    newtComponent form_;
    bool window_ = false;
};

// Which of `widgets` has the focus of `form`, or -1: so that a dialog made
// anew for another terminal size gives the focus back where it was.
inline int focused_among(newtComponent form, std::initializer_list<newtComponent> widgets)
{
    const newtComponent current = newtFormGetCurrent(form);
    int index = 0;
    for (newtComponent widget : widgets) {
        if (widget != nullptr && widget == current)
            return index;
        ++index;
    }
    return -1;
}

// Gives the focus of `form` to the widget at `index` of `widgets` (none
// when it is -1).
inline void focus_on(newtComponent form, int index, std::initializer_list<newtComponent> widgets)
{
    if (index >= 0 && index < static_cast<int>(widgets.size()) && widgets.begin()[index] != nullptr)
        newtFormSetCurrent(form, widgets.begin()[index]);
}

// Text reflowed by the widget library; `text` and the size of the block.
struct Reflowed {
    std::string text;
    int width = 0;
    int height = 0;
};

inline Reflowed reflow_text(const std::string &text, int width, int flex_down, int flex_up)
{
    std::string copy = text;
    Reflowed result;
    char *flowed = newtReflowText(copy.data(), width, flex_down, flex_up, &result.width, &result.height);
    if (flowed != nullptr) {
        result.text = flowed;
        std::free(flowed);
    }
    return result;
}

// Rows of the screen that no dialog's content can use: the header line,
// the help line, the window's frame above and below, its shadow, and the
// blank row above and below the content of a window fitted to a grid.
inline constexpr int kDialogFrameRows = 7;

// How many rows a text box may take in a centred window whose other
// content (padding, widgets, button bar) takes `other_rows`: what the
// screen leaves, and at least one.
inline int text_rows_left(int other_rows)
{
    int columns = 0;
    int rows = 0;
    follow_terminal_size();
    newtGetScreenSize(&columns, &rows);
    return std::max(1, rows - kDialogFrameRows - other_rows);
}

inline int grid_rows(newtGrid grid)
{
    int columns = 0;
    int rows = 0;
    newtGridGetSize(grid, &columns, &rows);
    return rows;
}

// Rows of a bar of full-size buttons, for a text box made before the
// dialog that will hold it builds its bar.
inline int button_bar_rows()
{
    std::string label = " ";
    newtComponent button = nullptr;
    newtGrid bar = newtButtonBar(label.data(), &button, static_cast<char *>(nullptr));
    int rows = grid_rows(bar);
    newtGridFree(bar, 1);
    newtComponentDestroy(button);
    return rows;
}

// A wrapping text box for reflowed text, at most `max_rows` high (and no
// higher than the text) with a scroll bar when the text is taller, plus
// `extra_rows`. A text that fits gets exactly its reflowed size and no
// scroll bar.
inline newtComponent fitting_text_box(const Reflowed &flowed, int max_rows, int extra_rows = 0)
{
    if (flowed.height > max_rows)
        return scrolled_text_box(flowed.text, flowed.width, max_rows, extra_rows);
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

inline int component_rows(newtComponent co)
{
    int columns = 0;
    int rows = 0;
    newtComponentGetSize(co, &columns, &rows);
    return rows;
}
