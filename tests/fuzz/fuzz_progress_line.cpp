// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// The progress-line handling of the reader: percentage, scaling, message
// and capture.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "exec/progress_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    progress_data record;
    record.num_parts = static_cast<signed char>(data[0]);
    record.part = static_cast<signed char>(data[1]);
    std::size_t capture_size = data[2];
    std::string_view line(reinterpret_cast<const char *>(data + 3), size - 3);
    if (line.size() > 4095)
        line = line.substr(0, 4095);

    progress_line parsed = parse_progress_line(line);
    apply_progress_line(&record, line);
    if (parsed.is_progress) {
        // The bar's figure: the run's percentage held to 0..100, then scaled.
        if (record.progress != scale_progress(std::clamp(parsed.percent, 0, 100), record.num_parts, record.part))
            std::abort();
        if (std::strlen(record.message) != parsed.message.size() || parsed.message != record.message)
            std::abort();
    }
    if (std::strlen(record.message) >= sizeof record.message)
        std::abort();

    std::string captured;
    capture_output(captured, capture_size, line);
    capture_output(captured, capture_size, line);
    if (capture_size > 0 && captured.size() > capture_size - 1)
        std::abort();
    return 0;
}
