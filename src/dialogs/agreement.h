// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// The header line, the agreement screen and the finish screens.
#pragma once

#include <cstddef>

enum AGRT_MODE { AGRT_LIC = 0, AGRT_CEP = 1 };

// Rows the agreement box keeps however small the terminal is.
inline constexpr int kAgreementMinRows = 1;

void addNewtHeader(const char *title);
int scrAgreement(const char *title, int def_butt, const char *filename, int mode);
// As scrAgreement, for a file its caller opened and checked: `fd` is the
// file shown, owned (and closed) from here on.
int scrAgreementOf(const char *title, int def_butt, int fd, int mode);
int scrFinished(const char *title, const char *finaltext, int show_reboot, int reboot_is_default);
int scrFinishedWithCheckBox(const char *title, const char *final_text, const char *checkbox_text,
                            int *checkbox_select, int show_reboot, int reboot_is_default);
