// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "dialogs/agreement.h"

#include <fcntl.h>
#include <newt.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "core/run_state.h"
#include "core/text.h"
#include "screen/buttons.h"
#include "dialogs/dialog.h"
#include "screen/newt_handles.h"
#include "screen/scrolling_text.h"
#include "screen/terminal_guard.h"

namespace {

// The closing screen with an optional check box (its label `checkbox`,
// its state in `state`) between text and bar; made anew for every size.
int finish_screen(const std::string &title, const std::string &text, const std::string *checkbox, char *state,
                  int show_reboot, int reboot_is_default)
{
    // Check box, Reboot, Exit: the focus starts on Reboot when it is the
    // default, otherwise on Exit, and stays where it is across sizes.
    int focused = show_reboot && reboot_is_default ? 1 : 2;
    while (true) {
        newtComponent reboot = nullptr;
        newtComponent exit = nullptr;
        newtGrid bar = finishButtons(width, &reboot, &exit, show_reboot);
        newtComponent box = checkbox != nullptr ? newtCheckbox(-1, -1, checkbox->c_str(), *state, nullptr, state) : nullptr;
        // The text takes what the screen leaves beside the check box, the
        // bar and the row above the bar, and scrolls beyond.
        int other_rows = 1 + grid_rows(bar) + (box != nullptr ? component_rows(box) : 0);
        const int room = text_rows_left(other_rows);
        // Empty lines at the end are spacing: they go before the text
        // would scroll for them.
        std::string shown = text;
        while (!shown.empty() && shown.back() == '\n' && reflow_text(shown, width - 2, 0, 0).height > room)
            shown.pop_back();
        newtComponent block = fitting_text_box(shown, width - 2, 0, room);
        int rows = box != nullptr ? 3 : 2;
        newtGrid grid = newtCreateGrid(1, rows);
        newtGridSetField(grid, 0, 0, NEWT_GRID_COMPONENT, block, 0, 0, 0, 0, NEWT_ANCHOR_LEFT, 0);
        if (box != nullptr)
            newtGridSetField(grid, 0, 1, NEWT_GRID_COMPONENT, box, 0, 0, 0, 0, NEWT_ANCHOR_LEFT, 0);
        newtGridSetField(grid, 0, rows - 1, NEWT_GRID_SUBGRID, bar, 0, 1, 0, -1, 0, NEWT_GRID_FLAG_GROWX);
        ScreenForm form(newtForm(nullptr, nullptr, 0));
        form.open(grid, title.c_str());
        focus_on(form.get(), focused == 1 && reboot == nullptr ? 2 : focused, {box, reboot, exit});
        bool remake = false;
        newtComponent ended = run_form(form.get(), &remake);
        if (!remake)
            return (show_reboot && reboot != nullptr && ended == reboot) ? 1 : 0;
        focused = focused_among(form.get(), {box, reboot, exit});
    }
}

} // namespace

void addNewtHeader(const char *title)
{
    remember_header(title);
    newtPushHelpLine(_("  <Tab> to switch between elements  |  <Space> to select"));
    draw_header();
}

int scrAgreement(const char *title, int def_butt, const char *filename, int mode)
{
    if (!innewt)
        return 1;
    const int fd = ::open(filename, O_RDONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        int error = errno;
        Error(1, _("Could not read %s: %s\n"), filename, std::strerror(error));
    }
    return scrAgreementOf(title, def_butt, fd, mode);
}

int scrAgreementOf(const char *title, int def_butt, int fd, int mode)
{
    // Shown whole, whatever its length, as safely as the back end's text:
    // read from the file as it is shown, a NUL ends a line, nothing in it
    // reaches the terminal as a control or reorders what is read, and
    // every character takes the columns it is measured by; a licence
    // written on Windows ends its lines as any other.
    auto file = std::make_shared<WrappedFile>(fd);
    if (!innewt)
        return 1;

    // The box takes what the screen leaves: made anew for every size, at
    // the line it showed before.
    int focused = def_butt == 1 ? 0 : 1;
    off_t shown_line = 0;
    while (true) {
        newtComponent accept = nullptr;
        newtComponent decline = nullptr;
        newtGrid bar = mode == AGRT_LIC ? licenseButtons(width, &accept, &decline) : cepButtons(width, &accept, &decline);
        int cols = 0;
        int rows = 0;
        follow_terminal_size();
        newtGetScreenSize(&cols, &rows);
        int box_width = std::min(cols, 64);
        // Every row the window may take: the screen's, less the bar and
        // the row above it.
        int box_height = std::max(text_rows_left(1 + grid_rows(bar)), kAgreementMinRows);
        file->wrap(box_width);
        newtComponent box = file_text_box(file, box_width, box_height, file->row_of(shown_line));

        newtGrid grid = newtCreateGrid(1, 2);
        newtGridSetField(grid, 0, 0, NEWT_GRID_COMPONENT, box, 0, 0, 0, 0, NEWT_ANCHOR_LEFT, 0);
        newtGridSetField(grid, 0, 1, NEWT_GRID_SUBGRID, bar, 0, 1, 0, -1, 0, NEWT_GRID_FLAG_GROWX);
        ScreenForm form(newtForm(nullptr, nullptr, 0));
        form.open(grid, title);
        focus_on(form.get(), focused, {accept, decline});
        bool remake = false;
        newtComponent ended = run_form(form.get(), &remake);
        if (!remake)
            return ended == decline ? 0 : 1;
        focused = focused_among(form.get(), {accept, decline});
        shown_line = file->paragraph_of(text_box_top(box));
    }
}

int scrFinished(const char *title, const char *finaltext, int show_reboot, int reboot_is_default)
{
    std::string text = cut_text(finaltext);
    std::string title_buf = cut_text(title);
    if (!innewt) {
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
        return 0;
    }
    return finish_screen(title_buf, text, nullptr, nullptr, show_reboot, reboot_is_default);
}

int scrFinishedWithCheckBox(const char *title, const char *final_text, const char *checkbox_text,
                            int *checkbox_select, int show_reboot, int reboot_is_default)
{
    std::string text = cut_text(final_text);
    std::string title_buf = cut_text(title);
    std::string label = cut_text(checkbox_text);
    char state = *checkbox_select != 0 ? '*' : ' ';
    if (!innewt) {
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
        return 0;
    }
    int result = finish_screen(title_buf, text, &label, &state, show_reboot, reboot_is_default);
    *checkbox_select = state == '*' ? 1 : 0;
    return result;
}
