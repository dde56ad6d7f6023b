// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// The wizard's question and selection screens.
#pragma once

#include <newt.h>

struct list_s {
    const char *name;
    int id;
};

newtComponent scrChoiseForm(const char *title, const char *text, newtGrid btns);
int scrChoise(const char *title, const char *text, int def_btn, int print_in_newt);
int scrChoiseRetry(const char *title, const char *text, int def_btn);
int scrChoiseNextSkipCancel(const char *title, const char *text, int def_btn);
newtGrid listBoxGrid(newtComponent *pListBox, int height, int width, const list_s *list, const char *current);
newtGrid listGrid(newtComponent *pListBox, int height, int width, const list_s *list, const char *current);
int scrSelectAction(const char *title, const char *text, const list_s *types, int def);
int scrSelectComponents(const char *title, const char *text, const list_s *types, int def);
int srcSelectInstType(const char *title);
int scrChoiceCd();
