// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "driver/installation.h"

#include <cctype>
#include <cstdio>
#include <fstream>

#include "core/log.h"
#include "core/run_state.h"
#include "core/text.h"
#include "driver/backend.h"
#include "exec/progress_reader.h"
#include "exec/runner.h"
#include "host/file_ops.h"
#include "dialogs/choice.h"
#include "dialogs/dialog.h"
#include "dialogs/progress.h"

int check_list_for_mandatory_packages(const std::string *list)
{
    return (list != nullptr && !list->empty() && (*list)[0] == 'm') ? 1 : 0;
}

int check_list_empty(const std::string *list)
{
    if (list == nullptr)
        return 1;
    for (char c : *list) {
        if (c == '\0')
            break;
        if (std::isalnum(static_cast<unsigned char>(c)))
            return 0;
    }
    return 1;
}

int prepare_output_message(std::string *msg)
{
    if (msg == nullptr)
        return 1;
    // The list is the back end's text: nothing in it may reorder or hide
    // what the dialog shows, nor reach the terminal as a control (printed
    // after an unattended run, an escape sequence would colour it). A NUL
    // ends it, as it ends any C string shown on screen.
    *msg = screen_text(*msg);
    bool rewrite = true;
    for (std::size_t i = 0; i < msg->size(); ++i) {
        char c = (*msg)[i];
        if (rewrite && (c == 'm' || c == 'o') && i + 1 < msg->size() && (*msg)[i + 1] == ' ') {
            (*msg)[i] = '-';
            rewrite = false;
        }
        if (c == '\n')
            rewrite = true;
    }
    return 0;
}

int file_exists(const char *filename)
{
    std::ifstream file(filename);
    return file.is_open() ? 0 : 1;
}

int download_required_packages()
{
    std::string output;
    int status = execCmd2(pm_check_command(product_codename).c_str(), &output);
    if (status == PM_OK) {
        if (check_list_empty(&output))
            return 0;
    } else if (status == PM_NO_PACKAGE_MANAGER) {
        if (check_list_for_mandatory_packages(&output)) {
            prepare_output_message(&output);
            Error(1,
                  _("Installer cannot detect package manager on your system. Install the following packages and "
                    "rerun Tessaro SDK installation:\n%s"),
                  output.c_str());
        }
        return 0;
    } else {
        Error(1, "%s",
              _("Unable to identify the missing components. Please contact the Tessaro support team for "
                "assistance."));
    }

    prepare_output_message(&output);
    std::string question =
        strprintf_cut(_("You need to install the following components before you can proceed:\n%sDo you want to "
                        "install them now?"),
                      output.c_str());
    if (!scrChoise(_("Component Installation"), question.c_str(), 1, 0))
        insExit(10);

    const std::string command = pm_install_command(product_codename, log_path.value_or(""));
    for (int attempt = 0; attempt < kInstallAttempts; ++attempt) {
        // Every attempt starts without output, so that a quiet success never
        // presents an earlier attempt's list as its own.
        std::string attempt_output;
        status = execCmd3(command.c_str(), &attempt_output, progress_func, nullptr);
        if (status == PM_BUSY && attempt < kInstallAttempts - 1) {
            if (!scrChoiseRetry(_("Error"),
                                _("Failed to install required packages because another instance of package manager "
                                  "is already running. You may retry or cancel installation."),
                                1))
                insExit(10);
            continue;
        }
        if (status == PM_OK) {
            opt_packages_not_installed = attempt_output;
            return 0;
        }
        if (check_list_for_mandatory_packages(&attempt_output)) {
            prepare_output_message(&attempt_output);
            Error(1,
                  _("An error occurred while installing the following packages:\n%s\nInstall these packages manually "
                    "and start the Tessaro SDK installation again."),
                  attempt_output.c_str());
        }
        Error(1, "%s", _("An unknown error occurred while installing the required packages."));
    }
    return 0;
}

namespace {

// Why the back end failed, as the administrator is told.
std::string backend_failure_message()
{
    const std::string lost = log_entries_lost();
    // A log that could not be written is no place to send anyone to.
    std::string message =
        lost.empty() ? strprintf(_("Error during configuration %s. Look at %s for more information."), PRODUCT_NAME,
                                 log_path.value_or("").c_str())
                     : strprintf(_("Error during configuration %s. The installer log %s cannot be written (%s)."),
                                 PRODUCT_NAME, log_path.value_or("").c_str(), lost.c_str());
    // On the screen, the back end's own last words below it (an unattended
    // run has passed them on to standard error as they came).
    if (innewt && !last_backend_lines().empty()) {
        message += std::string("\n\n") + _("The back end said:");
        for (const std::string &line : last_backend_lines())
            message += "\n" + screen_text(cut_text(line, 200));
    }
    return cut_text(message);
}

} // namespace

void run_cli_installer_parted(const char *options, const char *manifest, signed char num_parts, signed char part)
{
    std::string command =
        cli_installer_command(log_path.value_or(""), components, "", force_mode != 0, options, manifest);
    progress.progress = 0;
    progress.num_parts = num_parts; // NOLINT(bugprone-signed-char-misuse,cert-str34-c): small signed numbers
    progress.part = part;           // NOLINT(bugprone-signed-char-misuse,cert-str34-c)
    progress.message[0] = '\0';
    progress.done = 0;
    progress.action = action;
    int result = exec_with_progress(command.c_str(), &progress, nullptr, 0);
    if (result != 0)
        Error(1, "%s", backend_failure_message().c_str());
}

void run_cli_installer(const char *options, const char *manifest)
{
    run_cli_installer_parted(options, manifest, 1, 0);
}

void run_installation()
{
    switch (action) {
    case ACTION_INSTALL:
        download_required_packages();
        run_cli_installer("-i", PACKAGE_MANIFEST);
        break;
    case ACTION_UPGRADE:
        download_required_packages();
        run_cli_installer_parted("-e --skip-sections config", INSTALLED_MANIFEST, 2, 0);
        run_cli_installer_parted("-i", PACKAGE_MANIFEST, 2, 1);
        break;
    case ACTION_REMOVE:
        components.clear();
        run_cli_installer(remove_config ? "-e" : "-e --skip-sections config", INSTALLED_MANIFEST);
        break;
    case ACTION_REMOVE_CONFLICT:
        components.clear();
        run_cli_installer("-e", PACKAGE_MANIFEST);
        break;
    default:
        break;
    }
    // Nothing is reported done (the recommendation says the SDK was
    // installed) before it is on the disk.
    make_changes_durable();

    if (!opt_packages_not_installed.empty()) {
        prepare_output_message(&opt_packages_not_installed);
        std::string message = strprintf_cut(
            _("%s was successfully installed, but we recommend you to install the following packages as well:\n%s"),
            PRODUCT_SHORT_NAME, opt_packages_not_installed.c_str());
        show_message2(message.c_str(), _("Ok"), _("Components installation"));
        opt_packages_not_installed.clear();
    }
}

int install_full()
{
    std::string message = cut_text(strprintf(_("Please wait while %s is in progress"), get_action_name(action)), 1023);
    progress.data = winSimpleProgress(message.c_str());
    run_installation();
    progress.data.reset();
    return 1;
}
