// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "exec/terminal_line.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string times(const std::string &text, int n)
{
    std::string out;
    for (int i = 0; i < n; ++i)
        out += text;
    return out;
}

} // namespace

// What the live progress line puts on the terminal for a back-end line:
// letters of any script as they are, every control and every byte that is
// not UTF-8 as a blank, cut by display columns to the limit, never within a
// character.
TEST(TerminalLine, ExactTextForEveryKindOfMessage)
{
    const std::string wide = "\xe4\xb8\xad"; // one CJK character, two columns
    struct Case {
        int percent;
        std::string message;
        std::size_t limit;
        std::string text;
        std::size_t columns;
    };
    const Case cases[] = {
        {5, "Copying", 79, "  5% Copying", 12},
        {100, "Done   ", 79, "100% Done", 9},
        {0, "", 79, "  0%", 4},
        {50, "Gr\xc3\xbc\xc3\x9f" "e aus K\xc3\xb6ln", 79, " 50% Gr\xc3\xbc\xc3\x9f" "e aus K\xc3\xb6ln", 19},
        {50, "e\xcc\x81t\xc3\xa9", 79, " 50% e\xcc\x81t\xc3\xa9", 8},
        {50, "a\tb\x1b[2Jc\r\x7f" "d", 79, " 50% a b [2Jc  d", 16},
        {50, "a\x9b" "2J\x85x", 79, " 50% a 2J x", 11},
        {50, "a\xc2\x9b" "2J\xc2\x80\xc2\x9fx", 79, " 50% a 2J  x", 12},
        {50, "\xff\xfe|\xc0\xaf|\xed\xa0\x80|ab\xe4\xb8", 79, " 50%   |  |   |ab  ", 19},
        {40, times(wide, 30), 39, " 40% " + times(wide, 17), 39},
        {40, times(wide, 30), 38, " 40% " + times(wide, 16), 37},
        {40, "ab" + times(wide, 30), 39, " 40% ab" + times(wide, 16), 39},
        {40, std::string(100, 'x'), 39, " 40% " + std::string(34, 'x'), 39},
        {100, "Done", 3, "100", 3},
        // Invisible format characters that would reorder or hide the text
        // around them: a right-to-left override and its end, a zero-width
        // space, a byte-order mark, a line separator.
        {50, "a\xe2\x80\xae" "b\xe2\x80\xac" "c\xe2\x80\x8b" "d\xef\xbb\xbf" "e\xe2\x80\xa8" "f", 79,
         " 50% a b c d e f", 16},
    };
    for (const Case &c : cases) {
        std::size_t columns = 0;
        EXPECT_EQ(terminal_line_text(c.percent, c.message, c.limit, columns), c.text) << c.message;
        EXPECT_EQ(columns, c.columns) << c.message;
    }
}
