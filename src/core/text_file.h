// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// Text files read as they are shown, a paragraph at a time, whatever their
// length: the licence.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

// The most bytes of one paragraph read at once: a longer line is read as
// several paragraphs, each cut before a character, never inside one.
inline constexpr std::size_t kParagraphMax = 65535;

// Why the regular file open on `fd` is no text to show, as a phrase for
// "… cannot be shown: PHRASE" (translated); "" when it is one. Read whole,
// from its start: empty, a NUL byte (a binary file), a UTF-16 or UTF-32
// byte-order mark, or a read that fails.
std::string text_file_problem(int fd);

// The paragraphs of the file open on `fd` from the offset `from` on: each
// up to and with its line feed, or kParagraphMax bytes of a longer line.
// Read through the descriptor in large blocks; the descriptor is not
// owned.
class Paragraphs {
public:
    Paragraphs(int fd, off_t from);
    // The next paragraph and its offset; false at the end of the file (or
    // when it cannot be read further).
    bool next(std::string &paragraph, off_t &at);

private:
    bool fill();
    int fd_;
    off_t block_at_;    // the file offset of block_[0]
    std::string block_; // bytes read and not yet given out, from used_ on
    std::size_t used_ = 0;
    bool ended_ = false;
};
