// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "core/text_file.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "core/text.h"

namespace {

constexpr std::size_t kBlock = std::size_t{256} * 1024;

} // namespace

std::string text_file_problem(int fd)
{
    std::string block(kBlock, '\0');
    off_t at = 0;
    while (true) {
        const ssize_t got = ::pread(fd, block.data(), block.size(), at);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return std::strerror(errno);
        }
        if (got == 0)
            return at == 0 ? _("it is empty") : std::string();
        const std::string_view read(block.data(), static_cast<std::size_t>(got));
        if (at == 0 && read.size() >= 2 && (read.substr(0, 2) == "\xff\xfe" || read.substr(0, 2) == "\xfe\xff"))
            return _("it is UTF-16 or UTF-32 text, not UTF-8");
        if (read.find('\0') != std::string_view::npos)
            return _("it holds a NUL byte: it is not text");
        at += got;
    }
}

Paragraphs::Paragraphs(int fd, off_t from) : fd_(fd), block_at_(from) {}

bool Paragraphs::fill()
{
    if (ended_)
        return false;
    // What is left moves to the front; the block grows by one read.
    block_.erase(0, used_);
    block_at_ += static_cast<off_t>(used_);
    used_ = 0;
    const std::size_t had = block_.size();
    block_.resize(had + kBlock);
    ssize_t got = 0;
    do
        got = ::pread(fd_, block_.data() + had, kBlock, block_at_ + static_cast<off_t>(had));
    while (got < 0 && errno == EINTR);
    block_.resize(had + static_cast<std::size_t>(got > 0 ? got : 0));
    ended_ = got <= 0;
    return got > 0;
}

bool Paragraphs::next(std::string &paragraph, off_t &at)
{
    while (true) {
        const std::string_view rest = std::string_view(block_).substr(used_);
        const std::size_t end = rest.substr(0, kParagraphMax).find('\n');
        std::size_t length = 0;
        if (end != std::string_view::npos) {
            length = end + 1;
        } else if (rest.size() < kParagraphMax && !ended_) {
            fill(); // then looked at anew, or at the end
            continue;
        } else if (rest.empty()) {
            return false;
        } else {
            // A line too long for one paragraph (or the last, without its
            // line feed): cut before a character (UTF-8 has at most three
            // continuation bytes), and not between a CR and its line feed.
            length = std::min(rest.size(), kParagraphMax);
            for (int back = 0; back < 3 && length > 1 && length < rest.size() &&
                               (static_cast<unsigned char>(rest[length]) & 0xC0) == 0x80;
                 ++back)
                --length;
            if (length > 1 && length < rest.size() && rest[length - 1] == '\r')
                --length;
        }
        paragraph.assign(rest.substr(0, length));
        at = block_at_ + static_cast<off_t>(used_);
        used_ += length;
        return true;
    }
}
