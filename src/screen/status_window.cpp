// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "screen/status_window.h"

#include <newt.h>
#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <thread>

#include "core/run_state.h"
#include "core/text.h"
#include "screen/terminal_guard.h"
#include "screen/window_stack.h"

void *progress_func(void *arg)
{
    auto *shared = static_cast<progress_func_arg *>(arg);
    if (!innewt)
        return nullptr;
    static const char *const kSpinner[] = {"|", "/", "-", "\\"};
    int frame = 0;
    do {
        frame = (frame + 1) % 4;
        // The windows under it follow the terminal's size, and Ctrl-L
        // draws them again (any other key goes nowhere); while the
        // terminal is too small, the line that asks for a larger one
        // stands alone.
        const bool shown = show_windows_if_they_fit(drop_pending_keys());
        if (shown)
            winStatus(50, 5, nullptr, _("%s %s"), shared->message, kSpinner[frame]);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        if (shown)
            winStatusStop();
    } while (shared->is_running.load() != 0);
    return nullptr;
}

void winStatus(int width, int height, const char *title, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = vstrprintf(format, args);
    va_end(args);

    if (innewt) {
        follow_terminal_size();
        drop_pending_keys();
        newtCenteredWindow(width, height, title);
        newtComponent box = newtTextbox(1, 1, width - 2, height - 2, NEWT_FLAG_WRAP);
        newtTextboxSetText(box, text.c_str());
        newtComponent form = newtForm(nullptr, nullptr, 0);
        newtFormAddComponent(form, box);
        newtDrawForm(form);
        newtRefresh();
        newtFormDestroy(form);
    } else {
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
    }
}

void winStatusStop()
{
    if (innewt) {
        newtPopWindow();
    } else {
        std::fputs(_("Done\n"), stdout);
        std::fflush(stdout);
    }
}
