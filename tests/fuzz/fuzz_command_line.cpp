// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// The command-line parser: the arguments are the input's NUL-separated
// pieces.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/run_state.h"
#include "driver/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<std::string> words = {"install"};
    std::string current;
    for (std::size_t i = 0; i < size && words.size() < 64; ++i) {
        if (data[i] == 0) {
            words.push_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    if (!current.empty())
        words.push_back(current);
    std::vector<const char *> argv;
    for (const std::string &word : words)
        argv.push_back(word.c_str());
    argv.push_back(nullptr);

    unattended_install = unattended_remove = unattended = force_mode = help = show_version = 0;
    log_path.reset();
    CommandLineOutcome outcome = parse_command_line(static_cast<int>(words.size()), argv.data());
    if (outcome.error == CommandLineError::None) {
        if (unattended_install && unattended_remove)
            std::abort();
        if (unattended != (unattended_install || unattended_remove))
            std::abort();
        if (log_path && log_path->size() > kLogPathMax)
            std::abort();
    }
    return 0;
}
