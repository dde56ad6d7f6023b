// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "driver/backend.h"

#include "core/text.h"

std::string pm_check_command(const char *product_code)
{
    return strprintf("./installer/pm.sh --check %s --lib-deps data/lib_deps", shell_quote(product_code).c_str());
}

std::string pm_install_command(const char *product_code, const std::string &log_file)
{
    return strprintf("./installer/pm.sh --install %s --lib-deps data/lib_deps --logfile %s",
                     shell_quote(product_code).c_str(), shell_quote(log_file).c_str());
}

std::string cli_installer_command(const std::string &log_file, const std::string &component_list,
                                  const std::string &extra_options, bool force, const char *options,
                                  const std::string &manifest)
{
    // Each value is quoted; the options text is a fixed fragment of several
    // words and stays as it is. Empty slots keep their blanks. Command lines
    // are never cut: a cut one would run something else.
    std::string log_value = shell_quote(log_file);
    std::string list = component_list.empty() ? std::string() : shell_quote(component_list);
    return strprintf("./installer-cli --verbose --logfile=%s --progress --define=\"kversion=$(uname -r)\" "
                     "%s %s %s %s %s %s 2>&1",
                     log_value.c_str(), component_list.empty() ? "" : "-s", list.c_str(), extra_options.c_str(),
                     force ? "--force" : "", options, shell_quote(manifest).c_str());
}
