// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "screen/window_stack.h"

#include <slang.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "screen/terminal_guard.h"

namespace {

struct OpenWindow {
    newtComponent form;
    newtGrid grid;
    std::string title;
    int generation; // of the screen it was drawn on
    int columns;    // the terminal's size its content was made for
    int rows;
    bool on_screen; // its window is open (a window under another one
                    // that does not fit the screen now is left off)
    int left = 0;   // where it was opened, as the library takes it: the
    int top = 0;    // inside of its frame
    int width = 0;
    int height = 0;
};

std::vector<OpenWindow> windows;

// What a widget above the stack places anew when a window is drawn.
void (*drawn_hook)(newtComponent form) = nullptr;

// Rows a screen keeps beside a window: the header line and the help line.
constexpr int kScreenLines = 2;

// The window `window`'s grid is shown in, inside its frame: a blank
// column and row around the grid, which is as wide as its title at least
// (then centred in it, `indent` columns in).
void frame_of(const OpenWindow &window, int &width, int &height, int &indent)
{
    int grid_width = 0;
    int grid_height = 0;
    newtGridGetSize(window.grid, &grid_width, &grid_height);
    auto *begin = reinterpret_cast<SLuchar_Type *>(const_cast<char *>(window.title.data()));
    const int title = static_cast<int>(SLsmg_strwidth(begin, begin + window.title.size())) + 2;
    indent = std::max(0, title - grid_width) / 2;
    width = std::max(grid_width, title) + 2;
    height = grid_height + 2;
}

// The size of the terminal `window` needs to be drawn whole: its frame
// around it, and the shadow below it, beside the header and the help line.
void size_needed(const OpenWindow &window, int &columns, int &rows)
{
    int width = 0;
    int height = 0;
    int indent = 0;
    frame_of(window, width, height, indent);
    columns = width + 2;
    rows = height + 2 + 1 + kScreenLines;
}

// The same for every open window.
void size_needed(int &columns, int &rows)
{
    columns = 0;
    rows = 0;
    for (const OpenWindow &window : windows) {
        int width = 0;
        int height = 0;
        size_needed(window, width, height);
        columns = std::max(columns, width);
        rows = std::max(rows, height);
    }
}

// Whether `window` fits the terminal as it is now. A window under another
// one that was laid out for a larger terminal would cover the header and
// the help line, and show through beside the dialog above it: it stays
// off the screen until its dialog comes back and is made for the size now.
bool fits_now(const OpenWindow &window)
{
    int columns = 0;
    int rows = 0;
    if (!terminal_size_now(columns, rows))
        return true;
    int width = 0;
    int height = 0;
    size_needed(window, width, height);
    return width <= columns && height <= rows;
}

// Whether the windows can be shown: on a terminal of the size the wizard
// needs (they were laid out for one at least that large, or fit it), or on
// a smaller one that they fit as they are.
bool windows_fit()
{
    int columns = 0;
    int rows = 0;
    if (!terminal_size_now(columns, rows) || (columns >= kMinScreenColumns && rows >= kMinScreenRows))
        return true;
    int needed_columns = 0;
    int needed_rows = 0;
    size_needed(needed_columns, needed_rows);
    return columns >= needed_columns && rows >= needed_rows;
}

// While the terminal is too small for the open windows: the line that asks
// for a larger one, anew for every size.
void wait_until_windows_fit()
{
    int shown_columns = -1;
    int shown_rows = -1;
    while (!windows_fit()) {
        int columns = 0;
        int rows = 0;
        terminal_size_now(columns, rows);
        if (columns != shown_columns || rows != shown_rows) {
            show_size_notice(kMinScreenColumns, kMinScreenRows);
            shown_columns = columns;
            shown_rows = rows;
        }
        drop_pending_keys();
        ::usleep(100 * 1000);
    }
    drop_pending_keys();
}

// Opens `window` where it belongs: centred on the screen, as the library
// centres a window, or, over a window on the screen, centred on that one,
// so that it covers the same part of it whatever the screen's size (the
// screen's centre moves by a row against a window's as its size changes),
// as far as it stays whole on the screen.
void open_frame(OpenWindow &window)
{
    int indent = 0;
    frame_of(window, window.width, window.height, indent);
    int columns = 0;
    int rows = 0;
    newtGetScreenSize(&columns, &rows);
    window.left = (columns - window.width) / 2;
    window.top = (rows - window.height) / 2;
    if (rows % 2 != 0 && window.top % 2 != 0)
        --window.top;
    const auto self = std::find_if(windows.begin(), windows.end(), [&](const OpenWindow &w) { return &w == &window; });
    const auto under = std::find_if(std::make_reverse_iterator(self), windows.rend(),
                                    [](const OpenWindow &w) { return w.on_screen; });
    if (under != windows.rend()) {
        const int left = under->left + (under->width - window.width) / 2;
        const int top = under->top + (under->height - window.height + 1) / 2;
        // Its frame, and the shadow right of and below it, between the
        // header and the help line.
        if (left >= 1 && left + window.width + 1 <= columns - 1 && top >= 2 && top + window.height + 1 <= rows - 2) {
            window.left = left;
            window.top = top;
        }
    }
    newtOpenWindow(window.left, window.top, window.width, window.height, window.title.c_str());
    newtGridPlace(window.grid, 1 + indent, 1);
}

void draw(OpenWindow &window)
{
    drop_pending_keys();
    open_frame(window);
    window.on_screen = true;
    if (drawn_hook != nullptr)
        drawn_hook(window.form);
    newtDrawForm(window.form);
    window.generation = screen_generation();
}

// Lays out and draws every window again, on a cleared screen, once the
// terminal is large enough for them.
void draw_all()
{
    // (The library pops its top window: one pop for each window shown.)
    for (OpenWindow &window : windows) {
        if (window.on_screen)
            newtPopWindowNoRefresh();
        window.on_screen = false;
    }
    wait_until_windows_fit();
    redraw_screen_background();
    for (OpenWindow &window : windows) {
        if (&window == &windows.back() || fits_now(window))
            draw(window);
    }
    newtRefresh();
}

std::vector<OpenWindow>::iterator window_of(newtComponent form)
{
    return std::find_if(windows.begin(), windows.end(), [form](const OpenWindow &w) { return w.form == form; });
}

} // namespace

