// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// The contract with the package's back-end tools: every command line the
// installer runs against them and the exit statuses it relies on.
#pragma once

#include <string>

#include "host/probes.h" // SELINUX_COMMAND, with the probe that runs it

// pm.sh
inline constexpr int PM_OK = 0;
inline constexpr int PM_BUSY = 123;             // another package manager is running
inline constexpr int PM_NO_PACKAGE_MANAGER = 124;
// check_disk_space.sh
inline constexpr int DISK_SPACE_OK = 0;
inline constexpr int DISK_SPACE_SHORT = 2;
// InstallationCheck
inline constexpr int SERVER_RUNNING_A = 112;
inline constexpr int SERVER_RUNNING_B = 113;
// conflict_check
inline constexpr int CONFLICT_REMOVABLE = 1;
inline constexpr int CONFLICT_BENCH = 2;

inline constexpr const char *PACKAGE_MANIFEST = "Manifest";
inline constexpr const char *INSTALLER_CLI = "./installer-cli";
inline constexpr const char *DISK_SPACE_COMMAND = "./installer/check_disk_space.sh 2>&1";
inline constexpr const char *INSTALLATION_CHECK_COMMAND = "./InstallationCheck";
inline constexpr const char *SERVER_CONTROL = "/usr/bin/kstctl";
inline constexpr const char *SERVER_SHUTDOWN_TOOL = "/usr/bin/kstsrvctl";
inline constexpr const char *SERVER_SHUTDOWN_COMMAND = "/usr/bin/kstsrvctl shutdown --force 2>&1";
inline constexpr const char *NODE_INIT_SCRIPT = "/etc/init.d/kestrane-node";
inline constexpr const char *NODE_STOP_COMMAND = "/etc/init.d/kestrane-node stop 2>&1";
inline constexpr const char *TOOLS_DIR = "./installer/";

// "./installer/pm.sh --check sdk --lib-deps data/lib_deps"
std::string pm_check_command(const char *product_code);
// "./installer/pm.sh --install sdk --lib-deps data/lib_deps --logfile LOG"
std::string pm_install_command(const char *product_code, const std::string &log_file);
// The installer-cli command line with its fixed slots. None of these lines
// is cut to the 4095 characters of displayed texts.
std::string cli_installer_command(const std::string &log_file, const std::string &component_list,
                                  const std::string &extra_options, bool force, const char *options,
                                  const std::string &manifest);
