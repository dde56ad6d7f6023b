// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// The run state: process-wide values set at start-up and read by every step,
// the action of the run and the product constants.
#pragma once

#include <optional>
#include <string>

enum installAction {
    ACTION_INSTALL = 1,
    ACTION_UPGRADE = 2,
    ACTION_REMOVE = 3,
    ACTION_REMOVE_CONFLICT = 4,
    ACTION_DOWNLOAD = 5,
};

// Untranslated display name of an action ("installing", ...), "unknown" for
// anything else.
const char *get_action_name(int act);

inline constexpr const char *PRODUCT_NAME = "Tessaro Virtualization SDK";
inline constexpr const char *PRODUCT_SHORT_NAME = "Tessaro SDK";
inline constexpr const char *PRODUCT_LONG_NAME = "Tessaro Virtualization SDK for Linux";
inline constexpr const char *PRODUCT_VERSION = KST_VERSION;
inline constexpr int PRODUCT_VERSION_MAJOR = KST_VERSION_MAJOR;
inline constexpr int PRODUCT_VERSION_MINOR = KST_VERSION_MINOR;
inline constexpr const char *PRODUCT_MAKER_NOTICE = "(c) Tessaro Systems";
inline constexpr const char *DEFAULT_LOG_PATH = "/var/log/kestrane-sdk-install.log";
inline constexpr const char *INSTALLED_MANIFEST = "/usr/share/kestrane-virtualization-sdk/Manifest";

extern int action;
extern std::string components;
extern const char *const archive_files[];
extern const char *product_codename;
extern int remove_config;
extern int unattended_install;
extern int unattended_remove;
extern int unattended;
extern int force_mode;
extern int help;
extern int show_version;
extern std::optional<std::string> log_path;
extern int innewt;
extern std::string opt_packages_not_installed;
extern std::string progName;
extern std::string progPath;
extern std::string dirPath;
