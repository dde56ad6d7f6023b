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
};

std::vector<OpenWindow> windows;

// What a widget above the stack places anew when a window is drawn.
void (*drawn_hook)(newtComponent form) = nullptr;

// Rows a screen keeps beside a window: the header line and the help line.
constexpr int kScreenLines = 2;

// The size of the terminal `window` needs to be drawn whole: its frame
// (with a blank column and row inside) around its grid, and the shadow
// below it, beside the header and the help line.
void size_needed(const OpenWindow &window, int &columns, int &rows)
{
    int width = 0;
    int height = 0;
    newtGridGetSize(window.grid, &width, &height);
    auto *begin = reinterpret_cast<SLuchar_Type *>(const_cast<char *>(window.title.data()));
    const int title = static_cast<int>(SLsmg_strwidth(begin, begin + window.title.size())) + 2;
    columns = std::max(width, title) + 2 + 2;
    rows = height + 2 + 2 + 1 + kScreenLines;
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

void draw(OpenWindow &window)
{
    window.on_screen = true;
    drop_pending_keys();
    newtGridWrappedWindow(window.grid, window.title.data());
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
    // (A window under it that is on the screen but no longer fits it
    // comes off: the dialog it belongs to was left for this one.)
    if (windows_fit() && !terminal_size_changed() &&
        std::all_of(windows.begin(), windows.end() - 1,
                    [](const OpenWindow &w) { return !w.on_screen || fits_now(w); })) {
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
