// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// make bench: how much the installer adds to its back end's time, and how
// fast the progress bar follows the back end's progress lines.
//
//  1. Unattended: wall time of an unattended install whose back end prints
//     100,000 progress lines, divided by the wall time of the same back-end
//     commands run directly by sh. Goal: at most 1.05.
//  2. On screen: progress lines per second through the progress reader with
//     the preparation window up in a terminal, against whiptail --gauge fed
//     the same percentages. Goal: at least as fast.
//  3. The shipped installer (a static program) against the installer as
//     earlier packages shipped it (the same libraries linked in, the host's
//     C library) and against the development build: start-up to the welcome
//     screen in a terminal, and the wall time of the unattended install of
//     1, median of alternated runs. Goal: neither slower. And the sizes of
//     the tarball and of each installer compressed as the tarball does.
//  4. The fleet roll-out: wall time and CPU time of the playbook, with the
//     settings that ship beside it, installing the package on 1, 4 and 8
//     fresh test hosts, and of the run after it, which finds every host up
//     to date. CPU time (the controller's and the hosts' ssh sessions) is
//     steadier than wall time on a shared machine. Goals per host: at most
//     2 CPU-seconds fresh, 0.5 up to date.
//  5. Durable: wall time of the unattended install of the sample back end
//     with a payload of 2,000 files of 100 KB, as it is (every file synced
//     before the run reports), against the same run with every sync taken
//     out (sync, syncfs, fsync and fdatasync made no-ops by a preloaded
//     library): what the installer did before its changes were made
//     durable. Median of alternated runs. Goal: at most 1.15.
// `installer_bench fleet` (or another part's name: unattended, shipped,
// screen, durable) runs that part alone.
#include <pty.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>
#include <memory>
#include <string>
#include <functional>
#include <vector>

#ifdef PACKAGE_TARBALL
#include "support/fleet.h"
#endif
#include "support/package_fixture.h"
#include "support/terminal.h"

