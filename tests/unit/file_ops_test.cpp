// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "host/file_ops.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "core/run_state.h"
#include "support/log_to_temp.h"
#include "support/process.h"

namespace fs = std::filesystem;

TEST(ShellFileOps, TemplatesKeepTheirBlanksWithSafePaths)
{
    LogToTemp log;
    TempDir dir;
    EXPECT_EQ(makedir(dir / "a/b/c"), 0);
    EXPECT_EQ(makedir(dir / "a/b/c"), 0);  // existing
    write_file(dir / "src.txt", "one");
    write_file(dir / "dst.txt", "old");
    EXPECT_EQ(copy_file(dir / "src.txt", dir / "dst.txt"), 0);
    EXPECT_EQ(read_file(dir / "dst.txt"), "one");
    EXPECT_EQ(removedir(dir / "a"), 0);
    EXPECT_EQ(removedir(dir / "a"), 0);  // already gone
    EXPECT_EQ(remove_directory(dir / "nothing"), 0);
    std::string text = log.log();
    EXPECT_NE(text.find(": execCmd: mkdir -p " + dir / "a/b/c [0]\n"), std::string::npos);
    EXPECT_NE(text.find(": execCmd: /bin/cp -f " + dir / "src.txt " + dir / "dst.txt [0]\n"), std::string::npos);
    EXPECT_NE(text.find(": execCmd: /bin/rm -rf " + dir / "a [0]\n"), std::string::npos);
    EXPECT_NE(text.find(": execCmd: /bin/rm -rf  " + dir / "nothing [0]\n"), std::string::npos);
}

TEST(ShellFileOps, UnsafePathsAreOneArgumentAndRunNothing)
{
    LogToTemp log;
    TempDir dir;
    std::string odd = dir / "with blank;touch pwned";
    EXPECT_EQ(makedir(odd), 0);
    EXPECT_TRUE(fs::is_directory(odd));
    EXPECT_FALSE(file_exists(dir / "pwned"));
    EXPECT_EQ(removedir(odd), 0);
    EXPECT_FALSE(file_exists(odd));
    EXPECT_EQ(makedir("/tmp/" + std::string(5000, 'x')), -1);  // would not fit
    EXPECT_NE(log.log().find(": makedir: command line of 5014 characters refused"), std::string::npos);
}

TEST(ShellFileOps, UntarExtractsInTheTarget)
{
    LogToTemp log;
    TempDir dir;
    write_file(dir / "tree/file.txt", "payload");
    run_process({"tar", "-czf", dir / "archive.tar.gz", "-C", dir / "tree", "file.txt"});
    fs::create_directory(dir / "out");
    EXPECT_EQ(untar(dir / "archive.tar.gz", dir / "out"), 0);
    EXPECT_EQ(read_file(dir / "out/file.txt"), "payload");
    EXPECT_NE(untar(dir / "missing.tar.gz", dir / "out"), 0);
    EXPECT_NE(log.log().find(" && tar -zxf  " + dir / "archive.tar.gz 2>/dev/null [0]"), std::string::npos);
    // A missing target extracts nothing anywhere, and says so.
    fs::create_directory(dir / "cwd");
    fs::path here = fs::current_path();
    fs::current_path(dir / "cwd");
    int missing_target = untar(dir / "archive.tar.gz", dir / "no such dir");
    fs::current_path(here);
    EXPECT_NE(missing_target, 0);
    EXPECT_FALSE(file_exists(dir / "cwd/file.txt"));
    // A target that the shell would read as several words or commands.
    std::string odd = dir / "out dir;touch pwned";
    fs::create_directory(odd);
    fs::current_path(dir / "cwd");
    int odd_target = untar(dir / "archive.tar.gz", odd);
    fs::current_path(here);
    EXPECT_EQ(odd_target, 0);
    EXPECT_EQ(read_file(odd + "/file.txt"), "payload");
    EXPECT_FALSE(file_exists(dir / "cwd/pwned"));
}

