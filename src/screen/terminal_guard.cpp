// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "screen/terminal_guard.h"

#include <fcntl.h>
#include <newt.h>
#include <slang.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "core/fatal_signals.h"
#include "core/locale.h"
#include "core/run_state.h"
#include "core/text.h"

namespace {

// The terminal the screen library reads keys from: standard input when it
// is a terminal, otherwise the process's controlling terminal. -1 when
// there is none; a descriptor of our own is left open for the handler.
int key_terminal()
{
    if (::isatty(STDIN_FILENO) == 1)
        return STDIN_FILENO;
    return ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
}

int screen_tty_fd = -1;

// The size the screen was last drawn for, and the header line.
int known_columns = 0;
int known_rows = 0;
std::string header_text;

bool terminal_size(int &columns, int &rows)
{
    struct winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0)
        return false;
    columns = size.ws_col;
    rows = size.ws_row;
    return true;
}

} // namespace

std::string screen_unusable_reason()
{
    // Keys come from standard input or, when that is redirected, from the
    // controlling terminal, as the screen library does it.
    int keys = key_terminal();
    if (keys < 0)
        return _("standard input is not a terminal");
    if (keys != STDIN_FILENO)
        ::close(keys);
    if (!isatty(STDOUT_FILENO))
        return _("standard output is not a terminal");
    const char *term = std::getenv("TERM");
    if (term == nullptr || term[0] == '\0')
        return _("the terminal type (TERM) is not set");
    // The terminal database as the screen library itself searches it
    // (TERMINFO, TERMINFO_DIRS, its compiled-in directories); a type it
    // does not know, or one that cannot address the cursor, cannot carry
    // the screen.
    std::string type = term; // the library's declaration takes a modifiable text
    if (SLtt_initialize(type.data()) != 0)
        return strprintf(_("the terminal type '%s' is not supported"), term);
    // A terminal that does not tell its size gets the library's default
    // size, which is large enough.
    int columns = 0;
    int rows = 0;
    if (terminal_size(columns, rows) && (columns < kMinScreenColumns || rows < kMinScreenRows))
        return strprintf(_("the terminal has %d columns and %d rows, and the screens need at least %d columns and "
                           "%d rows"),
                         columns, rows, kMinScreenColumns, kMinScreenRows);
    return {};
}

bool start_screen()
{
    arm_fatal_signals();
    if (screen_tty_fd < 0)
        screen_tty_fd = key_terminal();
    termios saved{};
    if (screen_tty_fd >= 0 && tcgetattr(screen_tty_fd, &saved) == 0)
        note_screen_terminal(screen_tty_fd, &saved);
    if (newtInit() != 0) {
        note_screen_terminal(-1, nullptr);
        return false;
    }
    // The screen library took the locale from the environment again.
    settle_locale();
    newtCls();
    terminal_size(known_columns, known_rows);
    innewt = 1;
    return true;
}

namespace {

// Counts the times the screen was cleared for a new size: a window laid
// out before is no longer on it.
int generation = 0;

// The screen library takes the terminal's new size; what was drawn is gone.
void take_size(int columns, int rows)
{
    known_columns = columns;
    known_rows = rows;
    ++generation;
    SLtt_get_screen_size();
    SLsmg_reinit_smg();
}

// The columns `text` takes on the terminal.
int text_columns(std::string_view text)
{
    int columns = 0;
    for (std::size_t i = 0; i < text.size();) {
        unsigned code = 0;
        std::size_t length = decode_utf8(text.substr(i), code);
        columns += length == 0 || code < 0x80 ? 1 : std::max(0, SLwchar_wcwidth(code));
        i += length == 0 ? 1 : length;
    }
    return columns;
}

void draw_header_line(int columns)
{
    if (header_text.empty())
        return;
    // Too wide for the terminal, the header drops its last part (the
    // maker's notice after " - ") rather than the end of the product's
    // name.
    std::string shown = header_text;
    const std::size_t notice = shown.rfind(" - ");
    if (text_columns(shown) > columns && notice != std::string::npos)
        shown.resize(notice);
    newtDrawRootText(0, 0, shown.c_str());
}

void clear_for_size(int columns, int rows)
{
    take_size(columns, rows);
    newtCls();
    draw_header_line(columns);
    newtRedrawHelpLine();
    newtRefresh();
}

} // namespace

void follow_terminal_size()
{
    int columns = 0;
    int rows = 0;
    if (!innewt || !terminal_size(columns, rows) || (columns == known_columns && rows == known_rows))
        return;
    clear_for_size(columns, rows);
}

bool terminal_size_changed()
{
    int columns = 0;
    int rows = 0;
    return innewt && terminal_size(columns, rows) && (columns != known_columns || rows != known_rows);
}

bool terminal_size_now(int &columns, int &rows)
{
    return terminal_size(columns, rows);
}

void show_size_notice(int columns_needed, int rows_needed)
{
    int columns = 0;
    int rows = 0;
    if (!innewt || !terminal_size(columns, rows))
        return;
    take_size(columns, rows);
    SLsmg_cls();
    // One short line, wrapped at the width when it is wider: the size
    // needed, the size now.
    std::string line =
        strprintf(_("Terminal too small: %dx%d needed, %dx%d now"), columns_needed, rows_needed, columns, rows);
    SLsmg_write_wrapped_string(reinterpret_cast<SLuchar_Type *>(line.data()), 0, 0, static_cast<unsigned>(rows),
                               static_cast<unsigned>(columns), 0);
    SLsmg_refresh();
}

bool drop_pending_keys()
{
    bool redraw = false;
    while (SLang_input_pending(0) > 0)
        redraw = SLang_getkey() == kRedrawKey || redraw;
    return redraw;
}

int screen_generation()
{
    return generation;
}

void redraw_screen_background()
{
    int columns = known_columns;
    int rows = known_rows;
    if (innewt && !terminal_size(columns, rows)) {
        columns = known_columns;
        rows = known_rows;
    }
    if (innewt)
        clear_for_size(columns, rows);
}

void remember_header(const char *title)
{
    header_text = title != nullptr ? title : "";
}

void draw_header()
{
    int columns = 0;
    int rows = 0;
    newtGetScreenSize(&columns, &rows);
    draw_header_line(columns);
}

void stop_screen()
{
    note_screen_terminal(-1, nullptr);
    newtFinished();
}

void remember_console_levels(const int *levels)
{
    std::string text = strprintf("%d %d %d %d\n", levels[0], levels[1], levels[2], levels[3]);
    note_console_levels(text.c_str(), levels[0] != 0 ? text.size() : 0);
}
