// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// Test-only program: calls one screen routine with the given arguments and,
// after the screen is closed, prints "RESULT=<value>" (and whatever else the
// routine hands back) so the terminal tests can check it.
//
//   screen_driver [--text] ROUTINE ARGS...
#include <libintl.h>
#include <newt.h>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/run_state.h"
#include "driver/product_checks.h"
#include "host/file_ops.h"
#include "host/probes.h"
#include "dialogs/text_dialogs.h"
#include "exec/progress_reader.h"
#include "exec/runner.h"
#include "dialogs/agreement.h"
#include "screen/buttons.h"
#include "dialogs/choice.h"
#include "dialogs/dialog.h"
#include "dialogs/progress.h"
#include "screen/status_window.h"
#include "screen/terminal_guard.h"

namespace {

const char *arg(const std::vector<std::string> &args, std::size_t i)
{
    if (i >= args.size() || args[i] == "-")
        return nullptr;
    return args[i].c_str();
}

int num(const std::vector<std::string> &args, std::size_t i)
{
    return i < args.size() ? std::atoi(args[i].c_str()) : 0;
}

// Shows a button bar in a window and reports which button ended the form.
int show_bar(const std::string &kind, int bar_width, const std::string &left = "Left",
             const std::string &right = "Right")
{
    newtComponent a = nullptr;
    newtComponent b = nullptr;
    newtComponent c = nullptr;
    newtGrid bar = nullptr;
    if (kind == "installButtons")
        bar = installButtons(bar_width, &a, &b);
    else if (kind == "installButtonsCancelOnly")
        bar = installButtons(bar_width, nullptr, &b);
    else if (kind == "installButtons2")
        bar = installButtons2(bar_width, &a, &b);
    else if (kind == "installButtons3")
        bar = installButtons3(bar_width, &a, left.c_str(), &b, right.c_str());
    else if (kind == "installButtonsWithTxt")
        bar = installButtonsWithTxt(bar_width, &a, &b, "Retry", "Cancel");
    else if (kind == "installButtonsNextSkipCancel")
        bar = installButtonsNextSkipCancel(bar_width, &a, &b, &c, "Next", "Skip", "Cancel");
    else if (kind == "licenseButtons")
        bar = licenseButtons(bar_width, &a, &b);
    else if (kind == "cepButtons")
        bar = cepButtons(bar_width, &a, &b);
    else if (kind == "finishButtons")
        bar = finishButtons(bar_width, &b, &a, 1);
    else if (kind == "finishButtonsExitOnly")
        bar = finishButtons(bar_width, &b, &a, 0);
    else if (kind == "compact")
        bar = newtCompactButtonBar("One", &a, "Two", &b, "Three", &c, static_cast<const char *>(nullptr));
    else if (kind == "compactSingle")
        bar = newtCompactButtonBar("Only", &a, static_cast<const char *>(nullptr));
    if (bar == nullptr)
        return -2;
    newtComponent form = newtForm(nullptr, nullptr, 0);
    newtGridAddComponentsToForm(bar, form, 1);
    newtGridWrappedWindow(bar, const_cast<char *>("Bar"));
    newtGridFree(bar, 1);
    newtComponent ended = newtRunForm(form);
    int result = ended == a ? 0 : ended == b ? 1 : ended == c ? 2 : -1;
    newtFormDestroy(form);
    newtPopWindow();
    return result;
}

// Marks the screen as ready in its top row and waits for a key, so that
// what the routine left on the screen stays visible.
void shown_and_wait(const char *marker)
{
    if (!innewt)
        return;
    newtDrawRootText(0, 0, marker);
    newtRefresh();
    newtWaitForKey();
}

} // namespace

