// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// Host probes and product checks, run in the sandbox against planted files
// and stub tools.
#include <gtest/gtest.h>
#include <unistd.h>

#include "host/probes.h"
#include "support/package_fixture.h"

namespace {

std::string release()
{
    std::string r = shell_output("uname -r");
    r.pop_back();
    return r;
}

} // namespace

TEST(Probes, MakeAndGccThroughTheShellsLookup)
{
    PackageFixture pkg;
    pkg.plant("/usr/bin/tools-only/make", "#!/bin/sh\n");
    EXPECT_EQ(pkg.run_routine({"probe", "check_make"}, {"PATH=/usr/bin/tools-only"}).out, "RESULT=1\n");
    EXPECT_EQ(pkg.run_routine({"probe", "check_gcc"}, {"PATH=/usr/bin/tools-only"}).out, "RESULT=0\n");
    EXPECT_NE(pkg.log().find("gcc: not found"), std::string::npos);
    EXPECT_NE(pkg.log().find(": execCmd: type gcc 2>&1 [127]\n"), std::string::npos);
    EXPECT_NE(pkg.log().find(": execCmd: type make 2>&1 [0]\n"), std::string::npos);
}

TEST(Probes, KernelHeadersInTheirOrder)
{
    PackageFixture pkg;
    std::string second = "/usr/lib/modules/" + release() + "/build/include/generated/uapi/linux/version.h";
    pkg.plant(second, "#define LINUX_VERSION_CODE 1\n", 0644);
    EXPECT_EQ(pkg.run_routine({"probe", "check_kernel_sources"}).out, "RESULT=1\n");
    std::string log = pkg.log();
    std::string first = "/lib/modules/" + release() + "/build/include/linux/version.h";
    std::string second_path = "/lib/modules/" + release() + "/build/include/generated/uapi/linux/version.h";
    std::size_t a = log.find(": check kernel " + first + "\n");
    std::size_t b = log.find(": check kernel " + first + " not found\n");
    std::size_t c = log.find(": check kernel " + second_path + "\n");
    EXPECT_TRUE(a != std::string::npos && b != std::string::npos && c != std::string::npos && a < b && b < c) << log;
    EXPECT_EQ(log.find("/usr/src/linux-"), std::string::npos);
    EXPECT_EQ(log.find(second_path + " not found"), std::string::npos);

    PackageFixture none;
    EXPECT_EQ(none.run_routine({"probe", "check_kernel_sources"}).out, "RESULT=0\n");
    EXPECT_NE(none.log().find("/usr/src/linux-" + release() + "/include/linux/version.h not found"), std::string::npos);

    PackageFixture directory;
    directory.plant("/usr/lib/modules/" + release() + "/build/include/linux/version.h/x", "", 0644);
    directory.plant("/usr/lib/modules/" + release() + "/build/include/generated/uapi/linux/version.h", "", 0644);
    ASSERT_EQ(symlink("/nowhere", (directory.state() + "/lib/upper/modules/" + release() +
                                   "/build/include/generated/uapi/linux/version.h.link")
                                      .c_str()),
              0);
    EXPECT_EQ(directory.run_routine({"probe", "check_kernel_sources"}).out, "RESULT=1\n");
}

TEST(Probes, ArchitectureIsAnExactMatch)
{
    PackageFixture pkg;
    EXPECT_EQ(pkg.run_routine({"probe", "arch_x86_64"}).out, "RESULT=1\n");
    std::vector<std::string> argv = {"setarch", "i686", SCREEN_DRIVER, "--text", "probe", "arch_x86_64"};
    EXPECT_EQ(run_process(argv).out, "RESULT=0\n");

    EXPECT_EQ(pkg.run_routine({"probe", "check_debian_x64"}).out, "RESULT=1\n");  // no /etc/lsb-release
    pkg.plant("/etc/lsb-release.real", "DISTRIB_ID=Debian\n", 0644);
    ASSERT_EQ(symlink("lsb-release.real", (pkg.state() + "/etc/upper/lsb-release").c_str()), 0);
    EXPECT_EQ(pkg.run_routine({"probe", "check_debian_x64"}).out, "RESULT=0\n");
    RunOptions driver;
    driver.program = SCREEN_DRIVER;
    std::vector<std::string> on_i686 = pkg.command({"--text", "probe", "check_debian_x64"}, driver);
    on_i686.insert(on_i686.begin() + 7, {"setarch", "i686"});
    ProcessResult r = run_process(on_i686, pkg.root());
    EXPECT_EQ(r.out, "RESULT=1\n");
}

TEST(Probes, ThirtyTwoBitLibcThroughTheLinkerCache)
{
    PackageFixture pkg;
    pkg.plant("/usr/sbin/ldconfig", "#!/bin/sh\necho '\tlibc.so.6 (libc6,x86-64) => /lib/x86_64-linux-gnu/libc.so.6'\n");
    pkg.plant("/usr/sbin/file", "#!/bin/sh\nfor f; do echo \"$f: ELF 64-bit LSB shared object\"; done\n");
    EXPECT_EQ(pkg.run_routine({"probe", "check_ia32_support"}).out, "RESULT=1\n");
    EXPECT_NE(pkg.log().find(std::string(": execCmd: ") + IA32_LIBC_COMMAND + " [1]\n"), std::string::npos);

    PackageFixture with32;
    with32.plant("/usr/sbin/ldconfig", "#!/bin/sh\necho '\tlibc.so.6 (libc6,x86-64) => /lib/x86_64-linux-gnu/libc.so.6'\n"
                                       "echo '\tlibc.so.6 (libc6) => /lib32/libc.so.6'\n");
    with32.plant("/usr/sbin/file", "#!/bin/sh\nfor f; do case $f in /lib32/*) echo \"$f: ELF 32-bit LSB\" ;; "
                                   "*) echo \"$f: ELF 64-bit LSB\" ;; esac; done\n");
    EXPECT_EQ(with32.run_routine({"probe", "check_ia32_support"}).out, "RESULT=0\n");
}

