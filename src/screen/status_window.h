// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// The small status window and the wait animation drawn by the wait thread.
#pragma once

#include <atomic>

// Shared between the command runner and its wait thread for one run.
struct progress_func_arg {
    std::atomic<int> is_running{0};
    char message[4096] = {};
};

using thread_func = void *(*)(void *);

// The wait thread: redraws the status window with a spinner every 200 ms
// while `is_running` is set; at least one frame. Nothing in text mode.
void *progress_func(void *arg);

void winStatus(int width, int height, const char *title, const char *format, ...)
    __attribute__((format(printf, 4, 5)));
void winStatusStop();
