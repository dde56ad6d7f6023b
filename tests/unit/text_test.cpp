// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "core/text.h"

#include <gtest/gtest.h>

#include <random>

#include "support/process.h"

TEST(ShellQuote, SafeTextComesBackUnchanged)
{
    for (const char *safe : {"sdk", "/var/log/kestrane-sdk-install.log", "data/lib_deps", "a,b", "x=1", "user@host:/p%",
                             "Manifest"})
        EXPECT_EQ(shell_quote(safe), safe);
}

TEST(ShellQuote, AnythingElseIsOneQuotedWord)
{
    EXPECT_EQ(shell_quote(""), "''");
    EXPECT_EQ(shell_quote("my log"), "'my log'");
    EXPECT_EQ(shell_quote("a;rm -rf /"), "'a;rm -rf /'");
    EXPECT_EQ(shell_quote("it's"), "'it'\\''s'");
    // The shell would expand a leading tilde to a home directory.
    EXPECT_EQ(shell_quote("~"), "'~'");
    EXPECT_EQ(shell_quote("~root/sdk"), "'~root/sdk'");
    EXPECT_EQ(run_process({"/bin/sh", "-c", "printf %s " + shell_quote("~root/sdk")}).out, "~root/sdk");
}

// For random texts the shell receives exactly the original text as one
// argument.
TEST(ShellQuote, ShellSeesTheOriginalText)
{
    std::mt19937 random(20261207);
    const std::string alphabet = std::string("ab ,;'\"$`\\\n\t*?[]{}()<>|&!#~=%-_./") + "\xc3\xa4\xff\x80";
    std::string script = "for a; do printf '%s\\0' \"$a\"; done";
    std::vector<std::string> texts;
    std::string command = script;
    std::string words;
    for (int i = 0; i < 200; ++i) {
        std::string text;
        int length = static_cast<int>(random() % 12);
        for (int j = 0; j < length; ++j)
            text += alphabet[random() % alphabet.size()];
        texts.push_back(text);
        words += " " + shell_quote(text);
    }
    ProcessResult result = run_process({"/bin/sh", "-c", "set --" + words + "; " + script});
    std::string expected;
    for (const std::string &text : texts)
        expected += text + '\0';
    EXPECT_EQ(result.out, expected);
}

TEST(TextCut, CutsAt4095Characters)
{
    EXPECT_EQ(cut_text(std::string(5000, 'x')).size(), 4095u);
    EXPECT_EQ(cut_text("short"), "short");
    EXPECT_EQ(strprintf_cut("%s", std::string(9000, 'y').c_str()).size(), 4095u);
    EXPECT_EQ(strprintf("%d-%s", 42, std::string(3000, 'z').c_str()).size(), 3003u);
    // Around the formatter's first buffer of 512 bytes: every text whole.
    for (std::size_t length : {511u, 512u, 513u}) {
        std::string text = std::string(length - 1, 'w') + "E";
        EXPECT_EQ(strprintf("%s", text.c_str()), text) << length;
        EXPECT_EQ(strprintf_cut("%s", text.c_str()), text) << length;
    }
    EXPECT_EQ(cut_text(std::string(4095, 'c')).size(), 4095u);
    EXPECT_EQ(cut_text(std::string(4096, 'c')).size(), 4095u);
}

// One UTF-8 sequence: its length and code point, or 0 for what is not one,
// judged by the bytes in view alone (never those that follow it).
TEST(DecodeUtf8, LengthAndCodePointOrZero)
{
    const std::string text = "a\xc3\xbc\xe4\xb8\xad\xf0\x9f\x98\x80";
    struct Case {
        std::string_view bytes;
        std::size_t length;
        unsigned code;
    };
    const Case cases[] = {
        {std::string_view(text).substr(0, 1), 1, 'a'},
        {std::string_view(text).substr(1), 2, 0xFC},
        {std::string_view(text).substr(3), 3, 0x4E2D},
        {std::string_view(text).substr(6), 4, 0x1F600},
        {std::string_view(text).substr(3, 2), 0, 0},  // cut: its last byte is out of view
        {std::string_view(text).substr(4), 0, 0},     // a continuation byte alone
        {"\xc0\xaf", 0, 0},                           // overlong
        {"\xed\xa0\x80", 0, 0},                       // a surrogate
        {"\xf4\x90\x80\x80", 0, 0},                   // beyond U+10FFFF
        {"\xc3\x28", 0, 0},                           // not followed by a continuation byte
        {"", 0, 0},
    };
    for (const Case &c : cases) {
        unsigned code = 0;
        const std::size_t length = decode_utf8(c.bytes, code);
        EXPECT_EQ(length, c.length) << testing::PrintToString(std::string(c.bytes));
        if (c.length != 0) {
            EXPECT_EQ(code, c.code) << testing::PrintToString(std::string(c.bytes));
        }
    }
}

// What the screen shows of a text: every control and byte that is no
// character one blank, a tab to the next stop of eight, a character one
// column however many bytes it takes, nothing from a NUL on.
TEST(ScreenText, EachColumnShownAsOneCharacter)
{
    const std::pair<std::string, std::string> cases[] = {
        {"a\tb", "a       b"},
        {"\xff\tb", "        b"},
        {"\xc3\xbc\tb", "\xc3\xbc       b"},
        {"a\x1b[1m\x7f\xc2\x85" "b", "a [1m  b"},
        {"a\nb\tc", "a\nb       c"},
        {std::string("x\0y", 3), "x"},
    };
    for (const auto &[text, shown] : cases)
        EXPECT_EQ(screen_text(text), shown) << testing::PrintToString(text);
}
