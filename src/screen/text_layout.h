// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// Measuring a dialog's content: text reflowed as the widget library wraps
// it, and the rows a text may take beside the rest of a window.
#pragma once

#include <newt.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "screen/terminal_guard.h"

// Text reflowed by the widget library; `text` and the size of the block,
// and the text as it was before (`source`), for wrapping it anew at another
// width: wrapping wrapped text again breaks its lines twice.
struct Reflowed {
    std::string text;
    int width = 0;
    int height = 0;
    std::string source;
};

inline Reflowed reflow_text(const std::string &text, int width, int flex_down, int flex_up)
{
    std::string copy = text;
    Reflowed result;
    result.source = text;
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

inline int component_rows(newtComponent co)
{
    int columns = 0;
    int rows = 0;
    newtComponentGetSize(co, &columns, &rows);
    return rows;
}
