// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// Button bars: right-aligned rows of full-size buttons padded against a
// screen width, and compact rows.
#pragma once

#include <newt.h>

#include <cstdarg>

newtGrid installButtons(int width, newtComponent *next, newtComponent *cancel);
newtGrid installButtons2(int width, newtComponent *next, newtComponent *cancel);
newtGrid installButtonsWithTxt(int width, newtComponent *left_btn, newtComponent *right_btn,
                               const char *left_btn_label, const char *right_btn_label);
newtGrid installButtons3(int width, newtComponent *lbt, const char *lbt_txt, newtComponent *rbt,
                         const char *rbt_txt);
newtGrid installButtonsNextSkipCancel(int width, newtComponent *next_btn, newtComponent *skip_btn,
                                      newtComponent *cancel_btn, const char *next_label,
                                      const char *skip_label, const char *cancel_label);
newtGrid licenseButtons(int width, newtComponent *accept, newtComponent *exit);
newtGrid cepButtons(int width, newtComponent *accept, newtComponent *exit);
newtGrid finishButtons(int width, newtComponent *reboot, newtComponent *exit, int show_reboot);

// Compact buttons one column apart; pairs of label and handle address after
// the first, ended by a null label. At most 49 buttons.
newtGrid newtCompactButtonBar(const char *button1, newtComponent *b1comp, ...);
newtGrid newtCompactButtonBarv(const char *button1, newtComponent *b1comp, va_list args);
