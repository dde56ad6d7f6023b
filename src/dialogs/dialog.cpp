// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "dialogs/dialog.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "core/backend_record.h"
#include "core/log.h"
#include "core/run_state.h"
#include "core/text.h"
#include "screen/newt_handles.h"
#include "screen/scrolling_text.h"
#include "screen/terminal_guard.h"

int console_levels[4] = {0, 0, 0, 0};

namespace {

const char *kPrintkPath = "/proc/sys/kernel/printk";

bool read_printk(int (&levels)[4])
{
    std::ifstream in(kPrintkPath);
    if (!in)
        return false;
    for (int &level : levels) {
        if (!(in >> level))
            return false;
    }
    return true;
}

void write_printk(const int (&levels)[4])
{
    std::FILE *out = std::fopen(kPrintkPath, "w");
    if (out == nullptr)
        return;
    std::fprintf(out, "%d %d %d %d\n", levels[0], levels[1], levels[2], levels[3]);
    std::fclose(out);
}

void message_box(const char *mess, const char *button, const char *title, bool short_text)
{
    if (!innewt) {
        std::puts(mess);
        return;
    }
    int target = 60;
    if (short_text)
        target = static_cast<int>(std::min<std::size_t>(std::strlen(mess), 60));
    // Beside the text: the padding row above the button bar of baseDialog,
    // and the bar. A message with its own title (a list to read whole)
    // takes every row the screen leaves; others at most six.
    baseDialog(title != nullptr ? title : _("Message"), nullptr, nullptr,
               [&] {
                   return title != nullptr ? wrapped_text_box(mess, 1 + button_bar_rows())
                                           : scrolling_text_box(mess, target, short_text ? 1 : 0, 1 + button_bar_rows());
               },
               button, nullptr, 0);
}

// The generic dialog: `label` above the widget `co` (or `make_co`'s), then
// `label1`, then the buttons. Made anew for every terminal size when its
// widget can be made anew.
int run_base_dialog(const char *caption, const char *label, const char *label1, newtComponent co,
                    const std::function<newtComponent()> &make_co, const char *button0, const char *button1,
                    int defbutton)
{
    int focused = defbutton != 0 && button1 != nullptr ? 1 : 0;
    while (true) {
        if (make_co)
            co = make_co();
        newtComponent b0 = nullptr;
        newtComponent b1 = nullptr;
        std::string first = button0;
        std::string second = button1 != nullptr ? button1 : "";
        newtGrid buttons = button1 != nullptr
                               ? newtButtonBar(first.data(), &b0, second.data(), &b1, static_cast<char *>(nullptr))
                               : newtButtonBar(first.data(), &b0, static_cast<char *>(nullptr));

        // The texts take what the screen leaves beside the rest of the
        // dialog, and scroll beyond that; texts that fit keep their size.
        int other_rows = 1 + grid_rows(buttons);
        if (co != nullptr)
            other_rows += 1 + component_rows(co);
        newtComponent bottom =
            label1 != nullptr ? wrapped_text_box(label1, other_rows + (label != nullptr ? 1 : 0)) : nullptr;
        if (bottom != nullptr)
            other_rows += 1 + component_rows(bottom);
        newtComponent top = label != nullptr ? wrapped_text_box(label, other_rows) : nullptr;

        ScreenForm form(newtForm(nullptr, nullptr, 0));
        newtGrid grid = newtCreateGrid(1, 4);
        if (top != nullptr)
            newtGridSetField(grid, 0, 0, NEWT_GRID_COMPONENT, top, 0, 0, 0, 0, NEWT_ANCHOR_LEFT, 0);
        // (Below the label, a blank row; with no label, the window's own.)
        if (co != nullptr)
            newtGridSetField(grid, 0, 1, NEWT_GRID_COMPONENT, co, 0, top != nullptr ? 1 : 0, 0, 0, 0, 0);
        if (bottom != nullptr)
            newtGridSetField(grid, 0, 2, NEWT_GRID_COMPONENT, bottom, 0, 1, 0, 0, NEWT_ANCHOR_LEFT, 0);
        newtGridSetField(grid, 0, 3, NEWT_GRID_SUBGRID, buttons, 0, 1, 0, 0, 0, NEWT_GRID_FLAG_GROWX);

        form.open(grid, caption);

        focus_on(form.get(), focused, {b0, b1});
        bool remake = false;
        const bool remakeable = make_co || co == nullptr;
        newtComponent ended = run_form(form.get(), remakeable ? &remake : nullptr);
        focused = focused_among(form.get(), {b0, b1});
        form.close();
        if (!remake)
            return (ended != nullptr && ended == b1) ? 1 : 0;
    }
}

} // namespace

