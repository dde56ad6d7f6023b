// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// Representative unattended runs under valgrind's memcheck: no errors, no
// definite leaks.
#include <gtest/gtest.h>

#include "support/package_fixture.h"

namespace {

RunOptions under_memcheck(const PackageFixture &pkg)
{
    RunOptions options;
    options.wrapper = {"valgrind", "--quiet", "--error-exitcode=99", "--leak-check=full",
                       "--show-leak-kinds=definite", "--errors-for-leak-kinds=definite",
                       "--log-file=" + pkg.state() + "/memcheck.log"};
    return options;
}

bool have_valgrind()
{
#ifdef INSTALLER_SANITIZED
    return false;
#else
    return !shell_output("command -v valgrind").empty();
#endif
}

} // namespace

TEST(Memcheck, InstallUpgradeAndRemove)
{
    if (!have_valgrind())
        GTEST_SKIP() << "valgrind is not installed, or this is the sanitizer build";
    PackageFixture pkg;
    pkg.use_sample_backend();
    for (const char *option : {"-i", "-i", "-r"}) {
        ProcessResult r = pkg.run({option}, under_memcheck(pkg));
        EXPECT_EQ(r.status, 0) << option << "\n" << read_file(pkg.state() + "/memcheck.log");
    }
    EXPECT_FALSE(pkg.sdk_installed());
}

TEST(Memcheck, FailurePaths)
{
    if (!have_valgrind())
        GTEST_SKIP() << "valgrind is not installed, or this is the sanitizer build";
    struct Case {
        const char *name;
        std::string tool;
        std::string body;
        std::vector<std::string> args;
        int status;
    } cases[] = {
        {"back end fails", "installer-cli", "echo '[ 10%] x'\nexit 3\n", {"-i"}, 1},
        {"package step fails", "installer/pm.sh", "case \"$1\" in --check) echo 'm x' ;; --install) echo 'm x'; exit 1 ;; esac\n",
         {"-i"}, 1},
        {"five busy package managers", "installer/pm.sh",
         "case \"$1\" in --check) echo 'm x' ;; --install) exit 123 ;; esac\n", {"-i"}, 1},
        {"not enough disk space", "installer/check_disk_space.sh", "echo full\nexit 2\n", {"-i"}, 10},
        {"nothing to remove", "installer-cli", "exit 0\n", {"-r"}, 1},
        {"bad option", "installer-cli", "exit 0\n", {"--nonsense"}, 2},
    };
    for (const Case &c : cases) {
        PackageFixture pkg;
        pkg.tool(c.tool, c.body);
        ProcessResult r = pkg.run(c.args, under_memcheck(pkg));
        EXPECT_EQ(r.status, c.status) << c.name << "\n" << read_file(pkg.state() + "/memcheck.log");
    }
}
