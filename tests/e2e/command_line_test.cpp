// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <set>
#include <tuple>

#include "driver/command_line.h"
#include "support/package_fixture.h"

namespace {

const std::string kUsage =
    "Tessaro Virtualization SDK installer 3.1.0.412\n"
    "Usage: install [OPTION]\n"
    "       -i,--install                automatic (unattended) installation or upgrade \n"
    "       -r,--remove                 automatic (unattended) removal \n"
    "       -f,--force                  forced removing mode: skip errors and try to do as much as possible \n"
    "       -h,--help                   display this help text\n"
    "       -v,--version                report version\n";

} // namespace

TEST(CommandLine, VersionForAnyUserBeforeAnyLogLine)
{
    PackageFixture pkg;
    for (bool nobody : {false, true}) {
        RunOptions options;
        options.as_nobody = nobody;
        for (auto args : {std::vector<std::string>{"-v"}, {"--version"}, {"-v", "-h"}}) {
            ProcessResult r = pkg.run(args, options);
            EXPECT_EQ(r.status, 0);
            // The version, then the linked libraries' notices and where
            // their licences are.
            EXPECT_EQ(r.err, "Tessaro Virtualization SDK installation 3.1.0.412\n"
                             "It holds code of these libraries, linked in:\n"
                             "  the GNU C Library: Copyright (C) 1991-2015 Free Software Foundation, Inc.; "
                             "LGPL-2.1-or-later\n"
                             "  the GCC runtime libraries: Copyright (C) 1986-2019 Free Software Foundation, Inc.;\n"
                             "    GPL-3.0-or-later WITH GCC-exception-3.1\n"
                             "  newt: Copyright (C) 1996-2016 Red Hat, Inc.; LGPL-2.0-only\n"
                             "  S-Lang: Copyright (C) 1995-2011 John E. Davis; GPL-2.0-or-later\n"
                             "  popt: Copyright (c) 1998 Red Hat Software; MIT\n"
                             "Their copyright notices and licences in full, and where their sources are:\n"
                             "THIRD-PARTY-NOTICES in the package.\n");
            EXPECT_EQ(r.out, "");
        }
    }
    EXPECT_FALSE(file_exists(pkg.state() + "/log/kestrane-sdk-install.log"));
}

TEST(CommandLine, HelpForAnyUser)
{
    PackageFixture pkg;
    RunOptions nobody;
    nobody.as_nobody = true;
    for (const RunOptions &options : {RunOptions{}, nobody}) {
        ProcessResult r = pkg.run({"-h"}, options);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, kUsage);
    }
    EXPECT_EQ(pkg.log(), "");
}

TEST(CommandLine, InstallAndRemoveTogetherAreRefused)
{
    PackageFixture pkg;
    for (auto args : {std::vector<std::string>{"-i", "-r"}, {"-r", "-i", "-h"}, {"--install", "--remove", "-v"}}) {
        ProcessResult r = pkg.run(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, pkg.program() +
                             ": unattended installing and unattended removal cannot be performed simultaneosly.\n");
    }
    EXPECT_EQ(pkg.log(), "");
}

TEST(CommandLine, BadOptionsPrintTheirLineAndTheUsage)
{
    PackageFixture pkg;
    struct Case {
        std::vector<std::string> args;
        std::string line;
    } cases[] = {
        {{"-x"}, ": bad argument -x: unknown option\n"},
        {{"-?"}, ": bad argument -?: unknown option\n"},
        {{"--usage"}, ": bad argument --usage: unknown option\n"},
        {{"--log-path"}, ": bad argument --log-path: missing argument\n"},
        {{"extra", "more"}, ": bad argument extra\n"},
        // Every option is read before any is acted on.
        {{"-h", "-x"}, ": bad argument -x: unknown option\n"},
        {{"-i", "-x"}, ": bad argument -x: unknown option\n"},
    };
    for (const Case &c : cases) {
        ProcessResult r = pkg.run(c.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, pkg.program() + c.line + kUsage);
    }
}

