// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "driver/product_checks.h"

#include <cstdio>
#include <optional>
#include <string>

#include "core/log.h"
#include "core/run_state.h"
#include "core/text.h"
#include "driver/backend.h"
#include "driver/installation.h"
#include "exec/runner.h"
#include "host/locate.h"
#include "dialogs/choice.h"
#include "dialogs/dialog.h"
#include "screen/status_window.h"

int check_running_kestrane()
{
    if (check_file(SERVER_CONTROL) != 0) {
        write_log(_("The file %s cannot be found.\n"), SERVER_CONTROL);
        return 0;
    }
    int result = 0;
    while (true) {
        std::string output;
        int status = execCmd2(INSTALLATION_CHECK_COMMAND, &output);
        if (status == SERVER_RUNNING_A || status == SERVER_RUNNING_B) {
            const char *name = get_action_name(action);
            std::string question = strprintf_cut(
                _("You are about to start %s Tessaro Server. All running virtual machines will be shut down and all "
                  "active connections will be closed.\n\nDo you want to proceed to %s?"),
                name, name);
            if (!scrChoise(_("Warning"), question.c_str(), 1, 0))
                insExit(10);
            if (check_file(SERVER_SHUTDOWN_TOOL) == 0)
                execCmd(SERVER_SHUTDOWN_COMMAND);
            result = 0;
            break;
        }
        if (status != 0) {
            if (innewt && scrChoiseRetry(_("Error"), output.c_str(), 1))
                continue;
            result = 1;
            break;
        }
        result = 0;
        break;
    }
    if (check_file(NODE_INIT_SCRIPT) == 0)
        execCmd(NODE_STOP_COMMAND);
    return result;
}

int check_hardware_virtualization()
{
    auto tool = get_filename(TOOLS_DIR, "cpu_check");
    int result = 0;
    if (tool)
        result = execCmd(shell_quote(*tool).c_str());
    write_log("check_hardware_virtualization: %s return %i\n", tool ? tool->c_str() : "", result);
    return result;
}

int check_cpu_amd64()
{
    return execCmd("grep -qs '^flags\\>.*\\<lm\\>' /proc/cpuinfo") == 0 ? 1 : 0;
}

int check_conflicts()
{
    auto tool = get_filename(TOOLS_DIR, "conflict_check");
    std::string last_tool = tool ? *tool : "";
    int status = 0;
    std::string output;
    if (tool)
        status = execCmd2(shell_quote(*tool).c_str(), &output);
    if (status == CONFLICT_REMOVABLE || status == CONFLICT_BENCH) {
        std::string title = strprintf_cut(_("%s Installer"), PRODUCT_NAME);
        int answer = scrChoiseNextSkipCancel(title.c_str(), output.c_str(), 1);
        if (answer == 0)
            insExit(10);
        if (answer == 2) {
            if (status == CONFLICT_REMOVABLE) {
                action = ACTION_REMOVE_CONFLICT;
                install_full();
                action = ACTION_INSTALL;
            } else {
                winStatus(50, 5, nullptr, "%s", _("Please wait while Kestrane Bench 2.2 uninstallation is in progress"));
                auto remover = get_filename(TOOLS_DIR, "kb_remove");
                if (!remover) {
                    if (innewt)
                        winStatusStop();
                    else
                        std::fputs("\n", stdout);
                    Error(1, "%s", _("Error while removing Kestrane Bench 2.2."));
                }
                last_tool = *remover;
                execCmd(shell_quote(*remover).c_str());
                winStatusStop();
            }
        }
        status = 0;
    }
    write_log("check conflict products: %s return %i\n", last_tool.c_str(), status);
    return status;
}

void ask_xen_installation(int *is_xen)
{
    const list_s choices[] = {
        {"Migrate the entire server", 1},
        {"Migrate Xen virtual machines only", 2},
        {nullptr, 0},
    };
    int id = unattended ? 1
                        : scrSelectAction(_("Xen Virtualization Layer Detected"),
                                          _("The installer has detected the Xen virtualization layer on the server. "
                                            "Please choose what you want to migrate to the Tessaro server."),
                                          choices, 0);
    if (id <= 0)
        insExit(10);
    if (id == 1) {
        *is_xen = 0;
    } else if (id == 2) {
        *is_xen = 1;
    } else {
        write_log("internal error: action %i\n", id);
        insExit(10);
    }
}
