// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "dialogs/choice.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/run_state.h"
#include "core/text.h"
#include "screen/buttons.h"
#include "dialogs/dialog.h"
#include "screen/newt_handles.h"
#include "screen/scrolling_text.h"

namespace {

int count_entries(const list_s *list)
{
    int count = 0;
    while (list[count].name != nullptr)
        ++count;
    return count;
}

// Runs `form` until it ends on something other than `cancel`, or on a
// cancel the user confirms. True when the cancel was taken; false with
// *remake true when the dialog is to be made anew (see run_form).
bool run_with_cancel_confirmation(newtComponent form, newtComponent cancel, bool *remake)
{
    while (true) {
        if (run_form(form, remake) != cancel || cancel == nullptr || *remake)
            return false;
        if (Cancel(0))
            return true;
    }
}

// A button bar with its buttons: the one that has the focus first, and
// the cancel.
using BarMaker = std::function<newtGrid(newtComponent *focus, newtComponent *cancel)>;

// The question screens with two answers, made anew for every terminal size:
// `make_bar` makes the bar. 1 unless the cancel was taken (confirmed first
// when def_btn is 1).
int two_answer_question(const char *title, const char *text, const BarMaker &make_bar, int def_btn)
{
    bool on_cancel = false;
    while (true) {
        newtComponent focus = nullptr;
        newtComponent cancel = nullptr;
        newtGrid bar = make_bar(&focus, &cancel);
        ScreenForm form(scrChoiseForm(title, text, bar));
        form.window_opened();
        newtFormSetCurrent(form.get(), on_cancel ? cancel : focus);
        bool remake = false;
        int answer = 1;
        if (def_btn == 1)
            answer = run_with_cancel_confirmation(form.get(), cancel, &remake) ? 0 : 1;
        else
            answer = run_form(form.get(), &remake) == cancel ? 0 : 1;
        if (!remake)
            return answer;
        on_cancel = newtFormGetCurrent(form.get()) == cancel;
    }
}

// The list column shared by the list box and the radio buttons.
struct ListColumn {
    newtComponent inner;
    newtComponent scrollbar;
};

ListColumn list_column(int entries, int height, int width, bool radio)
{
    ListColumn column{nullptr, nullptr};
    if (entries > height)
        column.scrollbar = newtVerticalScrollbar(-1, -1, height, NEWT_COLORSET_CHECKBOX, NEWT_COLORSET_ACTLISTBOX);
    column.inner = newtForm(column.scrollbar, nullptr, 0);
    if (radio)
        newtFormSetBackground(column.inner, NEWT_COLORSET_CHECKBOX);
    newtFormSetHeight(column.inner, height);
    (void)width;
    return column;
}

// A selection's window content: the question above the list column,
// the button bar below after a blank row.
newtGrid selection_grid(newtComponent question, newtGrid column, newtGrid bar)
{
    newtGrid grid = newtCreateGrid(1, 3);
    newtGridSetField(grid, 0, 0, NEWT_GRID_COMPONENT, question, 0, 0, 0, 0, 0, 0);
    newtGridSetField(grid, 0, 1, NEWT_GRID_SUBGRID, column, 0, 0, 0, 0, 0, 0);
    newtGridSetField(grid, 0, 2, NEWT_GRID_SUBGRID, bar, 0, 1, 0, -1, 0, NEWT_GRID_FLAG_GROWX);
    return grid;
}

newtGrid close_column(ListColumn column, int height, int width, bool radio)
{
    if (width != 0)
        newtFormSetWidth(column.inner, width + 10);
    newtComponent right = column.scrollbar;
    if (right == nullptr) {
        // A blank column 2 wide and `height` high beside the list. An empty
        // newt form placed in a grid paints over the window frame, so the
        // blank is an empty text box in the same colours.
        right = newtTextbox(-1, -1, 2, height, 0);
        if (radio)
            newtTextboxSetColors(right, NEWT_COLORSET_CHECKBOX, NEWT_COLORSET_CHECKBOX);
    }
    return newtGridHCloseStacked(NEWT_GRID_COMPONENT, column.inner, NEWT_GRID_COMPONENT, right, NEWT_GRID_EMPTY);
}

} // namespace