TEST(CommandLine, OverlongLogPathIsRefused)
{
    PackageFixture pkg;
    ProcessResult r = pkg.run({"-i", "--log-path=/tmp/" + std::string(10000, 'l')});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("the log path is longer than 4095 characters"), std::string::npos);
    // At the limit and one past it.
    std::string at_limit = "/var/log/" + std::string(4095 - 9, 'l');
    r = pkg.run({"-i", "--log-path=" + at_limit});
    EXPECT_EQ(r.status, 0) << r.err;
    r = pkg.run({"-i", "--log-path=" + at_limit + "l"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("the log path is longer than 4095 characters"), std::string::npos);
    // -v and -h end the run before the log path matters.
    for (const char *option : {"-v", "-h"}) {
        r = pkg.run({option, "--log-path=/tmp/" + std::string(10000, 'l')});
        EXPECT_EQ(r.status, 0) << option;
        EXPECT_NE(r.err.find("Tessaro Virtualization SDK"), std::string::npos) << option;
    }
}

TEST(CommandLine, NonRootIsRefusedWithOnlyTheExitLine)
{
    // A log root made for everyone, and one the run makes itself in a
    // directory of its own user's.
    for (bool made_by_root : {true, false}) {
        PackageFixture pkg;
        std::filesystem::create_directories(pkg.state() + "/log/nobody");
        ASSERT_EQ(chown((pkg.state() + "/log/nobody").c_str(), 65534, 65534), 0);
        std::string log = pkg.state() + "/log/nobody/run.log";
        if (made_by_root) {
            write_file(log, "");
            chmod(log.c_str(), 0666);
        }
        RunOptions nobody;
        nobody.as_nobody = true;
        ProcessResult r = pkg.run({"-i", "--log-path=" + log}, nobody);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, pkg.program() + " can be run only as root\n");
        std::string content = read_file(log);
        EXPECT_EQ(content.substr(std::min(content.find(": "), content.size())), ": Exiting with code 2\n") << made_by_root;
    }
}

// The manual pages, English and German, name every option of the program's
// option table in its order and nothing else, and every status the program
// can end with; the statuses are read from the sources, so that a new one
// cannot be left out.
TEST(CommandLine, ManualPagesNameEveryOptionAndEveryStatus)
{
    std::set<int> statuses = {0, 128 + SIGHUP, 128 + SIGINT, 128 + SIGTERM};
    const std::regex ends(R"((?:^|[^_\w])(?:insExit|Error|usage|exit)\((\d+)[,)])");
    for (const auto &entry : std::filesystem::recursive_directory_iterator(std::string(SOURCE_DIR) + "/src")) {
        const std::string source = read_file(entry.path().string());
        for (std::sregex_iterator it(source.begin(), source.end(), ends), end; it != end; ++it)
            statuses.insert(std::stoi((*it)[1]));
    }
    EXPECT_EQ(statuses, (std::set<int>{0, 1, 2, 10, 129, 130, 143}));

    for (const auto &[page, options_heading, status_heading] :
         {std::tuple{"install.8.scd", "# OPTIONS", "# EXIT STATUS"},
          std::tuple{"install.de.8.scd", "# OPTIONEN", "# EXIT-STATUS"}}) {
        const std::string text = read_file(std::string(SOURCE_DIR) + "/docs/" + page);
        auto section = [&](const std::string &heading) {
            std::size_t start = text.find(heading + "\n");
            std::size_t end = text.find("\n# ", start + 1);
            return start == std::string::npos ? std::string() : text.substr(start, end - start);
        };
        // An entry is a line of its own that starts with the term in bold.
        std::vector<std::string> options;
        const std::string listed = section(options_heading);
        const std::regex option_term(R"((?:^|\n)\*(-[-a-z]*)\*(?:, \*(--[-a-z]+)\*)?)");
        for (std::sregex_iterator it(listed.begin(), listed.end(), option_term), end; it != end; ++it) {
            for (int group : {1, 2}) {
                if ((*it)[group].matched)
                    options.push_back((*it)[group]);
            }
        }
        EXPECT_EQ(options, option_spellings()) << page;

        std::set<int> documented;
        const std::string described = section(status_heading);
        const std::regex status_term(R"(\n\*(\d+)\*(?:, \*(\d+)\*)*)");
        const std::regex number(R"(\*(\d+)\*)");
        for (std::sregex_iterator it(described.begin(), described.end(), status_term), end; it != end; ++it) {
            const std::string line = it->str();
            for (std::sregex_iterator n(line.begin(), line.end(), number), none; n != none; ++n)
                documented.insert(std::stoi((*n)[1]));
        }
        EXPECT_EQ(documented, statuses) << page;
    }
}
