// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// The dialog core: the generic dialog, message boxes, the cancel
// confirmation, the fatal-error and exit path and the console message level.
#pragma once

#include <newt.h>

#include <functional>

// Common width in columns of the wizard's screens.
inline constexpr int width = 60;

extern int console_levels[4];

int baseDialog(const char *caption, const char *label, const char *label1, newtComponent co,
               const char *button0, const char *button1, int defbutton);
// The same with the widget between the texts made by `make_co`, anew
// whenever the dialog is made anew for another terminal size (a widget
// made once, as above, keeps the dialog as it was first laid out).
int baseDialog(const char *caption, const char *label, const char *label1,
               const std::function<newtComponent()> &make_co, const char *button0, const char *button1,
               int defbutton);

[[noreturn]] void Error(int errCode, const char *text, ...) __attribute__((format(printf, 2, 3)));
[[noreturn]] void insExit(int errcode);
int Cancel(int err);

void show_message(const char *mess, const char *button);
void show_message2(const char *mess, const char *button, const char *title);
void show_strmessage(const char *mess, const char *button);

// Lowers the console message level for the wizard (the levels found are
// kept where a later run finds them) and puts it back.
void setup_console_level();
void restore_console_level();
// Puts back the levels an earlier run lowered and was killed before it
// could put them back; call before this run reads them.
void put_back_earlier_console_level();