newtComponent scrChoiseForm(const char *title, const char *text, newtGrid btns)
{
    std::string text_buf = cut_text(text);
    std::string title_buf = fitted_title(cut_text(title).c_str());
    // The question takes what the screen leaves beside the button bar (one
    // row of padding above it, one row of its own below taken back). A
    // taller one scrolls, except for its last line when that is the
    // question itself (it ends with "?"), which stays below the scrolling
    // part where it can be read; any other text scrolls whole.
    const int room = text_rows_left(grid_rows(btns));
    newtComponent block = nullptr;
    newtComponent last_line = nullptr;
    std::size_t end = text_buf.find_last_not_of('\n');
    std::size_t cut = end == std::string::npos || text_buf[end] != '?' ? std::string::npos : text_buf.rfind('\n', end);
    Reflowed whole = reflow_text(text_buf, width - 2, 0, 0);
    if (whole.height > room && cut != std::string::npos && room > 1) {
        Reflowed question = reflow_text(text_buf.substr(cut + 1), width - 2, 0, 0);
        int question_rows = std::min(question.height, room - 1);
        last_line = fitting_text_box(question, question_rows);
        block = fitting_text_box(text_buf.substr(0, cut), width - 2, 0, room - question_rows);
    } else {
        block = fitting_text_box(whole, room);
    }
    newtGrid grid = newtCreateGrid(1, last_line != nullptr ? 3 : 2);
    newtGridSetField(grid, 0, 0, NEWT_GRID_COMPONENT, block, 0, 0, 0, 0, NEWT_ANCHOR_LEFT, 0);
    if (last_line != nullptr)
        newtGridSetField(grid, 0, 1, NEWT_GRID_COMPONENT, last_line, 0, 0, 0, 0, NEWT_ANCHOR_LEFT, 0);
    newtGridSetField(grid, 0, last_line != nullptr ? 2 : 1, NEWT_GRID_SUBGRID, btns, 0, 1, 0, -1, 0,
                     NEWT_GRID_FLAG_GROWX);
    newtComponent form = newtForm(nullptr, nullptr, 0);
    open_grid_window(form, grid, title_buf);
    return form;
}

int scrChoise(const char *title, const char *text, int def_btn, int print_in_newt)
{
    if (!innewt) {
        if (print_in_newt) {
            std::printf("%s\n", text);
            std::fflush(stdout);
        }
        return 1;
    }
    return two_answer_question(
        title, text,
        [def_btn](newtComponent *focus, newtComponent *cancel) {
            newtComponent next = nullptr;
            newtGrid bar = installButtons(width, &next, cancel);
            *focus = def_btn == 1 ? next : *cancel;
            return bar;
        },
        def_btn);
}

int scrChoiseRetry(const char *title, const char *text, int def_btn)
{
    if (!innewt)
        return 1;
    return two_answer_question(
        title, text,
        [](newtComponent *focus, newtComponent *cancel) {
            return installButtonsWithTxt(width, focus, cancel, _("Retry"), _("Cancel"));
        },
        def_btn);
}

int scrChoiseNextSkipCancel(const char *title, const char *text, int /*def_btn*/)
{
    if (!innewt)
        return 1;
    int focused = 0;
    while (true) {
        newtComponent next = nullptr;
        newtComponent skip = nullptr;
        newtComponent cancel = nullptr;
        newtGrid bar = installButtonsNextSkipCancel(width, &next, &skip, &cancel, _("Next"), _("Skip"), _("Cancel"));
        ScreenForm form(scrChoiseForm(title, text, bar));
        form.window_opened();
        focus_on(form.get(), focused, {next, skip, cancel});
        bool remake = false;
        newtComponent ended = run_form(form.get(), &remake);
        if (remake) {
            focused = focused_among(form.get(), {next, skip, cancel});
            continue;
        }
        if (ended == cancel)
            return 0;
        if (ended == skip)
            return 1;
        return 2;
    }
}

newtGrid listBoxGrid(newtComponent *pListBox, int height, int list_width, const list_s *list, const char *current)
{
    int entries = count_entries(list);
    ListColumn column = list_column(entries, height, list_width, false);
    for (int i = 0; i < entries; ++i) {
        // The list keeps each row's id in its data pointer.
        newtListboxAppendEntry(*pListBox, list[i].name,
                               reinterpret_cast<void *>(static_cast<intptr_t>(list[i].id))); // NOLINT(performance-no-int-to-ptr)
        if (current != nullptr && std::strcmp(list[i].name, current) == 0)
            newtListboxSetCurrent(*pListBox, i);
    }
    newtFormAddComponent(column.inner, *pListBox);
    return close_column(column, height, list_width, false);
}

newtGrid listGrid(newtComponent *pListBox, int height, int list_width, const list_s *list, const char *current)
{
    int entries = count_entries(list);
    ListColumn column = list_column(entries, height, list_width, true);
    newtComponent previous = nullptr;
    for (int j = 0; j < entries; ++j) {
        bool selected = current != nullptr && std::strcmp(list[j].name, current) == 0;
        pListBox[j] = newtRadiobutton(0, j, list[j].name, selected ? 1 : 0, previous);
        previous = pListBox[j];
        newtFormAddComponent(column.inner, pListBox[j]);
    }
    return close_column(column, height, list_width, true);
}

