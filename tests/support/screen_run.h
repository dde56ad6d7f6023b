// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// One screen routine run by the screen driver in a real terminal.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/package_fixture.h"
#include "support/process.h"
#include "support/terminal.h"

class ScreenRun {
public:
    explicit ScreenRun(int cols = 80, int rows = 24) : term(cols, rows) {}

    // Starts the driver with `args` (routine name first).
    void start(const std::vector<std::string> &args, std::vector<std::string> env = {})
    {
        std::string command = sh_quote(SCREEN_DRIVER);
        for (const std::string &arg : args)
            command += " " + sh_quote(arg);
        env.push_back("SCREEN_DRIVER_RESULT=" + dir / "result");
        env.push_back("SCREEN_DRIVER_LOG=" + dir / "log");
        bool has_lang = false;
        for (const std::string &entry : env)
            has_lang = has_lang || entry.rfind("LANG=", 0) == 0;
        if (!has_lang)
            env.push_back("LANG=C.UTF-8");
        // Every byte the driver writes to its terminal, as written.
        if (record)
            command = "script -q -e -c " + sh_quote(command) + " " + sh_quote(dir / "written");
        term.start(command, env);
    }

    // Whether start() keeps the bytes written (in written()).
    bool record = false;
    std::string written() const { return read_file(dir / "written"); }

    // Waits for the driver to end; its report ("RESULT=n\n..."), or "" when
    // it did not end in time.
    std::string finish()
    {
        status = term.wait_exit();
        return read_file(dir / "result");
    }

    std::string log() const { return read_file(dir / "log"); }

    Terminal term;
    TempDir dir;
    int status = -1;
};

// Every window on the screen lies between the header (the top row) and the
// help line (the bottom row): neither holds any of a frame's characters.
inline void expect_between_header_and_help_line(const Terminal &term, int rows)
{
    const std::vector<std::string> lines = term.rows();
    for (int row : {0, rows - 1}) {
        // Frame characters are U+2500 to U+257F: E2 94 xx and E2 95 xx.
        const std::string &line = lines[static_cast<std::size_t>(row)];
        EXPECT_EQ(line.find("\xe2\x94"), std::string::npos) << "row " << row << " of " << rows << ":\n" << term.screen();
        EXPECT_EQ(line.find("\xe2\x95"), std::string::npos) << "row " << row << " of " << rows << ":\n" << term.screen();
    }
}
