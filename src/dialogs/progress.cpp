// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "dialogs/progress.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "core/run_state.h"
#include "core/text.h"
#include "dialogs/dialog.h"
#include "screen/newt_handles.h"
#include "screen/scrolling_text.h"
#include "screen/window_stack.h"
#include "screen/terminal_guard.h"

namespace {

newtComponent prepScale = nullptr;
newtComponent prepForm = nullptr;

std::string percent_text(unsigned long value)
{
    char buf[5];
    std::snprintf(buf, sizeof buf, "%3lu%%", value);
    return buf;
}

newtGrid createScaleBar(const char *text, int bar_width, newtComponent *scale, newtComponent *percent)
{
    if (!innewt) {
        std::printf("%s\n", text);
        return nullptr;
    }
    newtGrid outer = newtCreateGrid(1, 2);
    newtGrid inner = newtCreateGrid(2, 1);
    int text_len = static_cast<int>(std::strlen(text));
    newtComponent box = newtTextbox(-1, -1, text_len, 1, 0);
    newtTextboxSetText(box, text);
    newtGridSetField(inner, 0, 0, NEWT_GRID_COMPONENT, box, 0, 0, bar_width - text_len - 4, 0, NEWT_ANCHOR_LEFT, 0);
    *percent = newtLabel(-1, -1, _("  0%"));
    newtGridSetField(inner, 1, 0, NEWT_GRID_COMPONENT, *percent, 0, 0, 0, 0, NEWT_ANCHOR_RIGHT, 0);
    newtGridSetField(outer, 0, 0, NEWT_GRID_SUBGRID, inner, 0, 0, 0, 0, 0, 0);
    *scale = newtScale(-1, -1, bar_width, 100);
    newtGridSetField(outer, 0, 1, NEWT_GRID_COMPONENT, *scale, 0, 0, 0, 0, 0, 0);
    return outer;
}

// A cleared window record; a failed allocation ends the run with `failure`.
progress_handle new_window_record(const char *failure)
{
    auto *record = new (std::nothrow) progWinData;
    if (record == nullptr)
        Error(1, "%s", failure);
    return progress_handle(record);
}

void set_bar(newtComponent scale, newtComponent label, unsigned long value)
{
    newtScaleSet(scale, value);
    newtLabelSetText(label, percent_text(value).c_str());
}

} // namespace

progWinData::~progWinData()
{
    if (form != nullptr)
        newtFormDestroy(form);
}

void prepStart(long long fullValue, const char *title)
{
    if (!innewt) {
        std::printf("%s\n", title);
        std::fflush(stdout);
        return;
    }
    follow_terminal_size();
    // A 50x3 window, the bar in its middle row: laid out by a grid, so that
    // a resize while it is up lays it out again for the new size.
    prepScale = newtScale(-1, -1, 48, fullValue);
    prepForm = newtForm(nullptr, nullptr, 0);
    newtGrid grid = newtCreateGrid(1, 1);
    newtGridSetField(grid, 0, 0, NEWT_GRID_COMPONENT, prepScale, 0, 0, 0, 0, 0, 0);
    open_grid_window(prepForm, grid, title != nullptr ? title : "");
    newtRefresh();
}

void prepUpdate(long long amount)
{
    if (!innewt || prepForm == nullptr)
        return;
    newtScaleSet(prepScale, static_cast<unsigned long long>(amount));
    // The terminal was resized, or Ctrl-L pressed: drawn again for the size
    // now (or, while it is too small, the line that asks for a larger one).
    if (show_windows_if_they_fit(drop_pending_keys()))
        newtRefresh();
}

void prepStop()
{
    if (!innewt || prepForm == nullptr)
        return;
    close_grid_window(prepForm);
    newtFormDestroy(prepForm);
    prepForm = nullptr;
    prepScale = nullptr;
}

progress_handle winSimpleProgress(const char *title)
{
    if (!innewt) {
        if (title != nullptr)
            std::printf("%s\n", title);
        std::fflush(stdout);
        return nullptr;
    }
    progress_handle data = new_window_record(_("Memory allocation failed"));
    data->form = newtForm(nullptr, nullptr, 0);
    newtDrawForm(data->form);
    newtRefresh();
    return data;
}

