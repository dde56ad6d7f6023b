// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// Reading a report back as trimmed lines, and its text-box layout.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/file_stream.h"
#include "core/streams.h"
#include "dialogs/text_dialogs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    file_stream stream(std::tmpfile());
    if (!stream)
        return 0;
    std::fwrite(data, 1, size, stream.get());
    std::string text = readTrimmedLines(stream.get());
    if (size > 0 && text.empty())
        std::abort();
    if (!text.empty() && text.back() != '\n')
        std::abort();
    std::string laid_out = layout_report_text(text);
    if (laid_out.size() != text.size())
        std::abort();
    for (std::size_t i = 0; i + 1 < laid_out.size(); ++i) {
        if (laid_out[i] == '\n' && laid_out[i + 1] == '\n')
            std::abort();  // every doubled line end was turned into a blank
    }
    return 0;
}
