// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// The installation run: the package step, the installer-cli runs with their
// progress and the recommendation of optional packages.
#pragma once

#include <string>

int install_full();
void run_installation();
int download_required_packages();
void run_cli_installer(const char *options, const char *manifest);
void run_cli_installer_parted(const char *options, const char *manifest, signed char num_parts, signed char part);

// The package lists printed by pm.sh.
int check_list_for_mandatory_packages(const std::string *list);
int check_list_empty(const std::string *list);
int prepare_output_message(std::string *msg);

// Readability probe: 1 when the file cannot be opened for reading.
int file_exists(const char *filename);

// Attempts of pm.sh --install before giving up.
inline constexpr int kInstallAttempts = 5;