progress_handle winProgress(const char *title)
{
    const char *labels[3] = {_("Name:"), _("Size:"), _("Summary:")};
    if (!innewt) {
        std::printf("%s\n", title);
        std::fflush(stdout);
        return nullptr;
    }
    progress_handle data = new_window_record(_("Screwed up"));
    data->f = showProgress;
    for (const char *label : labels)
        data->len = std::max(data->len, static_cast<int>(std::strlen(label)));

    newtGrid outer = newtCreateGrid(1, 4);
    newtGrid inner = newtCreateGrid(2, 3);
    for (int row = 0; row < 3; ++row) {
        newtGridSetField(inner, 0, row, NEWT_GRID_COMPONENT, newtLabel(-1, -1, labels[row]), 0, 0, 1, 0,
                         NEWT_ANCHOR_LEFT, 0);
        newtComponent value = nullptr;
        if (row < 2) {
            value = newtLabel(-1, -1, "");
        } else {
            value = newtTextbox(-1, -1, 59 - data->len, 2, NEWT_FLAG_WRAP);
        }
        newtGridSetField(inner, 1, row, NEWT_GRID_COMPONENT, value, 0, 0, 0, 0, NEWT_ANCHOR_LEFT,
                         NEWT_GRID_FLAG_GROWY);
        (row == 0 ? data->name : row == 1 ? data->size : data->summary) = value;
    }
    newtGridSetField(outer, 0, 0, NEWT_GRID_SUBGRID, inner, 0, 0, 0, 0, 0, 0);
    newtGrid package_bar = createScaleBar(_("Package progress"), 60, &data->pkgscale, &data->pkgpercent);
    newtGridSetField(outer, 0, 1, NEWT_GRID_SUBGRID, package_bar, 0, 1, 0, 0, 0, 0);
    newtGrid total_bar = createScaleBar(_("Overall progress"), 60, &data->totalscale, &data->totalpercent);
    newtGridSetField(outer, 0, 2, NEWT_GRID_SUBGRID, total_bar, 0, 1, 0, 0, 0, 0);

    std::string window_title = fitted_title(title);
    drop_pending_keys();
    newtGridWrappedWindow(outer, window_title.data());
    data->form = newtForm(nullptr, nullptr, 0);
    newtGridAddComponentsToForm(outer, data->form, 1);
    newtGridFree(outer, 1);
    newtDrawForm(data->form);
    newtRefresh();
    return data;
}

void winProgressUpdate(progWinData *data, int len, const char *name, const char *size, const char *summary)
{
    if (!innewt || data == nullptr) {
        std::printf("%s\n", name);
        std::fflush(stdout);
        return;
    }
    set_bar(data->pkgscale, data->pkgpercent, 0);
    data->curSize += data->oldSize;
    data->oldSize = static_cast<unsigned long>(static_cast<long>(len));
    unsigned long overall = std::min<unsigned long>(
        data->curSize * 100 / static_cast<unsigned long>(transTotalSize()), 100);
    set_bar(data->totalscale, data->totalpercent, overall);
    newtLabelSetText(data->name, name);
    newtLabelSetText(data->size, size);

    newtComponent box = newtTextbox(data->len + 2, 3, 58 - data->len, 2, NEWT_FLAG_WRAP);
    newtTextboxSetText(box, summary);
    newtComponent form = newtForm(nullptr, nullptr, 0);
    newtFormAddComponent(form, box);
    newtDrawForm(form);
    newtRefresh();
    newtFormDestroy(form);
}

void winProgressUpdatePkg(progWinData *data, unsigned long amount, unsigned long total)
{
    if (!innewt || data == nullptr)
        return;
    unsigned long divisor = std::max(amount, total);
    unsigned long package = divisor == 0 ? 100 : std::min<unsigned long>(amount * 100 / divisor, 100);
    set_bar(data->pkgscale, data->pkgpercent, package);
    unsigned long overall = std::min<unsigned long>(
        (data->curSize * 100 + data->oldSize * package) / static_cast<unsigned long>(transTotalSize()), 100);
    set_bar(data->totalscale, data->totalpercent, overall);
    newtRefresh();
}

void winProgressStop(progress_handle data)
{
    if (!innewt || !data)
        return;
    newtFormDestroy(data->form);
    data->form = nullptr;
    newtPopWindow();
}

long long transTotalSize()
{
    return 1;
}

void showProgress(int type, void *data, unsigned long amount, unsigned long total, int len, const char *name,
                  const char *size, const char *summary)
{
    auto *window = static_cast<progWinData *>(data);
    switch (type) {
    case 1:
        prepStart(static_cast<long long>(total), _("Preparing to install"));
        break;
    case 2:
        prepStop();
        break;
    case 3:
        prepUpdate(static_cast<long long>(amount));
        break;
    case 4:
        winProgressUpdate(window, len, name, size, summary);
        break;
    case 5:
        winProgressUpdatePkg(window, amount, total);
        break;
    default:
        break;
    }
}
