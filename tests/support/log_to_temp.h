// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// Points the installer log at a fresh temporary file for one test.
#pragma once

#include <optional>
#include <string>

#include "core/run_state.h"
#include "support/process.h"

struct LogToTemp {
    TempDir dir;
    std::optional<std::string> saved = log_path;
    LogToTemp() { log_path = dir / "install.log"; }
    ~LogToTemp() { log_path = saved; }
    LogToTemp(const LogToTemp &) = delete;
    LogToTemp &operator=(const LogToTemp &) = delete;
    std::string log() const { return read_file(dir / "install.log"); }
};
