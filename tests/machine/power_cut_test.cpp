// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// What a run reports survives a power cut, and whatever a cut leaves, the
// next run finishes or removes: the shipped package on a virtual machine
// whose power is cut (support/machine.sh, support/power-cut.sh), with a
// payload large enough that a run crosses the file system's commit
// interval.
#include <gtest/gtest.h>

#include <string>

#include "support/package_fixture.h"

namespace {

struct Cut {
    const char *action; // install, upgrade (from an older package) or remove
    const char *when;   // after the run reported, or during it
    const char *seconds;
};

std::ostream &operator<<(std::ostream &out, const Cut &cut)
{
    return out << cut.action << " " << cut.when << " " << cut.seconds << " s";
}

class PowerCut : public testing::TestWithParam<Cut> {};

} // namespace

TEST_P(PowerCut, ReportedStateIsOnTheDiskAndTheNextRunsFinishIt)
{
    const Cut &cut = GetParam();
    TempDir scratch;
    ASSERT_TRUE(file_exists(MACHINE_KERNEL)) << MACHINE_KERNEL << ": make deps fetches the machine's kernel";
    ASSERT_EQ(run_process({"tar", "xzf", PACKAGE_TARBALL, "-C", scratch.path()}).status, 0);
    const std::string package = shell_output("ls -d " + sh_quote(scratch.path()) + "/tessaro-*");
    ProcessResult r = run_process({"sh", POWER_CUT_SCRIPT, scratch / "machine", package.substr(0, package.size() - 1),
                                   cut.action, cut.when, cut.seconds},
                                  "", {"MACHINE_KERNEL=" MACHINE_KERNEL});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    std::printf("%s", r.out.c_str());
}

// Both kinds of cut for each action: 0.5 to 6 s after the report, and at
// points early and late in the run (an upgrade takes about 10 s here).
INSTANTIATE_TEST_SUITE_P(Rows, PowerCut,
                         testing::Values(Cut{"install", "after", "1"}, Cut{"upgrade", "after", "0.5"},
                                         Cut{"upgrade", "after", "6"}, Cut{"remove", "after", "2"},
                                         Cut{"install", "during", "3.5"}, Cut{"upgrade", "during", "2"},
                                         Cut{"upgrade", "during", "7"}, Cut{"remove", "during", "1.5"}),
                         [](const testing::TestParamInfo<Cut> &info) {
                             std::string name = std::string(info.param.action) + "_" + info.param.when + "_" +
                                                info.param.seconds;
                             for (char &c : name)
                                 if (c == '.')
                                     c = '_';
                             return name;
                         });
