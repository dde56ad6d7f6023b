// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// Small text helpers used across the installer: printf-style formatting
// into std::string, the explicit 4095-character cut, message catalogue
// lookup and the shell-quoting helper.
#pragma once

#include <libintl.h>

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

#define _(text) gettext(text) // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): the catalogue lookup's customary name
#define N_(text) text

// Texts composed into the classic 4096-byte buffers hold at most this many
// characters.
inline constexpr std::size_t kTextMax = 4095;

std::string vstrprintf(const char *format, va_list args) __attribute__((format(printf, 1, 0)));
std::string strprintf(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Cuts `text` to at most `max` characters.
std::string cut_text(std::string text, std::size_t max = kTextMax);

// printf-style formatting followed by the cut to `kTextMax` characters.
std::string strprintf_cut(const char *format, ...) __attribute__((format(printf, 1, 2)));

// The length of the UTF-8 sequence that `text` starts with and its code
// point; 0 when the bytes there are not one (a stray, overlong or cut
// sequence, a surrogate, or beyond U+10FFFF).
std::size_t decode_utf8(std::string_view text, unsigned &code);

// True for the characters that change how the text around them is shown
// without showing anything themselves: Unicode's format characters
// (bidirectional embeddings, overrides and isolates, zero-width characters,
// the byte-order mark, ...) and its line and paragraph separators. Text a
// back end printed must not carry them to the screen: it could reorder or
// hide what the administrator reads.
bool is_invisible_format(unsigned code);

// `text` with every such character (as UTF-8) replaced by a blank; every
// other byte as it is.
std::string blank_invisible_formats(std::string_view text);

// `text` as a window may show it (a licence file, as it stands): it ends at
// a NUL, as any C string shown on screen does; invisible format characters,
// controls (all of C0 but the line feed, DEL, C1) and
// bytes that are not UTF-8 each become one blank, so that what is shown is
// what is measured; a tab becomes the blanks up to the next column that is
// a multiple of 8.
std::string screen_text(std::string_view text);

// `text` with every CR LF line end (as a file written on Windows has them)
// made a line feed.
std::string unix_line_ends(std::string text);

// True when `text` can stand on a shell command line as one word unquoted.
bool is_shell_safe(std::string_view text);

// Shell-safe text comes back byte for byte; anything else is single-quoted so
// that the shell sees exactly the original text as one word.
std::string shell_quote(std::string_view text);
