// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// Stream utilities of the text dialogs and the command runner.
#pragma once

#include <cstdio>
#include <string>

// All lines of the stream from its start, leading blanks removed, each
// followed by one more line feed.
std::string readTrimmedLines(std::FILE *file);
// Exchanges what the two descriptors refer to.
void swapfd(int fd1, int fd2);
