// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "core/text_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>

#include "core/text.h"
#include "screen/scrolling_text.h"
#include "support/process.h"

namespace {

int open_text(const TempDir &dir, const std::string &content)
{
    write_file(dir / "text", content);
    return ::open((dir / "text").c_str(), O_RDONLY | O_CLOEXEC);
}

std::vector<std::string> whole_rows(const std::string &text, int width)
{
    const std::string flowed = reflow_text(screen_text(unix_line_ends(text)), width, 0, 0).text;
    std::vector<std::string> rows;
    std::size_t start = 0;
    while (start < flowed.size()) {
        const std::size_t end = flowed.find('\n', start);
        rows.push_back(flowed.substr(start, end == std::string::npos ? std::string::npos : end - start));
        start = end == std::string::npos ? flowed.size() : end + 1;
    }
    return rows;
}

} // namespace

TEST(TextFile, WhatIsNoTextToShow)
{
    TempDir dir;
    const std::string big(300000, 'x');
    const std::pair<std::string, std::string> rows[] = {
        {"", "it is empty"},
        {"Licence\n", ""},
        {"\xef\xbb\xbfUTF-8 with its mark\n", ""},
        {"Latin-1 \xe4\n", ""},
        {std::string("a\0b\n", 4), "it holds a NUL byte: it is not text"},
        {big + std::string(1, '\0'), "it holds a NUL byte: it is not text"},
        {std::string("\xff\xfeT\0", 4), "it is UTF-16 or UTF-32 text, not UTF-8"},
        {std::string("\xfe\xff\0T", 4), "it is UTF-16 or UTF-32 text, not UTF-8"},
        {std::string("\xff\xfe\0\0T\0\0\0", 8), "it is UTF-16 or UTF-32 text, not UTF-8"},
    };
    for (const auto &[content, problem] : rows) {
        const int fd = open_text(dir, content);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(text_file_problem(fd), problem) << content.substr(0, 40);
        ::close(fd);
    }
}

// A file read as it is shown gives the rows of the whole text wrapped at
// once, from any row on; a line longer than a paragraph loses no byte.
TEST(TextFile, RowsAreTheWholeTextWrapped)
{
    TempDir dir;
    std::string words;
    for (int i = 0; i < 300; ++i)
        words += "word" + std::to_string(i) + " ";
    std::string numbered;
    for (int i = 1; i <= 5000; ++i)
        numbered += "licence line " + std::to_string(i) + (i % 7 == 0 ? "\n\n" : "\n");
    const std::string texts[] = {
        "a\nb\n", "no final line feed", "\n\nblank lines first and last\n\n", "Column\tA\tB\n\tindented\n",
        "Windows\r\nline ends\r\n", "a lone\rcarriage return\n", words + "\n" + words, numbered,
        "Bell\a and C1 \xc2\x85 and RLO \xe2\x80\xae end\n"};
    for (const std::string &text : texts) {
        for (int width : {64, 20}) {
            SCOPED_TRACE(text.substr(0, 30) + " at " + std::to_string(width));
            WrappedFile file(open_text(dir, text));
            file.wrap(width);
            const std::vector<std::string> whole = whole_rows(text, width);
            ASSERT_EQ(file.rows(), static_cast<int>(whole.size()));
            for (int top : {0, 1, 63, 64, 65, 500, file.rows() - 3}) {
                if (top < 0 || top >= file.rows())
                    continue;
                const std::vector<std::string> expected(whole.begin() + top,
                                                        whole.begin() + std::min<int>(top + 12, file.rows()));
                EXPECT_EQ(file.rows_from(top, 12), expected) << top;
                // The line that shows a row starts at or before it, and
                // within the same line of the text.
                const int first = file.row_of(file.paragraph_of(top));
                EXPECT_LE(first, top);
                EXPECT_GT(first, top - (width == 20 ? 200 : 100));
            }
        }
    }
    // Lines far longer than a paragraph, cut between characters.
    std::string long_line;
    while (long_line.size() < 3 * kParagraphMax)
        long_line += "\xc3\xa4\xc3\xb6\xc3\xbc words ";
    WrappedFile file(open_text(dir, long_line + "\nend\n"));
    file.wrap(64);
    std::string shown;
    for (const std::string &row : file.rows_from(0, file.rows()))
        shown += row;
    auto without_blanks = [](std::string text) {
        std::erase(text, ' ');
        std::erase(text, '\n');
        return text;
    };
    EXPECT_EQ(without_blanks(shown), without_blanks(long_line + "end"));
}