namespace {

constexpr int kLines = 100000;
constexpr int kRounds = 15;

const std::string kProgressLines = "awk 'BEGIN { for (i = 0; i < " + std::to_string(kLines) +
                                   "; i++) printf \"[%3d%%] step %d\\n\", i * 100 / " + std::to_string(kLines) +
                                   ", i }'";

double seconds_of(const std::function<void()> &work)
{
    auto begin = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double unattended_ratio()
{
    PackageFixture pkg;
    pkg.tool("installer-cli", kProgressLines + "\n");
    pkg.tool("installer/pm.sh", "exit 0\n");
    pkg.tool("installer/check_disk_space.sh", "exit 0\n");
    // The same back-end commands, run by sh in the same sandbox, their
    // output read through a pipe as any reader of it must.
    pkg.tool("direct.sh", "cd \"$(dirname \"$0\")\"\n./installer/check_disk_space.sh 2>&1 | cat >/dev/null\n"
                          "./installer/pm.sh --check sdk --lib-deps data/lib_deps | cat >/dev/null\n"
                          "./installer-cli --verbose --logfile=/var/log/kestrane-sdk-install.log --progress "
                          "--define=\"kversion=$(uname -r)\" -i Manifest 2>&1 | cat >/dev/null\n");
    RunOptions direct;
    direct.program = pkg.root() + "/direct.sh";
    std::vector<double> installer;
    std::vector<double> shell;
    for (int round = 0; round < kRounds; ++round) {
        shell.push_back(seconds_of([&] { pkg.run({}, direct); }));
        installer.push_back(seconds_of([&] {
            if (pkg.run({"-i"}).status != 0)
                std::printf("the unattended install failed\n");
        }));
    }
    double ratio = median(installer) / median(shell);
    std::printf("unattended install, %d progress lines: installer %.3f s, sh alone %.3f s, ratio %.3f (goal <= 1.05)\n",
                kLines, median(installer), median(shell), ratio);
    return ratio;
}

#ifdef SHIPPED_INSTALLER
// Seconds from starting the installer in a fresh pseudo-terminal until the
// welcome screen's text has been written to it.
double seconds_to_welcome(const PackageFixture &pkg)
{
    std::vector<std::string> argv = pkg.command({});
    std::vector<char *> args;
    for (std::string &word : argv)
        args.push_back(word.data());
    args.push_back(nullptr);
    struct winsize size{};
    size.ws_col = 80;
    size.ws_row = 24;
    int master = -1;
    auto begin = std::chrono::steady_clock::now();
    pid_t child = forkpty(&master, nullptr, nullptr, &size);
    if (child == 0) {
        if (chdir(pkg.state().c_str()) != 0)
            _exit(126);
        setenv("TERM", "screen", 1);
        setenv("LANG", "C.UTF-8", 1);
        execvp(args[0], args.data());
        _exit(127);
    }
    std::string seen;
    char buffer[4096];
    double elapsed = -1;
    while (true) {
        ssize_t got = read(master, buffer, sizeof buffer);
        if (got <= 0)
            break;
        seen.append(buffer, static_cast<std::size_t>(got));
        if (seen.find("Welcome to") != std::string::npos) {
            elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
            break;
        }
    }
    kill(child, SIGTERM);
    // Drain the pty until the child is gone, so that it can restore the
    // terminal and exit.
    while (read(master, buffer, sizeof buffer) > 0) {
    }
    close(master);
    waitpid(child, nullptr, 0);
    return elapsed;
}
#endif

void shipped_against_development()
{
#ifdef SHIPPED_INSTALLER
    struct Build {
        const char *name;
        std::string program;
        std::unique_ptr<PackageFixture> pkg;
        std::vector<double> start;
        std::vector<double> run;
    };
    Build builds[] = {{"static (shipped)", SHIPPED_INSTALLER, std::make_unique<PackageFixture>(), {}, {}},
                      {"host's C library (earlier packages)", DYNAMIC_LIBC_INSTALLER,
                       std::make_unique<PackageFixture>(), {}, {}},
                      {"development", "", std::make_unique<PackageFixture>(), {}, {}}};
    for (Build &build : builds) {
        if (!build.program.empty())
            std::filesystem::copy_file(build.program, build.pkg->program(),
                                       std::filesystem::copy_options::overwrite_existing);
    }
    for (int round = 0; round < 31; ++round) {
        for (Build &build : builds)
            build.start.push_back(seconds_to_welcome(*build.pkg));
    }
    for (Build &build : builds) {
        build.pkg->tool("installer-cli", kProgressLines + "\n");
        build.pkg->tool("installer/pm.sh", "exit 0\n");
    }
    for (int round = 0; round < kRounds; ++round) {
        for (Build &build : builds)
            build.run.push_back(seconds_of([&] { build.pkg->run({"-i"}); }));
    }
    const Build &shipped = builds[0];
    for (const Build &build : builds) {
        std::printf("%-36s start-up to the welcome screen %.1f ms, unattended install (%d progress lines) %.3f s",
                    build.name, median(build.start) * 1000, kLines, median(build.run));
        if (&build != &shipped)
            std::printf(" (static/this: %.3f, %.3f; goal <= 1)", median(shipped.start) / median(build.start),
                        median(shipped.run) / median(build.run));
        if (!build.program.empty())
            std::printf(", %s bytes compressed",
                        shell_output("gzip -n -9 < " + build.program + " | wc -c | tr -d '\\n'").c_str());
        std::printf("\n");
    }
    std::printf("tarball: %lld bytes\n", static_cast<long long>(std::filesystem::file_size(PACKAGE_TARBALL)));
#else
    std::printf("this build makes no shipped installer\n");
#endif
}

#ifdef PACKAGE_TARBALL
// CPU-seconds a process has used, with those of the children it has reaped.
double cpu_seconds_of(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::size_t end = text.rfind(')');
    if (end == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(end + 2));
    std::vector<std::string> field((std::istream_iterator<std::string>(fields)), std::istream_iterator<std::string>());
    // utime, stime, cutime and cstime: the 14th to 17th fields.
    if (field.size() < 15)
        return 0;
    double ticks = 0;
    for (int i = 11; i <= 14; ++i)
        ticks += std::stod(field[static_cast<std::size_t>(i)]);
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

std::vector<pid_t> children_of(pid_t parent)
{
    std::vector<pid_t> found;
    for (const auto &entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream stat(entry.path() / "stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        std::size_t end = text.rfind(')');
        if (end != std::string::npos && std::atoi(text.c_str() + end + 4) == parent)
            found.push_back(std::stoi(name));
    }
    return found;
}

// The hosts' sshd: every session it ran, once the session has ended.
double hosts_cpu_seconds(const std::vector<TestHost *> &hosts)
{
    double total = 0;
    for (const TestHost *host : hosts) {
        pid_t sshd = std::atoi(read_file(host->host.state() + "/sshd.pid").c_str());
        // The sessions end when the controller's connections close; wait
        // for the sshd to have reaped them.
        for (int i = 0; i < 200 && !children_of(sshd).empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        total += cpu_seconds_of(sshd);
    }
    return total;
}

struct PlayCost {
    double wall = 0;
    double controller = 0;
    double hosts = 0;
    int failed = 0;
};

// One play against the hosts: its wall time, and the CPU time of the
// controller (ansible-playbook, its workers and its ssh connections, which
// this process adopts as they outlive the play) and of the hosts.
PlayCost measured_play(const Fleet &fleet, const std::vector<TestHost *> &hosts)
{
    rusage before{};
    getrusage(RUSAGE_CHILDREN, &before);
    double hosts_before = hosts_cpu_seconds(hosts);
    PlayCost cost;
    PlaybookRun run;
    cost.wall = seconds_of([&] { run = fleet.play(hosts, {}); });
    // The connections that ansible keeps open for a while are ended, so
    // that what they cost is counted here.
    for (pid_t child : children_of(getpid())) {
        std::ifstream comm("/proc/" + std::to_string(child) + "/comm");
        std::string name;
        comm >> name;
        if (name == "ssh") {
            kill(child, SIGTERM);
            waitpid(child, nullptr, 0);
        }
    }
    rusage after{};
    getrusage(RUSAGE_CHILDREN, &after);
    auto seconds = [](const timeval &t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    cost.controller = seconds(after.ru_utime) + seconds(after.ru_stime) - seconds(before.ru_utime) - seconds(before.ru_stime);
    cost.hosts = hosts_cpu_seconds(hosts) - hosts_before;
    for (TestHost *host : hosts)
        cost.failed += run.recap[host->name()].failed != 0 ? 1 : 0;
    return cost;
}
#endif

void fleet_roll_out()
{
#ifdef PACKAGE_TARBALL
    // The ssh connections that ansible leaves running become this
    // process's children, so that their CPU time can be counted.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    Fleet fleet;
    std::printf("fleet roll-out (goals: CPU-seconds per host, controller and hosts together, at 8 hosts and "
                "more: <= 0.8 fresh, <= 0.3 up to date)\n");
    for (int count : {1, 4, 8, 16}) {
        std::vector<std::unique_ptr<TestHost>> owned;
        std::vector<TestHost *> hosts;
        for (int i = 0; i < count; ++i) {
            owned.push_back(std::make_unique<TestHost>("host" + std::to_string(i), fleet.keys()));
            hosts.push_back(owned.back().get());
        }
        for (TestHost *host : hosts) {
            if (!host->wait_ready()) {
                std::printf("fleet: %s did not start\n", host->name().c_str());
                return;
            }
        }
        for (const char *kind : {"fresh", "up to date"}) {
            PlayCost cost = measured_play(fleet, hosts);
            // The machine's load beside it: CPU time per host grows with it.
            double load = 0;
            std::ifstream("/proc/loadavg") >> load;
            std::printf("  %2d host%s, %-10s: wall %5.1f s; CPU per host %.2f s (controller %.2f, host %.2f); "
                        "load %.1f%s\n",
                        count, count == 1 ? " " : "s", kind, cost.wall, (cost.controller + cost.hosts) / count,
                        cost.controller / count, cost.hosts / count, load, cost.failed != 0 ? " (some hosts failed)" : "");
        }
    }
#else
    std::printf("this build makes no package\n");
#endif
}

double screen_lines_per_second()
{
    TempDir dir;
    std::vector<double> rates;
    for (int round = 0; round < 3; ++round) {
        Terminal term(80, 24);
        term.start(sh_quote(SCREEN_DRIVER) + " exec_with_progress " + sh_quote(kProgressLines) + " > " +
                       sh_quote(dir / "report"),
                   {"LANG=C.UTF-8"});
        term.wait_exit(std::chrono::minutes(5));
        std::string report = read_file(dir / "report");
        std::size_t at = report.find("SECONDS=");
        if (at == std::string::npos)
            return 0;
        rates.push_back(kLines / std::stod(report.substr(at + 8)));
    }
    return median(rates);
}

double whiptail_lines_per_second()
{
    if (shell_output("command -v whiptail").empty())
        return 0;
    TempDir dir;
    std::vector<double> rates;
    std::string percentages = "awk 'BEGIN { for (i = 0; i < " + std::to_string(kLines) + "; i++) print int(i * 100 / " +
                              std::to_string(kLines) + ") }'";
    for (int round = 0; round < 3; ++round) {
        Terminal term(80, 24);
        term.start("start=$(date +%s.%N); " + percentages + " | whiptail --gauge 'Please wait' 6 50 0; end=$(date +%s.%N); "
                   "echo \"$start $end\" > " + sh_quote(dir / "times"),
                   {"LANG=C.UTF-8"});
        term.wait_exit(std::chrono::minutes(5));
        double start = 0;
        double end = 0;
        if (std::sscanf(read_file(dir / "times").c_str(), "%lf %lf", &start, &end) != 2 || end <= start)
            return 0;
        rates.push_back(kLines / (end - start));
    }
    return median(rates);
}

} // namespace

void durable_against_unsynced()
{
    constexpr int kFiles = 2000;
    constexpr int kRuns = 3;
    PackageFixture pkg;
    pkg.use_sample_backend();
    std::string manifest = read_file(pkg.root() + "/Manifest");
    std::ofstream(pkg.root() + "/filler") << std::string(100 * 1024, 'x');
    std::filesystem::create_directories(pkg.root() + "/payload/bulk");
    for (int i = 0; i < kFiles; ++i) {
        const std::string name = "payload/bulk/f" + std::to_string(i);
        std::filesystem::copy_file(pkg.root() + "/filler", pkg.root() + "/" + name);
        manifest += name + " /usr/share/kestrane-virtualization-sdk/bulk/" + std::to_string(i % 20) + "/f" +
                    std::to_string(i) + "\n";
    }
    pkg.write("Manifest", manifest);
    RunOptions unsynced;
    unsynced.env = {"LD_PRELOAD=" NO_SYNC_LIBRARY};
    std::vector<double> durable;
    std::vector<double> plain;
    for (int round = 0; round < kRuns; ++round) {
        for (bool sync : {true, false}) {
            // A fresh install each time: the removal before it is not timed.
            if (pkg.sdk_installed())
                pkg.run({"-r"});
            shell_output("sync");
            const double took = seconds_of([&] {
                if (pkg.run({"-i"}, sync ? RunOptions{} : unsynced).status != 0)
                    std::printf("the unattended install failed\n");
            });
            (sync ? durable : plain).push_back(took);
        }
    }
    std::printf("durable install, %d files of 100 KB: synced %.2f s, without syncing %.2f s, ratio %.2f "
                "(goal <= 1.15); load %s",
                kFiles, median(durable), median(plain), median(durable) / median(plain),
                read_file("/proc/loadavg").c_str());
}

int main(int argc, char **argv)
{
    const std::string only = argc > 1 ? argv[1] : "";
    if (only.empty() || only == "durable")
        durable_against_unsynced();
    if (only.empty() || only == "unattended")
        unattended_ratio();
    if (only.empty() || only == "shipped")
        shipped_against_development();
    if (only.empty() || only == "fleet")
        fleet_roll_out();
    if (!only.empty() && only != "screen")
        return 0;
    double ours = screen_lines_per_second();
    double theirs = whiptail_lines_per_second();
    std::printf("on screen: installer %.0f lines/s", ours);
    if (theirs > 0)
        std::printf(", whiptail --gauge %.0f lines/s, ratio %.2f (goal >= 1)\n", theirs, ours / theirs);
    else
        std::printf(" (whiptail not installed: apt-get install whiptail)\n");
    return 0;
}
