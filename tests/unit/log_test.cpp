// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "core/log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <regex>

#include "core/run_state.h"
#include "core/fatal_signals.h"
#include "support/process.h"

namespace {

struct LogPathGuard {
    std::optional<std::string> saved = log_path;
    ~LogPathGuard() { log_path = saved; }
};

} // namespace

TEST(WriteLog, EntryIsTimestampColonAndTextAsGiven)
{
    LogPathGuard guard;
    TempDir dir;
    log_path = dir / "install.log";
    write_log("first %d\n", 1);
    write_log("no line end");
    write_log("\n\nstarted\n");
    std::string content = read_file(*log_path);
    std::string replaced = std::regex_replace(content, std::regex("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d[+-]\\d{4}"), "S");
    EXPECT_EQ(replaced, "S: first 1\nS: no line endS: \n\nstarted\n");
}

// The timestamp that the signal handler writes without calling anything
// unsafe equals strftime's "%Y-%m-%dT%T%z" in the local time zone: in
// January, February, March, on 29 February, and west of Greenwich.
TEST(WriteLog, SignalHandlerTimestampEqualsStrftime)
{
    const char *saved = std::getenv("TZ");
    std::string saved_tz = saved != nullptr ? saved : "";
    for (const char *zone : {"UTC0", "CET-1", "XST+3:30", "YST+11"}) {
        setenv("TZ", zone, 1);
        tzset();
        // 2025-01-15 12:00, 2025-02-10 00:30, 2025-03-01 00:15, 2024-02-29
        // 23:59:59 and 2024-03-01 00:00:01 UTC, and the epoch.
        for (long long when : {1736942400LL, 1739147400LL, 1740788100LL, 1709251199LL, 1709251201LL, 0LL}) {
            std::time_t t = static_cast<std::time_t>(when);
            std::tm local{};
            ASSERT_NE(localtime_r(&t, &local), nullptr);
            char expected[64];
            ASSERT_GT(std::strftime(expected, sizeof expected, "%Y-%m-%dT%T%z", &local), 0u);
            char got[64];
            format_timestamp_signal_safe(got, sizeof got, when, local.tm_gmtoff);
            EXPECT_STREQ(got, expected) << zone << " " << when;
        }
        // The log's own entries carry the same local time and offset, as
        // the back end's tools write theirs.
        LogPathGuard guard;
        TempDir dir;
        log_path = dir / "install.log";
        const std::time_t before = std::time(nullptr);
        write_log("entry\n");
        const std::time_t after = std::time(nullptr);
        std::vector<std::string> accepted;
        for (std::time_t t : {before, after}) {
            std::tm local{};
            ASSERT_NE(localtime_r(&t, &local), nullptr);
            char stamp[64];
            ASSERT_GT(std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%T%z", &local), 0u);
            accepted.push_back(std::string(stamp) + ": entry\n");
        }
        const std::string entry = read_file(*log_path);
        EXPECT_TRUE(entry == accepted[0] || entry == accepted[1]) << zone << " " << entry << accepted[0];
    }
    if (saved != nullptr)
        setenv("TZ", saved_tz.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

TEST(WriteLog, AppendsAcrossRunsAndNeverTruncates)
{
    LogPathGuard guard;
    TempDir dir;
    log_path = dir / "install.log";
    write_file(*log_path, "earlier run\n");
    write_log("later\n");
    std::string content = read_file(*log_path);
    EXPECT_EQ(content.rfind("earlier run\n", 0), 0u);
    EXPECT_NE(content.find(": later\n"), std::string::npos);
}

TEST(WriteLog, DroppedSilentlyWithoutPathOrWritableFile)
{
    LogPathGuard guard;
    TempDir dir;
    log_path.reset();
    write_log("nowhere\n");
    log_path = dir / "missing-dir/install.log";
    write_log("nowhere either\n");
    EXPECT_FALSE(file_exists(dir / "missing-dir"));
}

TEST(WriteLog, BytesAreWrittenExactly)
{
    LogPathGuard guard;
    TempDir dir;
    log_path = dir / "install.log";
    const char bytes[] = {'a', '\0', 'b', '%', 's'};
    write_log_bytes(bytes, sizeof bytes);
    std::string content = read_file(*log_path);
    EXPECT_EQ(content.substr(content.size() - 5), std::string(bytes, 5));
}

TEST(GetDate, NeverOverrunsASmallBuffer)
{
    char tiny[5];
    get_date(tiny, sizeof tiny);
    EXPECT_LT(std::string(tiny).size(), sizeof tiny);
}
