// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "core/locale.h"

#include <langinfo.h>

#include <clocale>
#include <cstring>

void settle_locale()
{
    std::setlocale(LC_ALL, "");
    if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) {
        std::setlocale(LC_MESSAGES, "C");
        std::setlocale(LC_CTYPE, "C");
    }
}
