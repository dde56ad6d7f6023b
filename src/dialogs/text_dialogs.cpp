// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "dialogs/text_dialogs.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <vector>

#include "core/run_state.h"
#include "core/text.h"
#include "core/streams.h"
#include "screen/buttons.h"
#include "dialogs/dialog.h"
#include "screen/newt_handles.h"
#include "screen/scrolling_text.h"

std::string layout_report_text(std::string text)
{
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == '\n' && text[i + 1] == '\n')
            text[i] = ' ';
    }
    return text;
}

namespace {

// The report of a file, laid out for a dialog; empty when there is none.
// Without the screen, it goes to standard output instead.
std::string report_from_file(std::FILE *file)
{
    std::string text = readTrimmedLines(file);
    if (text.empty())
        return {};
    text = layout_report_text(std::move(text));
    if (!innewt) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
        return {};
    }
    return text;
}

} // namespace

newtComponent layoutTextFromFile(std::FILE *file)
{
    std::string text = report_from_file(file);
    return text.empty() ? nullptr : scrolling_text_box(text, 60);
}

int depDialog(std::FILE *file, int *retry)
{
    const std::string text = report_from_file(file);
    if (!innewt)
        return 0;
    // Made anew for every terminal size: the texts take what it leaves.
    int focused = 2;
    while (true) {
        std::string skip_label = _("Skip  ");
        std::string retry_label = _("Try again");
        std::string abort_label = _("Abort");
        newtComponent skip = nullptr;
        newtComponent again = nullptr;
        newtComponent abort_button = nullptr;
        newtGrid buttons = newtButtonBar(skip_label.data(), &skip, retry_label.data(), &again, abort_label.data(),
                                         &abort_button, static_cast<char *>(nullptr));
        // The report leaves a row of the introduction, the blank rows above
        // it and above the bar, and the bar.
        newtComponent report =
            text.empty() ? nullptr : scrolling_text_box(text, 60, 0, 1 + 1 + 1 + grid_rows(buttons));
        int other_rows = 1 + grid_rows(buttons) + (report != nullptr ? 1 + component_rows(report) : 0);
        newtComponent intro_box =
            wrapped_text_box(_("Installing Tessaro Containers on your system will cause dependency conflicts listed "
                               "below. This happens when installing Tessaro Containers on unsupported Linux "
                               "distribution."),
                             other_rows);

        newtGrid grid = newtCreateGrid(1, 3);
        newtGridSetField(grid, 0, 0, NEWT_GRID_COMPONENT, intro_box, 0, 0, 0, 0, NEWT_ANCHOR_LEFT, 0);
        if (report != nullptr)
            newtGridSetField(grid, 0, 1, NEWT_GRID_COMPONENT, report, 0, 1, 0, 0, 0, 0);
        newtGridSetField(grid, 0, 2, NEWT_GRID_SUBGRID, buttons, 0, 1, 0, 0, 0, NEWT_GRID_FLAG_GROWX);
        ScreenForm form(newtForm(nullptr, nullptr, 0));
        form.open(grid, _("Dependency conflict"));
        focus_on(form.get(), focused, {skip, again, abort_button});
        bool remake = false;
        newtComponent ended = run_form(form.get(), &remake);
        focused = focused_among(form.get(), {skip, again, abort_button});
        form.close();
        if (remake)
            continue;
        if (ended == again)
            *retry = 1;
        return ended == abort_button ? 1 : 0;
    }
}

void missedPackages(const char *const *lines)
{
    if (!innewt) {
        for (int i = 0; lines[i] != nullptr; ++i)
            std::fprintf(stderr, "missedPackages[%d]:%s\n", i, lines[i]);
        return;
    }
    int count = 0;
    while (lines[count] != nullptr)
        ++count;
    auto make_list = [&] {
        // Six rows at most, fewer when the screen leaves fewer beside a row
        // of the text, the blank rows above the list and above the bar, and
        // the bar.
        const int rows = std::min({count, 6, text_rows_left(1 + 1 + 1 + button_bar_rows())});
        newtComponent list = newtListbox(-1, -1, rows, count > rows ? NEWT_FLAG_SCROLL : 0);
        for (int i = 0; i < count; ++i)
            newtListboxAppendEntry(list, lines[i], reinterpret_cast<void *>(static_cast<intptr_t>(i))); // NOLINT(performance-no-int-to-ptr)
        return list;
    };
    baseDialog(_("Error"),
               _("The packages listed below are required for Tessaro Containers installation but are omitted from your "
                 "installation media. Please ensure that you have received your installation packages from Tessaro and "
                 "restart installation."),
               nullptr, make_list, _("Exit"), nullptr, 0);
}

