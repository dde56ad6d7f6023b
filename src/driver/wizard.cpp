// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "driver/wizard.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "core/log.h"
#include "core/run_state.h"
#include "core/text.h"
#include "core/text_file.h"
#include "driver/backend.h"
#include "exec/runner.h"
#include "host/locate.h"
#include "dialogs/agreement.h"
#include "dialogs/choice.h"
#include "dialogs/dialog.h"

void check_root(const char *prog_name)
{
    if (getuid() != 0) {
        std::fprintf(stderr, _("%s can be run only as root\n"), prog_name);
        insExit(2);
    }
}

void show_header()
{
    std::string header = strprintf_cut(_("%s %d.%d Installer - %s"), PRODUCT_NAME, PRODUCT_VERSION_MAJOR,
                                       PRODUCT_VERSION_MINOR, PRODUCT_MAKER_NOTICE);
    addNewtHeader(header.c_str());
}

int show_welcome_screen()
{
    std::string title = strprintf_cut(_("%s Installer"), PRODUCT_NAME);
    std::string text = strprintf_cut(
        _("Welcome to %s Installer!\n\nInformation on installing %s is available in the installation guide "
          "supplied with this package. You can consult this document for assistance before continuing.\n\nClick "
          "\"Next\" to start the installation process.\nClick \"Cancel\" at any moment to stop installing."),
        PRODUCT_NAME, PRODUCT_NAME);
    if (!scrChoise(title.c_str(), text.c_str(), 1, 0))
        insExit(10);
    return 1;
}

int check_archive_packages(const char *const *files)
{
    std::string message;
    bool any_passed = false;
    for (const char *const *name = files; *name != nullptr; ++name) {
        if (check_file(*name) == 0) {
            any_passed = true;
            continue;
        }
        int error = errno;
        if (message.size() + std::strlen(*name) + 50 <= kTextMax)
            message = strprintf_cut(_("%s\nfile '%s': %s"), message.c_str(), *name, std::strerror(error));
    }
    if (any_passed && !message.empty())
        return scrChoise(_("Warning"), message.c_str(), 1, 0);
    if (!any_passed && !message.empty())
        Error(1, _("An error occurred when checking archives: %s"), message.c_str());
    return 1;
}

int get_installed()
{
    std::ifstream manifest(INSTALLED_MANIFEST);
    return manifest.is_open() ? 1 : 0;
}

int ask_action(int install_flag, int remove_flag)
{
    int id = 0;
    if (unattended) {
        id = install_flag ? 1 : (remove_flag ? 2 : 0);
    } else {
        const list_s choices[] = {{"Upgrade", 1}, {"Remove", 2}, {nullptr, 0}};
        id = scrSelectAction(_("Upgrade components"), _("Please select action to perform: "), choices, 0);
        if (id <= 0)
            insExit(10);
    }
    if (id == 1)
        return ACTION_UPGRADE;
    if (id == 2)
        return ACTION_REMOVE;
    write_log("inside error: action %i\n", id);
    insExit(10);
}

int selectComponents()
{
    return 5;
}

int license_agreement_show()
{
    auto license = get_filename("./", "LICENSE");
    if (!license)
        Error(1, _("License agreement file '%s' cannot be found"), "LICENSE");
    // A licence nobody can read is none to accept, in an unattended run
    // too: refused before anything is installed, as a missing one.
    std::string problem;
    const int fd = ::open(license->c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    struct stat st{};
    if (fd < 0)
        problem = std::strerror(errno);
    else if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        problem = _("it is not a regular file");
    else
        problem = text_file_problem(fd);
    // (Error ends the run: the descriptor goes with it.)
    if (!problem.empty())
        Error(1, _("License agreement file '%s' cannot be shown: %s"), license->c_str(), problem.c_str());
    // The file checked is the file shown: the screen reads it through the
    // same descriptor.
    return scrAgreementOf(_("License Agreement"), 0, fd, AGRT_LIC);
}

int check_disk_space(std::string &msg, std::size_t buf_size)
{
    std::string output;
    int status = execCmd2(DISK_SPACE_COMMAND, &output);
    if (status == DISK_SPACE_OK)
        return 0;
    if (status == DISK_SPACE_SHORT) {
        msg = output.empty() ? std::string("There is not enough space on the disk.") : output;
        // A NUL in the output ends the text, as in any C string shown; the
        // check's text cannot reorder or hide what the dialog (or, in an
        // unattended run, the terminal) shows: its controls are blanks, its
        // lines all there.
        msg = screen_text(msg);
        if (buf_size > 0)
            msg = cut_text(msg, buf_size - 1);
        return 1;
    }
    write_log("The free disk space could not be measured (the check ended with status %d); going on without it.\n",
              status);
    return -1;
}

void check_restrictions()
{
    if (!check_archive_packages(archive_files))
        insExit(10);

    if (get_installed()) {
        action = ask_action(unattended_install, unattended_remove);
    } else if (unattended_remove) {
        Error(1, _("%s is not installed"), PRODUCT_NAME);
    }

    if (selectComponents() <= 0)
        insExit(10);
    if (action == ACTION_REMOVE)
        return;

    if (!license_agreement_show())
        insExit(10);

    std::string message;
    while (true) {
        int verdict = check_disk_space(message, 4096);
        if (verdict == 0 || verdict == -1)
            return;
        if (unattended) {
            std::printf("%s\n", message.c_str());
            std::fflush(stdout);
            insExit(10);
        }
        if (!scrChoise(_("Not enough disk space"), message.c_str(), 1, 0))
            insExit(10);
    }
}

int show_finish_screen(int act, int show_reboot, int reboot_is_default)
{
    std::string title;
    std::string text;
    if (act == ACTION_UPGRADE) {
        title = strprintf_cut(_("%s Updating Completed"), PRODUCT_NAME);
        text = strprintf_cut(_("Congratulations!\n\nYou have successfully completed updating %s.\n"),
                             PRODUCT_LONG_NAME);
    } else if (act == ACTION_REMOVE) {
        title = strprintf_cut(_("%s Installation Completed"), PRODUCT_NAME);
        text = strprintf_cut(_("Congratulations!\n\nYou have successfully removed %s.\n\n"), PRODUCT_LONG_NAME);
    } else {
        title = strprintf_cut(_("%s Installation Completed"), PRODUCT_NAME);
        text = strprintf_cut(_("Congratulations!\n\nYou have successfully completed installing %s.\n\n"),
                             PRODUCT_LONG_NAME);
    }
    return scrFinished(title.c_str(), text.c_str(), show_reboot, reboot_is_default);
}

int show_remove_finish_screen(int *checkbox_select, int show_reboot, int reboot_is_default)
{
    std::string title = strprintf_cut(_("%s Installation Completed"), PRODUCT_NAME);
    std::string text = strprintf_cut(_("Congratulations!\n\nYou have successfully removed %s.\n\n"),
                                     PRODUCT_LONG_NAME);
    return scrFinishedWithCheckBox(title.c_str(), text.c_str(), _("Also remove the product settings"),
                                   checkbox_select, show_reboot, reboot_is_default);
}
