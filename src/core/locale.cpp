// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "core/locale.h"

#include <langinfo.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

void settle_locale()
{
    std::setlocale(LC_ALL, "");
    if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) {
        std::setlocale(LC_MESSAGES, "C");
        std::setlocale(LC_CTYPE, "C");
    }
}

void drop_loader_variables(char **argv, bool start_again)
{
    static const char *const kLoaderVariables[] = {"LD_LIBRARY_PATH", "LD_PRELOAD", "LD_AUDIT", "GCONV_PATH",
                                                   "OUTPUT_CHARSET"};
    bool found = false;
    for (const char *name : kLoaderVariables) {
        if (std::getenv(name) != nullptr) {
            found = true;
            ::unsetenv(name);
        }
    }
    if (!found || !start_again || argv == nullptr || argv[0] == nullptr)
        return;
    ::execve("/proc/self/exe", argv, environ);
    // No /proc: the variables are gone from the environment at least, and
    // with them everything that would have made the library load a module.
}
