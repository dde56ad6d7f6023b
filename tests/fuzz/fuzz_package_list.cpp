// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// The package-list routines of the installation run.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/text.h"
#include "driver/installation.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string list(reinterpret_cast<const char *>(data), size);
    int empty = check_list_empty(&list);
    int mandatory = check_list_for_mandatory_packages(&list);
    if (mandatory && empty)
        std::abort();  // a list that starts with "m" holds a letter
    // Shown as the list is up to a NUL, but for its controls and invisible
    // format characters (each a blank, tabs to the next stop of 8) and the
    // markers that became dashes.
    const std::string shown = screen_text(list);
    std::string prepared = list;
    if (prepare_output_message(&prepared) != 0 || prepared.size() != shown.size())
        std::abort();
    for (std::size_t i = 0; i < shown.size(); ++i) {
        if (prepared[i] != shown[i] && !(prepared[i] == '-' && (shown[i] == 'm' || shown[i] == 'o')))
            std::abort();
    }
    return 0;
}
