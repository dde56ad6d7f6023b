// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "core/streams.h"

#include <unistd.h>

std::string readTrimmedLines(std::FILE *file)
{
    std::rewind(file);
    std::string text;
    text.reserve(4096);
    std::string line;
    int c = 0;
    while (true) {
        line.clear();
        while ((c = std::getc(file)) != EOF) {
            line.push_back(static_cast<char>(c));
            if (c == '\n')
                break;
        }
        if (line.empty())
            break;
        std::size_t start = line.find_first_not_of(" \t");
        if (start != std::string::npos)
            text.append(line, start, std::string::npos);
        text.push_back('\n');
        if (c == EOF)
            break;
    }
    return text;
}

void swapfd(int fd1, int fd2)
{
    int saved = dup(fd1);
    dup2(fd2, fd1);
    if (saved >= 0) {
        dup2(saved, fd2);
        ::close(saved);
    }
}
