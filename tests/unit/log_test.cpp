#include "core/log.h"

#include <gtest/gtest.h>

#include <regex>

#include "core/run_state.h"
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
