// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "core/streams.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "core/file_stream.h"
#include "support/process.h"

TEST(Streams, ReadTrimmedLinesFromTheStart)
{
    TempDir dir;
    file_stream stream(std::fopen((dir / "t").c_str(), "w+"));
    EXPECT_EQ(readTrimmedLines(stream.get()), "");
    std::fputs("  a\n\tb", stream.get());  // the position is at the end now
    EXPECT_EQ(readTrimmedLines(stream.get()), "a\n\nb\n");
    std::fputs(" c \r\n", stream.get());
    EXPECT_EQ(readTrimmedLines(stream.get()), "a\n\nb c \r\n\n");
    std::string long_line(10000, 'z');
    std::fputs(("    " + long_line + "\n").c_str(), stream.get());
    EXPECT_TRUE(readTrimmedLines(stream.get()) == "a\n\nb c \r\n\n" + long_line + "\n\n");
}

TEST(Streams, SwapExchangesDescriptors)
{
    TempDir dir;
    write_file(dir / "one", "1");
    write_file(dir / "two", "2");
    file_stream one(std::fopen((dir / "one").c_str(), "r"));
    file_stream two(std::fopen((dir / "two").c_str(), "r"));
    swapfd(fileno(one.get()), fileno(two.get()));
    char c = 0;
    ASSERT_EQ(read(fileno(one.get()), &c, 1), 1);
    EXPECT_EQ(c, '2');
    ASSERT_EQ(read(fileno(two.get()), &c, 1), 1);
    EXPECT_EQ(c, '1');
}