int scrSelectAction(const char *title, const char *text, const list_s *types, int def)
{
    std::string text_buf = cut_text(text);
    int entries = count_entries(types);
    if (!innewt)
        return 1;
    // Made anew for every terminal size, with the entry chosen so far.
    const char *current = types[def].name;
    int focused = -1;
    while (true) {
        newtComponent next = nullptr;
        newtComponent cancel = nullptr;
        newtGrid bar = installButtons(width, &next, &cancel);
        // The list, then the question, take what the screen leaves beside
        // the button bar (and the row above it); either scrolls when it is
        // taller.
        const int bar_rows = grid_rows(bar) + 1;
        const int height = std::min(entries + 1, std::max(3, text_rows_left(bar_rows + 1)));
        newtComponent block = fitting_text_box(text_buf, width - 2, 0, text_rows_left(bar_rows + height));
        newtComponent listbox = newtListbox(0, 0, 2, NEWT_FLAG_RETURNEXIT);
        newtGrid column = listBoxGrid(&listbox, height, 30, types, current);

        ScreenForm form(newtForm(nullptr, nullptr, 0));
        scroll_keys_go_to_its_list(form.get());
        form.open(selection_grid(block, column, bar), title);
        focus_on(form.get(), focused, {listbox, next, cancel});

        bool remake = false;
        const bool cancelled = run_with_cancel_confirmation(form.get(), cancel, &remake);
        focused = focused_among(form.get(), {listbox, next, cancel});
        const int chosen = static_cast<int>(reinterpret_cast<intptr_t>(newtListboxGetCurrent(listbox)));
        if (cancelled)
            return -1;
        if (!remake)
            return chosen;
        for (int i = 0; i < entries; ++i) {
            if (types[i].id == chosen)
                current = types[i].name;
        }
    }
}

int scrSelectComponents(const char *title, const char *text, const list_s *types, int def)
{
    int entries = count_entries(types);
    int height = entries + 1;
    if (!innewt)
        return 1;
    newtComponent label = newtLabel(1, 1, text);
    std::vector<newtComponent> radios(static_cast<std::size_t>(entries) + 1, nullptr);
    newtGrid column = listGrid(radios.data(), height, 30, types, types[def].name);
    newtComponent next = nullptr;
    newtComponent cancel = nullptr;
    newtGrid bar = installButtons(width, &next, &cancel);

    ScreenForm form(newtForm(nullptr, nullptr, 0));
    scroll_keys_go_to_its_list(form.get());
    form.open(selection_grid(label, column, bar), title);
    newtFormSetCurrent(form.get(), next);

    newtComponent ended = run_form(form.get());
    if (ended == cancel)
        return -1;
    for (int j = 0; j < entries; ++j) {
        if (newtRadioGetCurrent(radios[static_cast<std::size_t>(j)]) == radios[static_cast<std::size_t>(j)])
            return types[j].id;
    }
    return def;
}

int srcSelectInstType(const char *title)
{
    const list_s types[] = {
        {_("Express installation (use default settings)"), 1},
        {_("Advanced installation"), 0},
        {nullptr, 0},
    };
    return scrSelectComponents(title, _("Please select the installation type: "), types, 0);
}

int scrChoiceCd()
{
    newtComponent finish = newtRadiobutton(1, 1, _("Finish installation of additional templates  "), 1, nullptr);
    newtComponent from_cd = newtRadiobutton(1, 2, _("Install additional templates from optional CD"), 0, finish);
    newtComponent next = newtButton(0, 0, _(" Next "));
    newtGrid grid = newtCreateGrid(1, 3);
    newtGridSetField(grid, 0, 0, NEWT_GRID_COMPONENT, finish, 1, 1, 0, 0, NEWT_ANCHOR_LEFT, 0);
    newtGridSetField(grid, 0, 1, NEWT_GRID_COMPONENT, from_cd, 1, 0, 0, 0, NEWT_ANCHOR_LEFT, 0);
    newtGridSetField(grid, 0, 2, NEWT_GRID_COMPONENT, next, 20, 1, 0, -1, NEWT_ANCHOR_LEFT, 0);
    ScreenForm form(newtForm(nullptr, nullptr, 0));
    form.open(grid, _("Install additional templates"));
    newtFormSetCurrent(form.get(), next);
    run_form(form.get());
    return newtRadioGetCurrent(finish) == finish ? 2 : 0;
}
