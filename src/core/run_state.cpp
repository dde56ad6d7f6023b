// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "core/run_state.h"

int action = ACTION_INSTALL;
std::string components;
const char *const archive_files[] = {"installer-cli", nullptr};
const char *product_codename = "sdk";
int remove_config = 1;
int unattended_install = 0;
int unattended_remove = 0;
int unattended = 0;
int force_mode = 0;
int help = 0;
int show_version = 0;
std::optional<std::string> log_path;
int innewt = 0;
std::string opt_packages_not_installed;
std::string progName;
std::string progPath;
std::string dirPath;

const char *get_action_name(int act)
{
    switch (act) {
    case ACTION_INSTALL:
        return "installing";
    case ACTION_UPGRADE:
        return "upgrading";
    case ACTION_REMOVE:
    case ACTION_REMOVE_CONFLICT:
        return "removing";
    case ACTION_DOWNLOAD:
        return "downloading";
    default:
        return "unknown";
    }
}
