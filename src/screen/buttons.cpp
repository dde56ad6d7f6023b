// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "screen/buttons.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "core/run_state.h"
#include "core/text.h"

namespace {

struct BarButton {
    const char *label;
    newtComponent *handle;
};

int label_bytes(std::initializer_list<const char *> labels)
{
    int total = 0;
    for (const char *label : labels)
        total += static_cast<int>(std::strlen(label));
    return total;
}

// One row of full-size buttons; the first gets `first_pad` columns on its
// left, but at least one (labels longer than the bar was meant for would
// ask for less, and draw the buttons over the window's frame), the others
// `next_pad`. All are anchored right.
newtGrid right_aligned_bar(std::initializer_list<BarButton> buttons, int first_pad, int next_pad)
{
    first_pad = std::max(first_pad, 1);
    newtGrid grid = newtCreateGrid(static_cast<int>(buttons.size()), 1);
    int column = 0;
    for (const BarButton &button : buttons) {
        *button.handle = newtButton(-1, -1, button.label);
        newtGridSetField(grid, column, 0, NEWT_GRID_COMPONENT, *button.handle, column == 0 ? first_pad : next_pad,
                         0, 0, 0, NEWT_ANCHOR_RIGHT, 0);
        ++column;
    }
    return grid;
}

newtGrid two_button_bar(int width, newtComponent *left, const char *left_label, newtComponent *right,
                        const char *right_label)
{
    int pad = width - label_bytes({left_label, right_label}) - 12;
    return right_aligned_bar({{left_label, left}, {right_label, right}}, pad, 1);
}

struct CompactButton {
    const char *name;
    newtComponent *compPtr;
};

} // namespace

newtGrid installButtons(int width, newtComponent *next, newtComponent *cancel)
{
    const char *cancel_label = _("Cancel");
    if (next == nullptr)
        return right_aligned_bar({{cancel_label, cancel}}, 1, 1);
    return two_button_bar(width, next, _("Next >"), cancel, cancel_label);
}

newtGrid installButtons2(int width, newtComponent *next, newtComponent *cancel)
{
    return two_button_bar(width, next, _("Install"), cancel, _(" Skip "));
}

newtGrid installButtonsWithTxt(int width, newtComponent *left_btn, newtComponent *right_btn,
                               const char *left_btn_label, const char *right_btn_label)
{
    return two_button_bar(width, left_btn, left_btn_label, right_btn, right_btn_label);
}

newtGrid installButtons3(int width, newtComponent *lbt, const char *lbt_txt, newtComponent *rbt,
                         const char *rbt_txt)
{
    return two_button_bar(width, lbt, lbt_txt, rbt, rbt_txt);
}

newtGrid installButtonsNextSkipCancel(int width, newtComponent *next_btn, newtComponent *skip_btn,
                                      newtComponent *cancel_btn, const char *next_label,
                                      const char *skip_label, const char *cancel_label)
{
    int pad = width - label_bytes({next_label, skip_label, cancel_label}) - 12;
    return right_aligned_bar({{next_label, next_btn}, {skip_label, skip_btn}, {cancel_label, cancel_btn}}, pad, 1);
}

newtGrid licenseButtons(int width, newtComponent *accept, newtComponent *exit)
{
    return two_button_bar(width, accept, _(" Accept "), exit, _(" Decline "));
}

newtGrid cepButtons(int width, newtComponent *accept, newtComponent *exit)
{
    return two_button_bar(width, accept, _(" Agree "), exit, _(" Disagree "));
}

newtGrid finishButtons(int width, newtComponent *reboot, newtComponent *exit, int show_reboot)
{
    const char *exit_label = _(" Exit ");
    newtGrid grid = nullptr;
    if (show_reboot) {
        const char *reboot_label = _("Reboot");
        grid = right_aligned_bar({{exit_label, exit}, {reboot_label, reboot}},
                                 width - label_bytes({exit_label, reboot_label}) - 12, 0);
    } else {
        grid = right_aligned_bar({{exit_label, exit}}, width - label_bytes({exit_label}) - 12, 0);
        *reboot = nullptr;
    }
    if (!innewt) {
        // Without the screen no bar is handed out; the buttons were made and
        // stored all the same, and belong to no form, so the caller releases
        // them with newtComponentDestroy.
        newtGridFree(grid, 1);
        return nullptr;
    }
    return grid;
}

newtGrid newtCompactButtonBarv(const char *button1, newtComponent *b1comp, va_list args)
{
    CompactButton buttons[50];
    int count = 0;
    buttons[count++] = {button1, b1comp};
    while (count < 49) {
        const char *name = va_arg(args, const char *);
        if (name == nullptr)
            break;
        buttons[count++] = {name, va_arg(args, newtComponent *)};
    }
    buttons[count] = {nullptr, nullptr};

    newtGrid grid = newtCreateGrid(count, 1);
    for (int i = 0; i < count; ++i) {
        *buttons[i].compPtr = newtCompactButton(-1, -1, buttons[i].name);
        newtGridSetField(grid, i, 0, NEWT_GRID_COMPONENT, *buttons[i].compPtr, 1, 0, 0, 0, 0, 0);
    }
    return grid;
}

newtGrid newtCompactButtonBar(const char *button1, newtComponent *b1comp, ...)
{
    va_list args;
    va_start(args, b1comp);
    newtGrid grid = newtCompactButtonBarv(button1, b1comp, args);
    va_end(args);
    return grid;
}
