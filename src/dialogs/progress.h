// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// Progress windows: the one-bar preparation window, the simple progress
// handle and the two-bar package window with its dispatcher.
#pragma once

#include <newt.h>

#include <memory>

using showProgressFn = void (*)(int type, void *data, unsigned long amount, unsigned long total, int len,
                                const char *name, const char *size, const char *summary);

struct progWinData {
    showProgressFn f = nullptr;
    newtComponent form = nullptr;
    newtComponent name = nullptr;
    newtComponent size = nullptr;
    newtComponent summary = nullptr;
    newtComponent pkgscale = nullptr;
    newtComponent pkgpercent = nullptr;
    newtComponent totalscale = nullptr;
    newtComponent totalpercent = nullptr;
    unsigned long oldSize = 0;
    unsigned long curSize = 0;
    int len = 0;

    progWinData() = default;
    progWinData(const progWinData &) = delete;
    progWinData &operator=(const progWinData &) = delete;
    ~progWinData();
};

using progress_handle = std::unique_ptr<progWinData>;

void prepStart(long long fullValue, const char *title);
void prepUpdate(long long amount);
void prepStop();

progress_handle winSimpleProgress(const char *title);
progress_handle winProgress(const char *title);
void winProgressUpdate(progWinData *data, int len, const char *name, const char *size, const char *summary);
void winProgressUpdatePkg(progWinData *data, unsigned long amount, unsigned long total);
void winProgressStop(progress_handle data);
long long transTotalSize();
void showProgress(int type, void *data, unsigned long amount, unsigned long total, int len, const char *name,
                  const char *size, const char *summary);
