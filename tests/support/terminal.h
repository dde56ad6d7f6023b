// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// A real terminal for the tests: a program runs in a tmux pane of a chosen
// size; the test presses keys, reads the screen and waits for screen states
// with a timeout.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "support/process.h"

class Terminal {
public:
    Terminal(int cols = 80, int rows = 24);
    ~Terminal();
    Terminal(const Terminal &) = delete;
    Terminal &operator=(const Terminal &) = delete;

    // Starts `command` (a shell command line) in the pane; started again,
    // in a fresh pane of the same size.
    void start(const std::string &command, const std::vector<std::string> &env = {});

    // Presses keys by their tmux names: "Tab", "Enter", "Escape", "F12",
    // "Down", "Up", "Space", "NPage", "BSpace", or a letter.
    void press(const std::string &key, int times = 1);
    // Types text literally.
    void type(const std::string &text);

    // Resizes the terminal, as dragging its window does.
    void resize(int cols, int rows);
    // The pane's terminal device, for writing to the screen behind the
    // program's back.
    std::string tty() const;

    std::string screen() const;
    std::vector<std::string> rows() const;
    std::pair<int, int> cursor() const;  // column, row

    // Waits until `predicate(screen)` holds; false on timeout.
    bool wait_until(const std::function<bool(const std::string &)> &predicate,
                    std::chrono::milliseconds timeout = std::chrono::seconds(15)) const;
    bool wait_for(const std::string &text, std::chrono::milliseconds timeout = std::chrono::seconds(15)) const;
    bool wait_gone(const std::string &text, std::chrono::milliseconds timeout = std::chrono::seconds(15)) const;

    // Waits for the program to end; its exit status, or -1 on timeout.
    int wait_exit(std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;

    // After the program ended: the terminal is back in its normal modes
    // (canonical input, echo, signals, output processing).
    bool left_usable() const;
    // After the program ended: every setting of the terminal (stty -a) is
    // as it was before the program started.
    bool left_as_found() const;

    // Row and column of the first occurrence of `text`, or (-1, -1).
    std::pair<int, int> find(const std::string &text, bool last = false) const;
    // Waits (5 s at most) until the cursor stands within the first (or
    // last) occurrence of `label`.
    bool cursor_on(const std::string &label, bool last = false) const;


private:
    std::string tmux(const std::vector<std::string> &args) const;

    TempDir dir_;
    std::string socket_;
    std::string config_;
    int cols_;
    int rows_;
    bool started_ = false;
    int starts_ = 0;
};
