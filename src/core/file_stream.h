// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// An owned stdio stream, closed when it goes out of scope.
#pragma once

#include <cstdio>
#include <memory>

struct StreamClose {
    void operator()(std::FILE *stream) const { std::fclose(stream); }
};
using file_stream = std::unique_ptr<std::FILE, StreamClose>;
