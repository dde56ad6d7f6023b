// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// Consecutive unattended install and remove cycles of the sample SDK: the
// installer's descriptors and memory do not grow, the log keeps every run
// in order, and nothing of the SDK is left. INSTALLER_SOAK_CYCLES sets the
// number of cycles (make soak runs 1,000).
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <vector>

#include "support/package_fixture.h"

namespace {

int cycles()
{
    const char *text = std::getenv("INSTALLER_SOAK_CYCLES");
    return text != nullptr ? std::atoi(text) : 25;
}

} // namespace

TEST(Soak, InstallAndRemoveCycles)
{
    PackageFixture pkg;
    pkg.use_sample_backend();
    // The package check reports the installer's own descriptors and memory:
    // the installer is the parent of the shell that runs this script.
    pkg.tool("installer/pm.sh", "installer=$(ps -o ppid= -p $PPID | tr -d ' ')\n"
                                "fds=$(ls /proc/\"$installer\"/fd | wc -l)\n"
                                "rss=$(awk '/^VmRSS/ { print $2 }' /proc/\"$installer\"/status)\n"
                                "echo \"$fds $rss\" >> " + sh_quote(pkg.root() + "/usage.log") + "\nexit 0\n");
    const int n = cycles();
    for (int i = 0; i < n; ++i) {
        ProcessResult install = pkg.run({"-i"});
        ASSERT_EQ(install.status, 0) << "cycle " << i << ": " << install.err;
        ASSERT_TRUE(pkg.sdk_installed()) << "cycle " << i;
        ProcessResult remove = pkg.run({"-r"});
        ASSERT_EQ(remove.status, 0) << "cycle " << i << ": " << remove.err;
    }
    EXPECT_FALSE(pkg.sdk_installed());
    EXPECT_FALSE(pkg.installed("/etc/kestrane-sdk/sdk.conf"));
    EXPECT_FALSE(pkg.installed("/usr/share/kestrane-virtualization-sdk"));

    std::istringstream usage(read_file(pkg.root() + "/usage.log"));
    int fds = 0;
    long rss = 0;
    int first_fds = -1;
    std::vector<long> memory;
    while (usage >> fds >> rss) {
        if (first_fds < 0)
            first_fds = fds;
        EXPECT_EQ(fds, first_fds) << "sample " << memory.size();
        memory.push_back(rss);
    }
    ASSERT_EQ(static_cast<int>(memory.size()), n);
    // Each run is a process of its own, so its resident size varies a little
    // from run to run; what must not happen is a trend. Compare the mean of
    // the last fifth of the runs with that of the first fifth.
    std::size_t fifth = std::max<std::size_t>(1, memory.size() / 5);
    long early = 0;
    long late = 0;
    for (std::size_t i = 0; i < fifth; ++i) {
        early += memory[i];
        late += memory[memory.size() - 1 - i];
    }
    early /= static_cast<long>(fifth);
    late /= static_cast<long>(fifth);
    EXPECT_LE(late, early + 256) << "resident memory grew from " << early << " to " << late << " KiB";
    long first_rss = early;
    long max_rss = late;

    // Every run's entries, in order: start, mode, and its installer-cli run.
    std::string log = pkg.log();
    std::size_t at = 0;
    for (int i = 0; i < 2 * n; ++i) {
        at = log.find("Installer started.\n", at);
        ASSERT_NE(at, std::string::npos) << "run " << i;
        std::size_t next = log.find("Installer started.\n", at + 1);
        std::string run = log.substr(at, next == std::string::npos ? std::string::npos : next - at);
        EXPECT_NE(run.find(i % 2 == 0 ? "-i Manifest 2>&1 0\n" : "-e /usr/share/kestrane-virtualization-sdk/Manifest 2>&1 0\n"),
                  std::string::npos)
            << "run " << i;
        EXPECT_NE(run.find("Unattended install mode.\n"), std::string::npos) << "run " << i;
        at = next == std::string::npos ? log.size() : next;
    }
    std::printf("soak: %d cycles, %d descriptors throughout, resident memory %ld KiB early, %ld KiB late\n", n,
                first_fds, first_rss, max_rss);
}