TEST(ShellFileOps, CopyFilesArraySkipsOddEntriesAndStopsAtAFailure)
{
    LogToTemp log;
    TempDir dir;
    write_file(dir / "a", "A");
    write_file(dir / "b", "B");
    fs::create_directory(dir / "subdir");
    fs::create_directory(dir / "dest");
    const char *none[] = {nullptr};
    EXPECT_EQ(copy_files_array(none, dir / "dest"), 0);
    EXPECT_EQ(log.log(), "");
    std::string a = dir / "a";
    std::string b = dir / "b";
    std::string missing = dir / "missing";
    std::string subdir = dir / "subdir";
    const char *mixed[] = {missing.c_str(), a.c_str(), subdir.c_str(), b.c_str(), nullptr};
    EXPECT_EQ(copy_files_array(mixed, dir / "dest"), 0);
    EXPECT_EQ(read_file(dir / "dest/b"), "B");
    EXPECT_NE(log.log().find("/bin/cp " + a + "  " + dir / "dest [0]"), std::string::npos);
    const char *failing[] = {a.c_str(), b.c_str(), nullptr};
    EXPECT_EQ(copy_files_array(failing, dir / "no/such/dir/x"), 1);
    EXPECT_EQ(log.log().find("/bin/cp " + b + "  " + dir / "no/such"), std::string::npos);
}

TEST(SetParam, AppendsCreatesAndRewritesKeepingModeAndOwner)
{
    TempDir dir;
    std::string conf = dir / "app.conf";
    EXPECT_EQ(set_param(conf, "PORT", "9"), 0);
    EXPECT_EQ(read_file(conf), "PORT=9\n");

    write_file(conf, "# settings\nPORT = 1\nHOST=x\nPORT=2\n", 0640);
    ASSERT_EQ(chown(conf.c_str(), 65534, 65534), 0);
    EXPECT_EQ(set_param(conf, "PORT", "9"), 0);
    EXPECT_EQ(read_file(conf), "# settings\nPORT=9\nHOST=x\nPORT=9\n");
    struct stat st{};
    ASSERT_EQ(stat(conf.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(st.st_uid, 65534u);

    write_file(conf, "PORTS=1\n");
    EXPECT_EQ(set_param(conf, "PORT", "9"), 0);
    EXPECT_EQ(read_file(conf), "PORTS=1\n");
}

TEST(SetParam, RefusesWhatWouldBreakOutOfItsQuotes)
{
    LogToTemp log;
    TempDir dir;
    std::string conf = dir / "app.conf";
    for (const char *bad : {"a'b", "a\nb", "a\rb"}) {
        EXPECT_NE(set_param(conf, bad, "1"), 0) << bad;
        EXPECT_NE(set_param(conf, "KEY", bad), 0) << bad;
    }
    EXPECT_FALSE(file_exists(conf));
    EXPECT_NE(log.log().find(": set_param: refused to set KEY in " + conf), std::string::npos);
    EXPECT_NE(set_param(conf, "KEY", std::string(5000, 'v')), 0);
    EXPECT_NE(log.log().find("characters refused (longer than 4095) for KEY in " + conf), std::string::npos);
    // What sed and the shell's echo would read as their own stands for itself.
    for (const char *value : {"/opt/sdk", "a\\b\\n&c", "x&y/z\\"}) {
        EXPECT_EQ(set_param(conf, "INSTALL_DIR", value), 0) << value;
        EXPECT_EQ(read_file(conf), std::string("INSTALL_DIR=") + value + "\n") << value;
    }
    EXPECT_EQ(set_param(conf, "a/b\\c&d", "1"), 0);
    EXPECT_EQ(set_param(conf, "a/b\\c&d", "2"), 0);
    EXPECT_EQ(read_file(conf), std::string("INSTALL_DIR=x&y/z\\\na/b\\c&d=2\n"));
    fs::remove(conf);
    std::string odd = dir / "my conf;touch pwned";
    EXPECT_EQ(set_param(odd, "KEY", "value with blanks"), 0);
    EXPECT_EQ(read_file(odd), "KEY=value with blanks\n");
    EXPECT_EQ(set_param(odd, "KEY", "v2"), 0);
    EXPECT_EQ(read_file(odd), "KEY=v2\n");
    EXPECT_FALSE(file_exists(dir / "pwned"));
}

TEST(Streams, TemporaryFileHasNoName)
{
    TempDir dir;
    const char *saved = temp_template;
    std::string templ = dir / "tsinstall.XXXXXX";
    temp_template = templ.c_str();
    file_stream stream = openTemp();
    temp_template = saved;
    ASSERT_TRUE(stream);
    EXPECT_TRUE(fs::is_empty(dir.path()));
    std::fputs("written\n", stream.get());
    std::rewind(stream.get());
    char line[32] = {};
    ASSERT_NE(std::fgets(line, sizeof line, stream.get()), nullptr);
    EXPECT_STREQ(line, "written\n");
}
