// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// Text reports, dependency and missing-package dialogs, the proxy
// credential dialogs, the console prompt and the masking entry filter.
#pragma once

#include <newt.h>

#include <cstdio>
#include <string>

struct auth_pair {
    char userName[4096];
    char userPassword[4096];
};

newtComponent layoutTextFromFile(std::FILE *file);
int depDialog(std::FILE *file, int *retry);
void missedPackages(const char *const *lines);
int WrongProxyCredentialsMessage();
int getProxyUserPassInput(const char *title, auth_pair *ret);
// The line read, without its line end; empty at the end of input.
std::string read_stdin(const char *mess);
int passwdfilter(newtComponent entry, void *data, int ch, int cursor);

// The report text as the text box gets it before reflowing: each doubled
// line end becomes a blank and a line end.
std::string layout_report_text(std::string text);