int WrongProxyCredentialsMessage()
{
    int answer = baseDialog(_("Warning"),
                            _("You entered an invalid name or password.\nDo you want to proceed without downloading a "
                              "more recent version?\n\nTo download a more recent version, click No and check the name "
                              "and password you entered."),
                            nullptr, nullptr, _(" Yes "), _(" No "), 1);
    return answer == 0 ? 1 : 0;
}

int getProxyUserPassInput(const char *title, auth_pair *ret)
{
    newtComponent heading = newtLabel(-1, -1, _("Your proxy server requires authentication."));
    newtComponent name_label = newtLabel(-1, -1, _("User Name:"));
    newtComponent name_entry = newtEntry(1, 1, "", 20, nullptr, NEWT_FLAG_RETURNEXIT | NEWT_FLAG_SCROLL);
    newtComponent password_label = newtLabel(-1, -1, _("Password:"));
    // The password is never shown as typed: the entry draws an asterisk for
    // every character.
    newtComponent password_entry =
        newtEntry(1, 1, "", 20, nullptr, NEWT_FLAG_RETURNEXIT | NEWT_FLAG_SCROLL | NEWT_FLAG_PASSWORD);
    newtComponent ok = nullptr;
    newtComponent cancel = nullptr;
    newtGrid bar = installButtonsWithTxt(50, &ok, &cancel, _("OK"), _("Cancel"));

    newtGrid name_row = newtCreateGrid(2, 1);
    newtGridSetField(name_row, 0, 0, NEWT_GRID_COMPONENT, name_label, 0, 0, 0, 0, NEWT_ANCHOR_LEFT, 0);
    newtGridSetField(name_row, 1, 0, NEWT_GRID_COMPONENT, name_entry, 2, 0, 0, 0, NEWT_ANCHOR_RIGHT, 0);
    newtGrid password_row = newtCreateGrid(2, 1);
    newtGridSetField(password_row, 0, 0, NEWT_GRID_COMPONENT, password_label, 0, 0, 0, 0, NEWT_ANCHOR_LEFT, 0);
    newtGridSetField(password_row, 1, 0, NEWT_GRID_COMPONENT, password_entry, 3, 0, 0, 0, NEWT_ANCHOR_RIGHT, 0);

    newtGrid grid = newtCreateGrid(1, 4);
    newtGridSetField(grid, 0, 0, NEWT_GRID_COMPONENT, heading, 0, 0, 0, 0, 0, 0);
    newtGridSetField(grid, 0, 1, NEWT_GRID_SUBGRID, name_row, 0, 0, 0, 0, NEWT_ANCHOR_LEFT, 0);
    newtGridSetField(grid, 0, 2, NEWT_GRID_SUBGRID, password_row, 0, 0, 0, 0, NEWT_ANCHOR_LEFT, 0);
    newtGridSetField(grid, 0, 3, NEWT_GRID_SUBGRID, bar, 0, 1, 0, -1, 0, NEWT_GRID_FLAG_GROWX);

    ScreenForm form(newtForm(nullptr, nullptr, 0));
    form.open(grid, title);

    newtComponent ended = run_form(form.get());
    if (ended == cancel)
        return -1;
    const char *name = newtEntryGetValue(name_entry);
    const char *password = newtEntryGetValue(password_entry);
    std::snprintf(ret->userName, sizeof ret->userName, "%s", name != nullptr ? name : "");
    std::snprintf(ret->userPassword, sizeof ret->userPassword, "%s", password != nullptr ? password : "");
    return 0;
}

std::string read_stdin(const char *mess)
{
    std::fputs(mess, stdout);
    std::fflush(stdout);
    char line[4096];
    if (std::fgets(line, 4095, stdin) == nullptr)
        return {};
    line[std::strcspn(line, "\n")] = '\0';
    return line;
}

int passwdfilter(newtComponent /*entry*/, void *data, int ch, int cursor)
{
    if (cursor >= 0 && cursor <= 30 && ch >= 32 && ch <= 126) {
        static_cast<char *>(data)[cursor] = static_cast<char>(ch);
        return '*';
    }
    return ch;
}
