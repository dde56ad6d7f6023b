// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "exec/runner.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

#include "core/run_state.h"
#include "support/log_to_temp.h"
#include "support/process.h"

namespace {

int count(const std::string &text, const std::string &needle)
{
    int n = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++n;
    return n;
}

} // namespace

TEST(Runner, QuietCommandLeavesTheBufferAndLogsOnlyItsStatus)
{
    LogToTemp log;
    std::string mess = "earlier";
    EXPECT_EQ(execCmd2("true", &mess), 0);
    EXPECT_EQ(mess, "earlier");
    std::string content = log.log();
    EXPECT_EQ(count(content, "\n"), 1);
    EXPECT_NE(content.find(": execCmd: true [0]\n"), std::string::npos);
}

TEST(Runner, ExitCodesAndSignals)
{
    LogToTemp log;
    EXPECT_EQ(execCmd("exit 3"), 3);
    EXPECT_EQ(execCmd("exit 255"), 255);
    EXPECT_EQ(execCmd("/no/such/command 2>/dev/null"), 127);
    EXPECT_EQ(execCmd("kill -9 $$"), -1);
    EXPECT_NE(log.log().find("command kill -9 $$ got signal 9\n"), std::string::npos);
}

TEST(Runner, LatestOutputReplacesTheBuffer)
{
    LogToTemp log;
    std::string mess;
    EXPECT_EQ(execCmd2("echo first; echo line", &mess), 0);
    EXPECT_EQ(mess, "first\nline\n");
    EXPECT_EQ(execCmd2("echo second", &mess), 0);
    EXPECT_EQ(mess, "second\n");
    EXPECT_EQ(execCmd2("exit 1", &mess), 1);
    EXPECT_EQ(mess, "second\n");
}

TEST(Runner, LongOutputIsLoggedInBlocksAndCapturedWhole)
{
    LogToTemp log;
    std::string mess;
    EXPECT_EQ(execCmd2("head -c 10000 /dev/zero | tr '\\0' 'x'", &mess), 0);
    EXPECT_EQ(mess, std::string(10000, 'x'));
    std::string content = log.log();
    EXPECT_EQ(count(content, ": " + std::string(4095, 'x')), 2);
    EXPECT_NE(content.find(": " + std::string(1810, 'x') + "20"), std::string::npos);  // the third block runs into the next stamp
}

// Output that no caller asked for is logged and dropped, not kept: a child
// under a 160 MB address-space limit reads 300 MB of it.
TEST(Runner, UnwantedOutputIsNotKept)
{
#ifdef INSTALLER_SANITIZED
    GTEST_SKIP() << "the sanitizers reserve more address space than the limit";
#else
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        struct rlimit limit{160UL << 20, 160UL << 20};
        setrlimit(RLIMIT_AS, &limit);
        log_path = "/dev/null";
        int result = execCmd2("head -c 300000000 /dev/zero", nullptr);
        _exit(result == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
#endif
}

TEST(Runner, OutputWithPercentSignsAndNulsIsKept)
{
    LogToTemp log;
    std::string mess;
    EXPECT_EQ(execCmd2("printf '%%s%%n%%x\\0tail'", &mess), 0);
    EXPECT_EQ(mess, std::string("%s%n%x\0tail", 11));
}

// Signals that interrupt the runner's reads (as the screen library's
// resize handler does, without restarting them) change nothing: the command
// keeps its pipe, its output and its status.
TEST(Runner, InterruptedReadsAreRetriedNotCounted)
{
    LogToTemp log;
    struct sigaction action{};
    struct sigaction previous{};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART
    ASSERT_EQ(sigaction(SIGWINCH, &action, &previous), 0);
    const pthread_t reader = pthread_self();
    std::atomic<bool> stop{false};
    std::atomic<int> sent{0};
    std::thread resizer([&] {
        while (!stop.load()) {
            pthread_kill(reader, SIGWINCH);
            sent.fetch_add(1);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    std::string mess;
    int result = execCmd2("sleep 1; echo finished; sleep 0.5; echo really", &mess);
    stop.store(true);
    resizer.join();
    sigaction(SIGWINCH, &previous, nullptr);
    EXPECT_GT(sent.load(), kMaxReadErrors);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(mess, "finished\nreally\n");
    EXPECT_EQ(log.log().find("error in reading"), std::string::npos);
}

TEST(Runner, WaitThreadInTextModeDrawsNothing)
{
    LogToTemp log;
    ASSERT_EQ(innewt, 0);
    testing::internal::CaptureStdout();
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(execCmd3("echo out", nullptr, progress_func, nullptr), 0);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_LT(elapsed, std::chrono::seconds(5));
}

TEST(StatusWindow, TextModePrintsTextThenDone)
{
    testing::internal::CaptureStdout();
    winStatus(50, 5, nullptr, "%s %s", "Please wait", "/");
    winStatusStop();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Please wait /Done\n");
}
