// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// RAII owners for the widget library's resources, so that every dialog
// destroys its form and removes its window on every way out.
#pragma once

#include <newt.h>
#include <slang.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <string_view>

#include "core/text.h"
#include "screen/terminal_guard.h"
#include "screen/window_stack.h"

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
