// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// The wizard's steps around the installation run: root check, header,
// welcome, the preconditions of check_restrictions and the finish screens.
#pragma once

#include <cstddef>
#include <string>

void check_root(const char *prog_name);
void show_header();
int show_welcome_screen();
void check_restrictions();
int check_archive_packages(const char *const *files);
int get_installed();
int ask_action(int install_flag, int remove_flag);
int selectComponents();
int license_agreement_show();
int check_disk_space(std::string &msg, std::size_t buf_size);
int show_finish_screen(int act, int show_reboot, int reboot_is_default);
int show_remove_finish_screen(int *checkbox_select, int show_reboot, int reboot_is_default);