void on_window_drawn(void (*hook)(newtComponent form))
{
    drawn_hook = hook;
}

void open_grid_window(newtComponent form, newtGrid grid, const std::string &title)
{
    newtGridAddComponentsToForm(grid, form, 1);
    // The size the dialog was laid out for: the screen's as last taken,
    // not the terminal's now. A resize that came between the layout and
    // this moment makes the dialog anew.
    int columns = 0;
    int rows = 0;
    newtGetScreenSize(&columns, &rows);
    windows.push_back({form, grid, title, 0, columns, rows, false});
    // Drawn alone over what stands on the screen as drawn for this size.
    // Otherwise all are drawn anew: a window under it that no longer fits
    // comes off (the dialog it belongs to was left for this one), and one
    // drawn before the screen was cleared for a new size (which this
    // dialog's layout may have taken) comes back.
    if (windows_fit() && !terminal_size_changed() &&
        std::all_of(windows.begin(), windows.end() - 1, [now = screen_generation()](const OpenWindow &w) {
            return !w.on_screen || (fits_now(w) && w.generation == now);
        })) {
        draw(windows.back());
        return;
    }
    // A terminal too small for it, or resized since the windows under it
    // were drawn: all of them anew, when they fit.
    draw_all();
}

void close_grid_window(newtComponent form)
{
    auto found = window_of(form);
    if (found == windows.end()) {
        newtPopWindow();
        return;
    }
    newtGridFree(found->grid, 1);
    const bool on_screen = found->on_screen;
    windows.erase(found);
    if (on_screen)
        newtPopWindowNoRefresh();
    // What is under it was drawn for another screen: the screen was
    // cleared (resized) while the closed window was up.
    const int now = screen_generation();
    if (terminal_size_changed() || std::any_of(windows.begin(), windows.end(), [now](const OpenWindow &w) {
            return !w.on_screen || w.generation != now;
        }))
        draw_all();
    else
        newtRefresh();
}

void redraw_windows()
{
    draw_all();
}

bool show_windows_if_they_fit(bool asked)
{
    if (!windows_fit()) {
        if (asked || terminal_size_changed())
            show_size_notice(kMinScreenColumns, kMinScreenRows);
        return false;
    }
    if (asked || terminal_size_changed() ||
        std::any_of(windows.begin(), windows.end(),
                    [now = screen_generation()](const OpenWindow &w) { return w.on_screen && w.generation != now; }))
        draw_all();
    return true;
}

bool terminal_too_small_for_windows()
{
    return !windows_fit();
}

bool made_for_another_size(newtComponent form)
{
    auto found = window_of(form);
    int columns = 0;
    int rows = 0;
    if (found == windows.end() || !terminal_size_now(columns, rows))
        return false;
    return (columns != found->columns || rows != found->rows) && columns >= kMinScreenColumns &&
           rows >= kMinScreenRows;
}
