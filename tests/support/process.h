// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// Running commands from the tests and collecting what they leave behind.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct ProcessResult {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
};

// Runs `argv` with standard input from `input` (empty: /dev/null), in
// `cwd`, with `env` added to the environment ("NAME=value").
ProcessResult run_process(const std::vector<std::string> &argv, const std::string &cwd = "",
                          const std::vector<std::string> &env = {}, const std::string &input = "");

// A process started in the background (a session of its own, standard
// input from /dev/null, its output kept in files), for the tests that act
// on a run while it runs. Killed with everything in its session if the test
// ends first.
class BackgroundProcess {
public:
    BackgroundProcess(const std::vector<std::string> &argv, const std::string &cwd = "",
                      const std::vector<std::string> &env = {});
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess &) = delete;
    BackgroundProcess &operator=(const BackgroundProcess &) = delete;

    int pid() const { return pid_; }
    // Waits for the end: its result, or status -1 on timeout.
    ProcessResult wait(int timeout_ms = 30000);

private:
    int pid_ = -1;
    std::string out_;
    std::string err_;
};

// Waits until `condition` holds, checking every 10 ms; false on timeout.
bool eventually(const std::function<bool()> &condition, int timeout_ms = 15000);

// Runs a shell command line and returns its standard output.
std::string shell_output(const std::string &command);

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &content, unsigned mode = 0644);
bool file_exists(const std::string &path);

// A fresh temporary directory, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};
