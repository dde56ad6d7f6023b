// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include <fcntl.h>
#include <libintl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/fatal_signals.h"
#include "core/locale.h"
#include "core/log.h"
#include "core/run_state.h"
#include "core/text.h"
#include "driver/command_line.h"
#include "driver/installation.h"
#include "driver/wizard.h"
#include "host/locate.h"
#include "host/run_lock.h"
#include "dialogs/dialog.h"
#include "screen/terminal_guard.h"

namespace {

// An interactive run without a usable screen says how to run without one,
// and ends.
[[noreturn]] void refuse_screen(const char *reason)
{
    std::string message = strprintf(_("The installer cannot start its text screen: %s.\nRun it with -i (install or "
                                       "upgrade) or -r (remove) to work without a screen.\n"),
                                     reason);
    std::fputs(message.c_str(), stderr);
    write_log("%s", message.c_str());
    insExit(1);
}

} // namespace

int main(int argc, char **argv)
{
    // Standard descriptors that were closed are opened on /dev/null before
    // anything else is opened: otherwise the lock file or the log would be
    // given their numbers, and messages would go into them.
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF && open("/dev/null", O_RDWR | O_NOCTTY) != fd)
            return 1;
    }
#ifdef INSTALLER_STATIC_PROGRAM
    drop_loader_variables(argv, true);
#else
    drop_loader_variables(argv, false);
#endif
    int reboot_required = 0;
    progName = argc > 0 && argv[0] != nullptr ? argv[0] : "install";
    progPath = getProgPath(progName);
    std::size_t slash = progPath.rfind('/');
    dirPath = slash == std::string::npos ? std::string() : progPath.substr(0, slash == 0 ? 1 : slash);

    if (!dirPath.empty() && chdir(dirPath.c_str()) != 0) {
        // The package root is looked for from wherever we are.
    }
    if (chdir("..") != 0) {
        // Same: relative package paths then fail with their own messages.
    }

    settle_locale();
    std::string locale_path = cut_text(strprintf("%s/../resources", dirPath.empty() ? "." : dirPath.c_str()));
    bindtextdomain("install", locale_path.c_str());
    textdomain("install");

    parseCmdLine(argc, const_cast<const char **>(argv));
    if (show_version)
        report_ver();
    if (!log_path)
        log_path = DEFAULT_LOG_PATH;
    if (help)
        usage(0);

    check_root(progName.c_str());
    // What the back end installs is readable by every user, whatever mask
    // the administrator's shell has.
    umask(022);
    arm_fatal_signals();
    take_installer_lock();
    write_log("\n\n%s %s Installer started.\n", PRODUCT_NAME, PRODUCT_VERSION);
    stop_earlier_backend();
    put_back_earlier_console_level();

    if (unattended) {
        write_log("Unattended install mode.\n");
    } else {
        std::string reason = screen_unusable_reason();
        if (!reason.empty())
            refuse_screen(reason.c_str());
        setup_console_level();
        if (!start_screen()) {
            restore_console_level();
            refuse_screen(_("the screen library failed to start"));
        }
        show_header();
    }

    setenv("KST_WRAPPER_LIBREPO", "", 1);

    show_welcome_screen();
    check_restrictions();
    install_full();

    reboot_required = show_finish_screen(action, reboot_required, reboot_required) != 0 && reboot_required;

    if (innewt) {
        stop_screen();
        restore_console_level();
    }
    if (reboot_required) {
        write_log("Going to reboot...\n");
        execl("/sbin/reboot", "/sbin/reboot", static_cast<char *>(nullptr));
    }
    // Every run ends with an entry, a successful one too: the log tells
    // whether a run finished.
    write_log("Exiting with code 0\n");
    make_log_durable();
    return 0;
}