TEST(Probes, SelinuxScriptStatus)
{
    PackageFixture pkg;
    EXPECT_EQ(pkg.run_routine({"probe", "check_selinux"}).out, "RESULT=1\n");
    pkg.tool("installer/check_selinux.sh", "exit 1\n");
    EXPECT_EQ(pkg.run_routine({"probe", "check_selinux"}).out, "RESULT=0\n");
    pkg.write("installer/check_selinux.sh", "#!/bin/sh\nexit 0\n", 0644);  // not executable: 126
    EXPECT_EQ(pkg.run_routine({"probe", "check_selinux"}).out, "RESULT=0\n");
    pkg.remove("installer/check_selinux.sh");  // missing: 127
    EXPECT_EQ(pkg.run_routine({"probe", "check_selinux"}).out, "RESULT=0\n");
}

TEST(ProductChecks, RunningServerProduct)
{
    PackageFixture none;
    EXPECT_EQ(none.run_routine({"check_running_kestrane"}).out, "RESULT=0\n");
    EXPECT_NE(none.log().find(": The file /usr/bin/kstctl cannot be found.\n"), std::string::npos);
    EXPECT_EQ(none.log().find("execCmd"), std::string::npos);

    PackageFixture running;
    std::string record = "echo \"$0 $*\" >> " + sh_quote(running.root() + "/calls.log") + "\n";
    running.plant("/usr/bin/kstctl", "");
    running.plant("/usr/bin/kstsrvctl", "#!/bin/sh\n" + record);
    running.plant("/etc/init.d/kestrane-node", "#!/bin/sh\n" + record);
    running.tool("InstallationCheck", record + "exit 113\n");
    ProcessResult r = running.run_routine({"check_running_kestrane"}, {"SCREEN_DRIVER_UNATTENDED=1"});
    EXPECT_EQ(r.out, "RESULT=0\n");
    EXPECT_EQ(running.calls(), "./InstallationCheck \n/usr/bin/kstsrvctl shutdown --force\n/etc/init.d/kestrane-node stop\n");

    PackageFixture failing;
    failing.plant("/usr/bin/kstctl", "");
    failing.tool("InstallationCheck", "echo 'The server check failed.'\nexit 5\n");
    EXPECT_EQ(failing.run_routine({"check_running_kestrane"}, {"SCREEN_DRIVER_UNATTENDED=1"}).out, "RESULT=1\n");
}

TEST(ProductChecks, ConflictsAndProcessorChecks)
{
    PackageFixture pkg;
    EXPECT_EQ(pkg.run_routine({"check_conflicts"}).out, "RESULT=0\nACTION=1\n");
    EXPECT_NE(pkg.log().find(": check conflict products:  return 0\n"), std::string::npos);

    PackageFixture skipped;
    skipped.tool("installer/conflict_check", "echo 'An older product is installed.'\nexit 1\n");
    ProcessResult r = skipped.run_routine({"check_conflicts"}, {"SCREEN_DRIVER_UNATTENDED=1"});
    EXPECT_EQ(r.out, "RESULT=0\nACTION=1\n");
    EXPECT_EQ(skipped.calls(), "");
    EXPECT_NE(skipped.log().find(": check conflict products: ./installer/conflict_check return 0\n"), std::string::npos);

    PackageFixture other;
    other.tool("installer/conflict_check", "exit 7\n");
    EXPECT_EQ(other.run_routine({"check_conflicts"}).out, "RESULT=7\nACTION=1\n");

    PackageFixture cpu;
    cpu.tool("cpu_check", "exit 3\n");  // found one level up from ./installer/
    EXPECT_EQ(cpu.run_routine({"check_hardware_virtualization"}).out, "RESULT=3\n");
    EXPECT_NE(cpu.log().find(": check_hardware_virtualization: ./cpu_check return 3\n"), std::string::npos);
    PackageFixture no_cpu;
    EXPECT_EQ(no_cpu.run_routine({"check_hardware_virtualization"}).out, "RESULT=0\n");
    EXPECT_NE(no_cpu.log().find(": check_hardware_virtualization:  return 0\n"), std::string::npos);

    std::string lm = shell_output("grep -qs '^flags\\>.*\\<lm\\>' /proc/cpuinfo && echo 1 || echo 0");
    EXPECT_EQ(cpu.run_routine({"check_cpu_amd64"}).out, "RESULT=" + lm);
}

TEST(ProductChecks, XenQuestionUnattendedTakesTheWholeServer)
{
    PackageFixture pkg;
    EXPECT_EQ(pkg.run_routine({"ask_xen_installation"}, {"SCREEN_DRIVER_UNATTENDED=1"}).out, "RESULT=0\nIS_XEN=0\n");
}
