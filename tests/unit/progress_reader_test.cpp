// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "exec/progress_reader.h"

#include <gtest/gtest.h>

#include "core/run_state.h"
#include "support/log_to_temp.h"
#include "support/process.h"

TEST(ProgressLine, PercentageReadAsScanfInteger)
{
    struct Case {
        const char *line;
        int percent;
    } cases[] = {
        {"[ 42%] Copying files\n", 42}, {"[100%] Done\n", 100}, {"[  5%] x\n", 5},   {"[010%] octal\n", 8},
        {"[099%] stops at 9\n", 0},     {"[abc%] letters\n", 0}, {"[0x1f] hex\n", 1}, {"[0xf%] hex\n", 15}, {"[-5%] negative\n", -5},
        {"[999%] big\n", 999},          {"[ +7%] sign\n", 7},    {"[", 0},             {"[4", 4},
        {"[\n", 0},
    };
    for (const Case &c : cases) {
        progress_line parsed = parse_progress_line(c.line);
        EXPECT_TRUE(parsed.is_progress) << c.line;
        EXPECT_EQ(parsed.percent, c.percent) << c.line;
    }
}

TEST(ProgressLine, MessageFromColumnSevenWithLineFeedsAsBlanks)
{
    EXPECT_EQ(parse_progress_line("[ 42%] Copying files\n").message, "Copying files ");
    EXPECT_EQ(parse_progress_line("[ 42%] no end").message, "no end");
    EXPECT_EQ(parse_progress_line("[ 42%]\n").message, "");
    EXPECT_EQ(parse_progress_line("[ 42%] \n").message, " ");
    EXPECT_FALSE(parse_progress_line("error: something\n").is_progress);
    EXPECT_FALSE(parse_progress_line(" [ 42%] indented\n").is_progress);
    EXPECT_FALSE(parse_progress_line("").is_progress);
}

TEST(ProgressScaling, PartsShareOneBar)
{
    EXPECT_EQ(scale_progress(42, 1, 0), 42);
    EXPECT_EQ(scale_progress(42, 0, 0), 42);
    EXPECT_EQ(scale_progress(42, 2, 1), 71);
    EXPECT_EQ(scale_progress(100, 2, 0), 50);
    EXPECT_EQ(scale_progress(0, 2, 1), 50);
    EXPECT_EQ(scale_progress(-5, 2, 0), -2);  // cut toward zero
}

TEST(ProgressCapture, KeepsAtMostSizeMinusOne)
{
    std::string captured;
    capture_output(captured, 10, std::string(60, 'a') + "\n");
    capture_output(captured, 10, std::string(40, 'b') + "\n");
    EXPECT_EQ(captured, std::string(9, 'a'));
    std::string lines;
    capture_output(lines, 8, "ab\n");
    capture_output(lines, 8, "cd\n");
    capture_output(lines, 8, "ef\n");
    EXPECT_EQ(lines, "ab\ncd\ne");
    std::string none;
    capture_output(none, 0, "x\n");
    EXPECT_EQ(none, "");
}

TEST(ExecWithProgress, RecordTracksTheLastProgressLine)
{
    LogToTemp log;
    progress_data record;
    record.num_parts = 2;
    record.part = 1;
    std::string captured;
    int result = exec_with_progress("printf 'noise\\n[ 42%%] Copying files\\nerror line\\n'; exit 3", &record,
                                    &captured, 100);
    EXPECT_EQ(result, 3);
    EXPECT_EQ(record.progress, 71);
    EXPECT_STREQ(record.message, "Copying files ");
    EXPECT_EQ(captured, "noise\n[ 42%] Copying files\nerror line\n");
    std::string content = log.log();
    EXPECT_NE(content.find("exec_with_progress: printf"), std::string::npos);
    EXPECT_NE(content.find("exit 3 3\n"), std::string::npos);
    EXPECT_EQ(content.find("noise\n"), std::string::npos);  // output is not logged
}

TEST(ExecWithProgress, BarFiguresStayWithinTheRunsShare)
{
    LogToTemp log;
    progress_data record;
    record.num_parts = 2;
    record.part = 1;
    EXPECT_EQ(exec_with_progress("echo '[ -1%] odd'", &record, nullptr, 0), 0);
    EXPECT_EQ(record.progress, 50);
    EXPECT_EQ(exec_with_progress("echo '[999%] odd'", &record, nullptr, 0), 0);
    EXPECT_EQ(record.progress, 100);
    record.num_parts = 1;
    record.part = 0;
    EXPECT_EQ(exec_with_progress("echo '[-50%] odd'", &record, nullptr, 0), 0);
    EXPECT_EQ(record.progress, 0);
}

TEST(ExecWithProgress, LongLinesArriveInPiecesOf4095)
{
    LogToTemp log;
    progress_data record;
    record.num_parts = 1;
    // A line of 4095 characters, then one of 4096 whose last character starts
    // a new piece that is itself a progress line.
    std::string command = "awk 'BEGIN { s = \"[ 10%\"; while (length(s) < 4095) s = s \"x\"; print s;"
                          " t = s \"[\"; print t }'";
    std::string captured;
    EXPECT_EQ(exec_with_progress(command.c_str(), &record, &captured, 20000), 0);
    EXPECT_EQ(captured.size(), 4096u + 4097u);
    EXPECT_EQ(record.progress, 0);  // the last piece was "[\n": nothing readable
}

TEST(ExecWithProgress, SignalsAndMissingCommands)
{
    LogToTemp log;
    EXPECT_EQ(exec_with_progress("kill -9 $$", nullptr, nullptr, 0), -1);
    EXPECT_NE(log.log().find("got signal 9\n"), std::string::npos);
    EXPECT_EQ(exec_with_progress("/no/such/tool", nullptr, nullptr, 0), 127);
}

TEST(ExecWithProgress, TextModeDropsProgressSilently)
{
    LogToTemp log;
    progress_data record;
    record.num_parts = 1;
    testing::internal::CaptureStdout();
    EXPECT_EQ(exec_with_progress("echo '[ 50%] half'", &record, nullptr, 0), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(record.progress, 50);
}