int baseDialog(const char *caption, const char *label, const char *label1, newtComponent co,
               const char *button0, const char *button1, int defbutton)
{
    return run_base_dialog(caption, label, label1, co, nullptr, button0, button1, defbutton);
}

int baseDialog(const char *caption, const char *label, const char *label1,
               const std::function<newtComponent()> &make_co, const char *button0, const char *button1,
               int defbutton)
{
    return run_base_dialog(caption, label, label1, nullptr, make_co, button0, button1, defbutton);
}

void show_message(const char *mess, const char *button)
{
    message_box(mess, button, nullptr, false);
}

void show_message2(const char *mess, const char *button, const char *title)
{
    message_box(mess, button, title, false);
}

void show_strmessage(const char *mess, const char *button)
{
    message_box(mess, button, nullptr, true);
}

int Cancel(int /*err*/)
{
    int answer = baseDialog(_("Warning"), _("      Are you sure you want to cancel?"), nullptr, nullptr, _(" Yes "),
                            _(" No "), 1);
    return answer == 0 ? 1 : 0;
}

void Error(int errCode, const char *text, ...)
{
    va_list args;
    va_start(args, text);
    std::string message = vstrprintf(text, args);
    va_end(args);

    write_log("Error: %s\n", message.c_str());
    if (innewt) {
        baseDialog(_("Error"), message.c_str(), nullptr, nullptr, _(" Exit "), nullptr, 0);
    } else {
        std::fprintf(stderr, "%s\n", message.c_str());
        std::fflush(stderr);
    }
    insExit(errCode);
}

void insExit(int errcode)
{
    if (innewt) {
        stop_screen();
        restore_console_level();
    }
    write_log("Exiting with code %d\n", errcode);
    make_log_durable();
    std::fflush(stdout);
    std::exit(errcode);
}

void setup_console_level()
{
    int levels[4] = {0, 0, 0, 0};
    if (!read_printk(levels)) {
        write_log("Failed to setup console printk level.\n");
        return;
    }
    std::copy(std::begin(levels), std::end(levels), std::begin(console_levels));
    // Kept where the next run finds them, should this one be killed before
    // it puts them back.
    save_console_levels(strprintf("%d %d %d %d\n", levels[0], levels[1], levels[2], levels[3]));
    int lowered[4] = {std::max(levels[2], 3), levels[1], levels[2], levels[3]};
    write_printk(lowered);
    remember_console_levels(console_levels);
}

void restore_console_level()
{
    if (console_levels[0] != 0) {
        write_printk(console_levels);
        forget_saved_console_levels();
    }
}

void put_back_earlier_console_level()
{
    std::optional<std::string> levels = take_saved_console_levels();
    if (!levels)
        return;
    int values[4] = {0, 0, 0, 0};
    std::istringstream fields(*levels);
    for (int &value : values)
        fields >> value;
    // Levels the kernel knows: the console's and the least one at least 1,
    // none above 15 (the lowest priority is 7; 8 and above show all).
    for (int i = 0; i < 4; ++i) {
        if (values[i] < (i == 1 ? 0 : 1) || values[i] > 15) {
            write_log("The console message levels an earlier run saved are not levels; left as they are: %s",
                      levels->c_str());
            return;
        }
    }
    // Only over what that run lowered them to: levels the administrator
    // set since are theirs.
    int now[4] = {0, 0, 0, 0};
    const int lowered[4] = {std::max(values[2], 3), values[1], values[2], values[3]};
    if (!read_printk(now) || !std::equal(std::begin(now), std::end(now), std::begin(lowered))) {
        write_log("The console message levels were changed since an earlier run lowered them; left as they are\n");
        return;
    }
    write_printk(values);
    write_log("Put back the console message levels that an earlier run left lowered: %s", levels->c_str());
}
