// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "driver/command_line.h"

#include <popt.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/run_state.h"
#include "core/text.h"

namespace {

char *log_path_arg = nullptr;

struct poptOption options_table[] = {
    {"install", 'i', POPT_ARG_NONE, &unattended_install, 0, nullptr, nullptr},
    {"remove", 'r', POPT_ARG_NONE, &unattended_remove, 0, nullptr, nullptr},
    {"force", 'f', POPT_ARG_NONE, &force_mode, 0, nullptr, nullptr},
    {"help", 'h', POPT_ARG_NONE, &help, 0, nullptr, nullptr},
    {"version", 'v', POPT_ARG_NONE, &show_version, 0, nullptr, nullptr},
    {"log-path", '\0', POPT_ARG_STRING, &log_path_arg, 0, nullptr, nullptr},
    {nullptr, '\0', 0, nullptr, 0, nullptr, nullptr},
};

struct ContextRelease {
    void operator()(poptContext context) const { poptFreeContext(context); }
};

} // namespace

std::vector<std::string> option_spellings()
{
    std::vector<std::string> spellings;
    for (const poptOption *option = options_table; option->longName != nullptr || option->shortName != '\0';
         ++option) {
        if (option->shortName != '\0')
            spellings.push_back(std::string("-") + option->shortName);
        if (option->longName != nullptr)
            spellings.push_back(std::string("--") + option->longName);
    }
    return spellings;
}

CommandLineOutcome parse_command_line(int argc, const char **argv)
{
    CommandLineOutcome outcome;
    log_path_arg = nullptr;
    std::unique_ptr<poptContext_s, ContextRelease> context(
        poptGetContext("install", argc, argv, options_table, 0));
    poptReadDefaultConfig(context.get(), 1);

    int code = poptGetNextOpt(context.get());
    if (code < -1) {
        outcome.error = CommandLineError::BadOption;
        const char *option = poptBadOption(context.get(), POPT_BADOPTION_NOALIAS);
        outcome.argument = option != nullptr ? option : "";
        outcome.reason = poptStrerror(code);
    } else if (const char *leftover = poptGetArg(context.get())) {
        outcome.error = CommandLineError::Leftover;
        outcome.argument = leftover;
    } else if (unattended_install && unattended_remove) {
        outcome.error = CommandLineError::InstallAndRemove;
    } else if (log_path_arg != nullptr && std::strlen(log_path_arg) > kLogPathMax) {
        // -v and -h end the run before the log path is used.
        if (!show_version && !help)
            outcome.error = CommandLineError::LogPathTooLong;
    } else {
        if (unattended_install || unattended_remove)
            unattended = 1;
        if (log_path_arg != nullptr)
            log_path = std::string(log_path_arg);
    }
    std::free(log_path_arg);
    log_path_arg = nullptr;
    return outcome;
}

void parseCmdLine(int argc, const char **argv)
{
    CommandLineOutcome outcome = parse_command_line(argc, argv);
    switch (outcome.error) {
    case CommandLineError::None:
        return;
    case CommandLineError::BadOption:
        std::fprintf(stderr, _("%s: bad argument %s: %s\n"), progName.c_str(), outcome.argument.c_str(),
                     outcome.reason.c_str());
        usage(2);
    case CommandLineError::Leftover:
        std::fprintf(stderr, _("%s: bad argument %s\n"), progName.c_str(), outcome.argument.c_str());
        usage(2);
    case CommandLineError::InstallAndRemove:
        std::fprintf(stderr,
                     _("%s: unattended installing and unattended removal cannot be performed simultaneosly.\n"),
                     progName.c_str());
        std::exit(2);
    case CommandLineError::LogPathTooLong:
        std::fprintf(stderr, _("%s: the log path is longer than %u characters\n"), progName.c_str(), kLogPathMax);
        std::exit(2);
    }
}

void usage(int errCode)
{
    std::fprintf(stderr, _("%s installer %s\n"), PRODUCT_NAME, PRODUCT_VERSION);
    std::fputs(_("Usage: install [OPTION]\n"), stderr);
    std::fputs(_("       -i,--install                automatic (unattended) installation or upgrade \n"), stderr);
    std::fputs(_("       -r,--remove                 automatic (unattended) removal \n"), stderr);
    std::fputs(_("       -f,--force                  forced removing mode: skip errors and try to do as much as "
                 "possible \n"),
               stderr);
    std::fputs(_("       -h,--help                   display this help text\n"), stderr);
    std::fputs(_("       -v,--version                report version\n"), stderr);
    std::exit(errCode);
}

void report_ver()
{
    std::fprintf(stderr, _("%s installation %s\n"), PRODUCT_NAME, PRODUCT_VERSION);
    // The notices of the libraries linked into this one program, as their
    // licences ask of a program that shows its own, and where their
    // licences are.
    std::fputs(_("It holds code of these libraries, linked in:\n"
                 "  the GNU C Library: Copyright (C) 1991-2015 Free Software Foundation, Inc.; LGPL-2.1-or-later\n"
                 "  the GCC runtime libraries: Copyright (C) 1986-2019 Free Software Foundation, Inc.;\n"
                 "    GPL-3.0-or-later WITH GCC-exception-3.1\n"
                 "  newt: Copyright (C) 1996-2016 Red Hat, Inc.; LGPL-2.0-only\n"
                 "  S-Lang: Copyright (C) 1995-2011 John E. Davis; GPL-2.0-or-later\n"
                 "  popt: Copyright (c) 1998 Red Hat Software; MIT\n"
                 "Their copyright notices and licences in full, and where their sources are:\n"
                 "THIRD-PARTY-NOTICES in the package.\n"),
               stderr);
    std::exit(0);
}
