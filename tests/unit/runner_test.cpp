#include "exec/runner.h"

#include <gtest/gtest.h>

#include <chrono>

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

TEST(Runner, OutputWithPercentSignsAndNulsIsKept)
{
    LogToTemp log;
    std::string mess;
    EXPECT_EQ(execCmd2("printf '%%s%%n%%x\\0tail'", &mess), 0);
    EXPECT_EQ(mess, std::string("%s%n%x\0tail", 11));
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
