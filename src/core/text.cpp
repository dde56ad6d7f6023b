// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "core/text.h"

#include <cstdio>
#include <vector>

std::string vstrprintf(const char *format, va_list args)
{
    va_list again;
    va_copy(again, args);
    char small[512];
    int needed = std::vsnprintf(small, sizeof small, format, args);
    if (needed < 0) {
        va_end(again);
        return {};
    }
    if (static_cast<std::size_t>(needed) < sizeof small) {
        va_end(again);
        return std::string(small, static_cast<std::size_t>(needed));
    }
    std::vector<char> big(static_cast<std::size_t>(needed) + 1);
    std::vsnprintf(big.data(), big.size(), format, again);
    va_end(again);
    return std::string(big.data(), static_cast<std::size_t>(needed));
}

std::string strprintf(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::string result = vstrprintf(format, args);
    va_end(args);
    return result;
}

std::size_t decode_utf8(std::string_view text, unsigned &code)
{
    if (text.empty())
        return 0;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned lead = byte(0);
    std::size_t length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 0;
    if (length == 0 || length > text.size())
        return 0;
    code = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte(i) & 0x3F);
    }
    static const unsigned kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

std::string cut_text(std::string text, std::size_t max)
{
    if (text.size() > max)
        text.resize(max);
    return text;
}

std::string strprintf_cut(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::string result = vstrprintf(format, args);
    va_end(args);
    return cut_text(std::move(result));
}

bool is_shell_safe(std::string_view text)
{
    if (text.empty())
        return false;
    for (char c : text) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '_' || c == '-' || c == '.' || c == '/' || c == ',' || c == ':' ||
                  c == '+' || c == '=' || c == '@' || c == '%';
        if (!ok)
            return false;
    }
    return true;
}

std::string shell_quote(std::string_view text)
{
    if (is_shell_safe(text))
        return std::string(text);
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    quoted += '\'';
    return quoted;
}

bool is_invisible_format(unsigned code)
{
    // Unicode's format characters (general category Cf) and the line and
    // paragraph separators (Zl, Zp).
    static constexpr unsigned kRanges[][2] = {
        {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},   {0x070F, 0x070F},
        {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x180E, 0x180E},   {0x200B, 0x200F},   {0x2028, 0x202E},
        {0x2060, 0x2064},   {0x2066, 0x206F},   {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD},
        {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001},
        {0xE0020, 0xE007F},
    };
    for (const auto &range : kRanges) {
        if (code >= range[0] && code <= range[1])
            return true;
    }
    return false;
}

std::string blank_invisible_formats(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        unsigned code = 0;
        std::size_t length = decode_utf8(text, code);
        if (length == 0) {
            out += text[0];
            text.remove_prefix(1);
            continue;
        }
        if (is_invisible_format(code))
            out += ' ';
        else
            out.append(text.substr(0, length));
        text.remove_prefix(length);
    }
    return out;
}

std::string screen_text(std::string_view text)
{
    text = text.substr(0, text.find('\0'));
    std::string out;
    out.reserve(text.size());
    std::size_t column = 0;
    while (!text.empty()) {
        unsigned code = 0;
        std::size_t length = decode_utf8(text, code);
        if (length == 0) {
            out += ' ';
            ++column;
            text.remove_prefix(1);
            continue;
        }
        if (code == '\n') {
            out += '\n';
            column = 0;
        } else if (code == '\t') {
            const std::size_t stop = (column / 8 + 1) * 8;
            out.append(stop - column, ' ');
            column = stop;
        } else if (code < 0x20 || (code >= 0x7F && code < 0xA0) || is_invisible_format(code)) {
            out += ' ';
            ++column;
        } else {
            out.append(text.substr(0, length));
            ++column;
        }
        text.remove_prefix(length);
    }
    return out;
}

std::string unix_line_ends(std::string text)
{
    std::size_t kept = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        text[kept++] = text[i];
    }
    text.resize(kept);
    return text;
}
