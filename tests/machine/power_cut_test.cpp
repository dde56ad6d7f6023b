// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// The shipped package on a virtual machine (support/machine.sh). What a run
// reports survives a power cut, and whatever a cut leaves, the next run
// finishes or removes (support/power-cut.sh), with a payload large enough
// that a run crosses the file system's commit interval. The wizard on the
// machine's own console keeps kernel messages off its screen while it is
// up, and lets them through again once it has ended
// (support/machine-console.py). On a machine whose first process is
// systemd, every process of a back-end command is held in its scope
// (support/machine-systemd.sh).
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "support/package_fixture.h"

namespace {

struct Cut {
    const char *action; // install, upgrade (from an older package) or remove
    const char *when;   // after the run reported, or during it
    const char *seconds;
    bool backend_syncs = true; // false: the back end syncs nothing, as a vendor's may not
};

std::ostream &operator<<(std::ostream &out, const Cut &cut)
{
    return out << cut.action << " " << cut.when << " " << cut.seconds << " s"
               << (cut.backend_syncs ? "" : ", a back end that does not sync");
}

class PowerCut : public testing::TestWithParam<Cut> {};

// The shipped package, unpacked under `into`: its root.
std::string unpacked_package(const TempDir &into)
{
    EXPECT_EQ(run_process({"tar", "xzf", PACKAGE_TARBALL, "-C", into.path()}).status, 0);
    std::string package = shell_output("ls -d " + sh_quote(into.path()) + "/tessaro-*");
    return package.substr(0, package.size() - 1);
}

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

} // namespace

TEST_P(PowerCut, ReportedStateIsOnTheDiskAndTheNextRunsFinishIt)
{
    const Cut &cut = GetParam();
    TempDir scratch;
    ASSERT_TRUE(file_exists(MACHINE_KERNEL)) << MACHINE_KERNEL << ": make deps fetches the machine's kernel";
    ProcessResult r = run_process({"sh", POWER_CUT_SCRIPT, scratch / "machine", unpacked_package(scratch),
                                   cut.action, cut.when, cut.seconds},
                                  "", {"MACHINE_KERNEL=" MACHINE_KERNEL,
                                       std::string("MACHINE_BACKEND_SYNCS=") + (cut.backend_syncs ? "yes" : "no")});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    std::printf("%s", r.out.c_str());
}

// Both kinds of cut for each action: 0.5 to 6 s after the report, and at
// points early and late in the run (an upgrade takes about 10 s here); and
// an upgrade by a back end that syncs nothing, which only the installer's
// own sync makes durable.
INSTANTIATE_TEST_SUITE_P(Rows, PowerCut,
                         testing::Values(Cut{"install", "after", "1"}, Cut{"upgrade", "after", "0.5"},
                                         Cut{"upgrade", "after", "6"}, Cut{"remove", "after", "2"},
                                         Cut{"install", "during", "3.5"}, Cut{"upgrade", "during", "2"},
                                         Cut{"upgrade", "during", "7"}, Cut{"remove", "during", "1.5"},
                                         Cut{"upgrade", "after", "1", false}),
                         [](const testing::TestParamInfo<Cut> &info) {
                             std::string name = std::string(info.param.action) + "_" + info.param.when + "_" +
                                                info.param.seconds + (info.param.backend_syncs ? "" : "_unsynced");
                             for (char &c : name)
                                 if (c == '.')
                                     c = '_';
                             return name;
                         });

// The wizard on the machine's VGA console (TERM=linux): its screen, read
// from QEMU, is the welcome the terminal tests capture; kernel errors and
// warnings written while it is up leave it as it was; after SIGTERM the
// console levels are back and the next kernel error shows. With SCREENS_WRITE
// set, the picture goes to docs/screens as make screens takes it.
TEST(Console, KernelMessagesStayOffTheWizardWhileItIsUp)
{
    TempDir scratch;
    ASSERT_TRUE(file_exists(MACHINE_KERNEL)) << MACHINE_KERNEL << ": make deps fetches the machine's kernel";
    const std::string package = unpacked_package(scratch);
    ASSERT_EQ(run_process({"sh", MACHINE_SCRIPT, "disk", scratch / "machine", package, package, "1", "1"}).status, 0);
    ProcessResult r = run_process({"python3", MACHINE_CONSOLE_SCRIPT, scratch / "machine", scratch / "out", "300"}, "",
                                  {"MACHINE_KERNEL=" MACHINE_KERNEL});
    const std::string serial = read_file(scratch / "out/serial.txt");
    ASSERT_EQ(r.status, 0) << r.out << r.err << serial;

    // The window as the terminal tests capture it at 80x24 stands whole on
    // the console's 80x25 (the header and the help line aside).
    const std::string welcome = read_file(scratch / "out/welcome.txt");
    std::vector<std::string> captured = lines_of(read_file(SOURCE_DIR "/docs/screens/01-welcome.txt"));
    ASSERT_GT(captured.size(), 20u);
    std::string window;
    for (std::size_t row = 3; row + 4 < captured.size(); ++row)
        window += captured[row] + "\n";
    EXPECT_NE(welcome.find(window), std::string::npos) << welcome << "--- captured:\n" << window;
    EXPECT_EQ(lines_of(welcome).front(), captured.front());

    EXPECT_EQ(read_file(scratch / "out/during.txt"), welcome);
    EXPECT_NE(read_file(scratch / "out/after.txt").find("tessaro-test: level 3 after the wizard"), std::string::npos)
        << read_file(scratch / "out/after.txt");
    EXPECT_NE(serial.find("TESSARO levels before 4 4 1 7"), std::string::npos) << serial;
    EXPECT_NE(serial.find("TESSARO wizard up levels 3 4 1 7"), std::string::npos) << serial;
    EXPECT_NE(serial.find("TESSARO wizard ended levels 4 4 1 7"), std::string::npos) << serial;
    if (const char *screens = std::getenv("SCREENS_WRITE")) {
        const std::string picture = std::string(screens) + "/15-console-welcome.png";
        EXPECT_EQ(run_process({"cp", scratch / "out/welcome.png", picture}).status, 0);
    }
}

// A run killed outright while its back end's worker has left the command's
// session and closed every descriptor: the next run stops the worker with
// the command's scope. A daemon that a command which ended left behind is
// never stopped.
TEST(SystemdHost, EveryProcessOfABackEndCommandIsHeld)
{
    TempDir scratch;
    ASSERT_TRUE(file_exists(MACHINE_KERNEL)) << MACHINE_KERNEL << ": make deps fetches the machine's kernel";
    ASSERT_TRUE(file_exists(MACHINE_SYSTEMD_ROOT)) << MACHINE_SYSTEMD_ROOT << ": make deps makes it";
    const std::string package = unpacked_package(scratch);
    ASSERT_EQ(run_process({"sh", MACHINE_SCRIPT, "systemd-disk", scratch / "machine", package, MACHINE_SYSTEMD_ROOT})
                  .status,
              0);
    ProcessResult r = run_process({"sh", MACHINE_SCRIPT, "boot", scratch / "machine", "systemd", "400"}, "",
                                  {"MACHINE_KERNEL=" MACHINE_KERNEL});
    EXPECT_NE(r.out.find("tessaro: result worker=gone daemon=alive first=0 second=0 scope=yes"), std::string::npos)
        << r.out;
}