int main(int argc, char **argv)
{
    std::setlocale(LC_ALL, "");
    bindtextdomain("install", RESOURCES_DIR);
    textdomain("install");
    std::vector<std::string> args(argv + 1, argv + argc);
    bool text_mode = false;
    if (!args.empty() && args[0] == "--text") {
        text_mode = true;
        args.erase(args.begin());
    }
    if (const char *log = std::getenv("SCREEN_DRIVER_LOG"))
        log_path = std::string(log);
    if (const char *mode = std::getenv("SCREEN_DRIVER_UNATTENDED"))
        unattended = std::atoi(mode);
    if (args.empty()) {
        std::fprintf(stderr, "usage: screen_driver [--text] ROUTINE ARGS...\n");
        return 2;
    }
    if (!text_mode) {
        if (!start_screen()) {
            std::fprintf(stderr, "cannot start the screen\n");
            return 3;
        }
    }
    const std::string routine = args[0];
    std::string extra;
    int result = 0;
    if (routine == "baseDialog") {
        result = baseDialog(arg(args, 1), arg(args, 2), arg(args, 3), nullptr, arg(args, 4), arg(args, 5), num(args, 6));
    } else if (routine == "baseDialogWidget") {
        newtComponent entry = newtLabel(-1, -1, "WIDGET-IN-THE-MIDDLE");
        result = baseDialog(arg(args, 1), arg(args, 2), arg(args, 3), entry, arg(args, 4), arg(args, 5), num(args, 6));
    } else if (routine == "show_message") {
        show_message(arg(args, 1), arg(args, 2));
    } else if (routine == "show_message2") {
        show_message2(arg(args, 1), arg(args, 2), arg(args, 3));
    } else if (routine == "show_strmessage") {
        show_strmessage(arg(args, 1), arg(args, 2));
    } else if (routine == "Cancel") {
        result = Cancel(0);
    } else if (routine == "Error") {
        Error(1, "%s", arg(args, 1));
    } else if (routine == "bar") {
        result = args.size() > 4 ? show_bar(args[1], num(args, 2), args[3], args[4])
                                 : show_bar(args.at(1), args.size() > 2 ? num(args, 2) : width);
    } else if (routine == "scrChoise") {
        result = scrChoise(arg(args, 1), arg(args, 2), num(args, 3), num(args, 4));
    } else if (routine == "scrChoiseRetry") {
        result = scrChoiseRetry(arg(args, 1), arg(args, 2), num(args, 3));
    } else if (routine == "scrChoiseNextSkipCancel") {
        result = scrChoiseNextSkipCancel(arg(args, 1), arg(args, 2), num(args, 3));
    } else if (routine == "scrSelectAction" || routine == "scrSelectComponents") {
        std::vector<list_s> list;
        for (std::size_t i = 3; i + 1 < args.size(); i += 2)
            list.push_back({args[i].c_str(), std::atoi(args[i + 1].c_str())});
        list.push_back({nullptr, 0});
        result = routine == "scrSelectAction" ? scrSelectAction(arg(args, 1), arg(args, 2), list.data(), 0)
                                              : scrSelectComponents(arg(args, 1), arg(args, 2), list.data(),
                                                                    std::atoi(std::getenv("DEF") ? std::getenv("DEF") : "0"));
    } else if (routine == "srcSelectInstType") {
        result = srcSelectInstType(arg(args, 1));
    } else if (routine == "scrChoiceCd") {
        result = scrChoiceCd();
    } else if (routine == "scrAgreement") {
        result = scrAgreement(arg(args, 1), num(args, 2), arg(args, 3), num(args, 4));
    } else if (routine == "scrFinished") {
        result = scrFinished(arg(args, 1), arg(args, 2), num(args, 3), num(args, 4));
    } else if (routine == "scrFinishedWithCheckBox") {
        int state = num(args, 4);
        result = scrFinishedWithCheckBox(arg(args, 1), arg(args, 2), arg(args, 3), &state, num(args, 5), num(args, 6));
        extra = "CHECKBOX=" + std::to_string(state);
    } else if (routine == "header") {
        addNewtHeader(arg(args, 1));
        result = baseDialog("Header", "Header shown", nullptr, nullptr, "Ok", nullptr, 0);
    } else if (routine == "wait") {
        result = execCmd3(arg(args, 1), nullptr, progress_func, arg(args, 2));
    } else if (routine == "exec_with_progress") {
        // Runs a command through the progress reader with the preparation
        // window up, as the installation run does; reports lines per second.
        progress_data record;
        record.num_parts = 1;
        record.action = ACTION_INSTALL;
        record.data = winSimpleProgress("Please wait");
        auto begin = std::chrono::steady_clock::now();
        result = exec_with_progress(arg(args, 1), &record, nullptr, 0);
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        record.data.reset();
        extra = "SECONDS=" + std::to_string(seconds) + "\nLAST=" + std::to_string(record.progress);
    } else if (routine == "winStatus") {
        winStatus(50, 5, arg(args, 1), "%s", arg(args, 2));
        shown_and_wait("Status shown");
        winStatusStop();
    } else if (routine == "prep") {
        prepStart(100, arg(args, 1));
        prepUpdate(num(args, 2));
        shown_and_wait("Bar shown");
        prepStop();
        prepStop();
    } else if (routine == "winProgress") {
        progress_handle window = winProgress(arg(args, 1));
        winProgressUpdate(window.get(), 10, "pkg-one", "10 KiB", "The first package");
        winProgressUpdatePkg(window.get(), static_cast<unsigned long>(num(args, 2)),
                             static_cast<unsigned long>(num(args, 3)));
        shown_and_wait("Package window shown");
        winProgressStop(std::move(window));
    } else if (routine == "layoutTextFromFile" || routine == "depDialog") {
        file_stream report(std::fopen(args.at(1).c_str(), "r"));
        int retry = -7;
        if (routine == "depDialog") {
            result = depDialog(report.get(), &retry);
            extra = "RETRY=" + std::to_string(retry);
        } else {
            newtComponent box = layoutTextFromFile(report.get());
            result = box != nullptr ? 1 : 0;
            if (box != nullptr)
                result = baseDialog("Report", nullptr, nullptr, box, "Ok", nullptr, 0);
        }
    } else if (routine == "missedPackages") {
        std::vector<const char *> names;
        for (std::size_t i = 1; i < args.size(); ++i)
            names.push_back(args[i].c_str());
        names.push_back(nullptr);
        missedPackages(names.data());
    } else if (routine == "WrongProxyCredentialsMessage") {
        result = WrongProxyCredentialsMessage();
    } else if (routine == "getProxyUserPassInput") {
        auth_pair pair;
        std::snprintf(pair.userName, sizeof pair.userName, "untouched-user");
        std::snprintf(pair.userPassword, sizeof pair.userPassword, "untouched-password");
        result = getProxyUserPassInput(arg(args, 1), &pair);
        extra = std::string("USER=") + pair.userName + "\nPASSWORD=" + pair.userPassword;
    } else if (routine == "read_stdin") {
        std::string line = read_stdin(arg(args, 1));
        extra = "LINE=[" + line + "]";
    } else if (routine == "probe") {
        const std::string probe = args.at(1);
        result = probe == "check_make"             ? check_make()
                 : probe == "check_gcc"            ? check_gcc()
                 : probe == "check_kernel_sources" ? check_kernel_sources()
                 : probe == "arch_x86_64"          ? arch_x86_64()
                 : probe == "check_ia32_support"   ? check_ia32_support()
                 : probe == "check_debian_x64"     ? check_debian_x64()
                 : probe == "check_selinux"        ? check_selinux()
                                                   : -99;
    } else if (routine == "check_running_kestrane") {
        result = check_running_kestrane();
    } else if (routine == "check_hardware_virtualization") {
        result = check_hardware_virtualization();
    } else if (routine == "check_cpu_amd64") {
        result = check_cpu_amd64();
    } else if (routine == "check_conflicts") {
        log_path = std::string(std::getenv("SCREEN_DRIVER_LOG") ? std::getenv("SCREEN_DRIVER_LOG") : DEFAULT_LOG_PATH);
        result = check_conflicts();
        extra = "ACTION=" + std::to_string(action);
    } else if (routine == "ask_xen_installation") {
        int is_xen = -1;
        ask_xen_installation(&is_xen);
        extra = "IS_XEN=" + std::to_string(is_xen);
    } else {
        std::fprintf(stderr, "unknown routine %s\n", routine.c_str());
        result = -99;
    }
    if (!text_mode)
        stop_screen();
    std::string report = "RESULT=" + std::to_string(result) + "\n";
    if (!extra.empty())
        report += extra + "\n";
    std::fputs(report.c_str(), stdout);
    if (const char *file = std::getenv("SCREEN_DRIVER_RESULT")) {
        if (std::FILE *out = std::fopen(file, "w")) {
            std::fputs(report.c_str(), out);
            std::fclose(out);
        }
    }
    return 0;
}
