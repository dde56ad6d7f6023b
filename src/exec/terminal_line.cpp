// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "exec/terminal_line.h"

#include <slang.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "core/fatal_signals.h"
#include "core/run_state.h"
#include "core/text.h"

namespace {

struct TerminalLine {
    bool open = false;
    bool erases = false;   // the terminal erases to the end of a line
    std::size_t shown = 0; // columns written by the last update
};

// Erases from the cursor to the end of the screen (ECMA-48 ED), which
// every terminal but a dumb one knows: the line is the last thing shown, so
// this erases the rest of its row and whatever rows a terminal that
// rewraps its lines made of it when it was narrowed. Erased cells hold
// nothing, so such a terminal joins no blanks to the text when it is
// widened; a dumb terminal gets blanks instead.
constexpr const char *kEraseToEnd = "\033[J";

bool terminal_erases()
{
    const char *term = std::getenv("TERM");
    return term != nullptr && *term != '\0' && std::string_view(term) != "dumb";
}

TerminalLine terminal_line;

std::size_t terminal_columns()
{
    struct winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

} // namespace

std::string terminal_line_text(int percent, std::string_view message, std::size_t limit, std::size_t &columns)
{
    std::string text = strprintf("%3d%%", percent);
    while (!message.empty() && message.back() == ' ')
        message.remove_suffix(1);
    if (!message.empty())
        text += ' ';
    if (text.size() > limit)
        text.resize(limit);
    columns = text.size();
    while (!message.empty()) {
        unsigned code = 0;
        std::size_t length = decode_utf8(message, code);
        // Controls of either set, invisible format characters and anything
        // that is not UTF-8 are blanks: they must never reach the terminal.
        int width = 1;
        bool blank = length == 0 || code < 0x20 || code == 0x7F || (code >= 0x80 && code <= 0x9F) ||
                     is_invisible_format(code);
        if (!blank && code >= 0x80) {
            width = SLwchar_wcwidth(code);
            blank = width < 0 || width > 2;
        }
        if (blank)
            width = 1;
        if (columns + static_cast<std::size_t>(width) > limit)
            break;
        if (blank)
            text += ' ';
        else
            text.append(message.substr(0, length));
        columns += static_cast<std::size_t>(width);
        message.remove_prefix(length == 0 ? 1 : length);
    }
    return text;
}

void open_terminal_line()
{
    terminal_line.open = !innewt && ::isatty(STDOUT_FILENO) == 1;
    terminal_line.erases = terminal_erases();
    terminal_line.shown = 0;
    note_progress_line_open(terminal_line.open);
}

void update_terminal_line(int percent, const char *message)
{
    if (!terminal_line.open)
        return;
    // One column less than the terminal is wide (read anew every time: it
    // may have been resized), so that it never wraps; what is left of the
    // last update is erased (or blanked, as far as the terminal is wide
    // now).
    std::size_t columns = 0;
    const std::size_t limit = terminal_columns() - 1;
    std::string line = "\r" + terminal_line_text(percent, message, limit, columns);
    // The cursor waits at the start of the line: where a narrower terminal
    // rewraps the line, that start is where the next update begins.
    if (terminal_line.erases)
        line += kEraseToEnd + std::string("\r");
    else if (const std::size_t blank_to = std::min(terminal_line.shown, limit); blank_to > columns)
        line.append(blank_to - columns, ' ');
    terminal_line.shown = columns;
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

void clear_terminal_line()
{
    if (!terminal_line.open || terminal_line.shown == 0)
        return;
    std::string blank = terminal_line.erases
                            ? std::string("\r") + kEraseToEnd
                            : "\r" + std::string(std::min(terminal_line.shown, terminal_columns() - 1), ' ') + "\r";
    terminal_line.shown = 0;
    std::fwrite(blank.data(), 1, blank.size(), stdout);
    std::fflush(stdout);
}

void close_terminal_line()
{
    if (!terminal_line.open)
        return;
    terminal_line.open = false;
    note_progress_line_open(false);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}
