// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "host/locate.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "support/log_to_temp.h"
#include "support/process.h"

namespace fs = std::filesystem;

namespace {

// Runs the body with `dir` as the working directory.
struct InDirectory {
    explicit InDirectory(const std::string &dir) : saved(fs::current_path()) { fs::current_path(dir); }
    ~InDirectory() { fs::current_path(saved); }
    fs::path saved;
};

} // namespace

TEST(FileChecks, InvertedSenseAndLinks)
{
    TempDir dir;
    write_file(dir / "file", "x");
    fs::create_directory(dir / "dir");
    fs::create_symlink(dir / "file", dir / "link");
    fs::create_symlink(dir / "dir", dir / "dirlink");
    fs::create_symlink(dir / "nothing", dir / "dangling");

    EXPECT_EQ(check_file(dir / "file"), 0);
    EXPECT_EQ(check_file(dir / "link"), 0);
    EXPECT_EQ(check_file(dir / "dir"), 1);
    EXPECT_EQ(check_file(dir / "dangling"), 1);
    EXPECT_EQ(check_file(dir / "missing"), 1);

    EXPECT_EQ(check_directory(dir / "dir"), 0);
    EXPECT_EQ(check_directory(dir / "dirlink"), 0);
    EXPECT_EQ(check_directory(dir / "file"), 1);

    EXPECT_EQ(check_file_symlink(dir / "file"), 0);
    EXPECT_EQ(check_file_symlink(dir / "dangling"), 0);
    EXPECT_EQ(check_file_symlink(dir / "dir"), 1);
    EXPECT_EQ(check_file_symlink(dir / "missing"), 1);
}

TEST(FindFileUp, WalksTextuallyUpwards)
{
    TempDir dir;
    write_file(dir / "pkg/LICENSE", "licence");
    fs::create_directories(dir / "pkg/installer/cpu_check");  // a directory of that name is passed over
    write_file(dir / "pkg/cpu_check", "#!/bin/sh\n");
    InDirectory here(dir / "pkg");

    EXPECT_EQ(find_file_up("./", "LICENSE"), "./LICENSE");
    EXPECT_EQ(find_file_up("./installer/", "cpu_check"), "./cpu_check");
    EXPECT_EQ(find_file_up("./", "cpu_check"), "./cpu_check");
    EXPECT_EQ(find_file_up("./", "missing"), std::nullopt);
    EXPECT_EQ(find_file_up("no-slash", "LICENSE"), std::nullopt);
    EXPECT_EQ(find_file_up(dir / "pkg/installer/cpu_check", "LICENSE"), dir / "pkg/LICENSE");
}

TEST(FindFileUp, LinkToRegularFileCounts)
{
    TempDir dir;
    write_file(dir / "real", "licence");
    fs::create_symlink(dir / "real", dir / "LICENSE");
    InDirectory here(dir.path());
    EXPECT_EQ(find_file_up("./", "LICENSE"), "./LICENSE");
}

TEST(FindFileUp, OverlongInputsAreRefused)
{
    std::string deep = "/" + std::string(5000, 'a') + "/x";
    EXPECT_EQ(find_file_up(deep, "LICENSE"), std::nullopt);
    EXPECT_EQ(find_dir_up(deep.c_str(), "etc"), std::nullopt);
    std::string just_over = "/" + std::string(1020, 'b') + "/x";
    EXPECT_EQ(find_dir_up(just_over.c_str(), "etc"), std::nullopt);
}

TEST(FindDirUp, AcceptsDirectoriesOnly)
{
    TempDir dir;
    fs::create_directories(dir / "a/b/c");
    fs::create_directories(dir / "a/installer");
    write_file(dir / "a/b/installer", "a file, not a directory");
    EXPECT_EQ(find_dir_up(nullptr, "installer"), std::nullopt);
    EXPECT_EQ(find_dir_up((dir / "a/b/c/").c_str(), "installer"), dir / "a/installer");

    // A candidate of exactly 1023 characters is found; one of 1024 is not.
    for (std::size_t length : {1023u, 1024u}) {
        std::string deep = dir / "deep";
        const std::string name = "installer";
        while (deep.size() + 1 + name.size() < length)
            deep += "/" + std::string(std::min<std::size_t>(200, length - deep.size() - 2 - name.size()), 'd');
        ASSERT_EQ(deep.size() + 1 + name.size(), length);
        fs::create_directories(deep + "/" + name);
        auto found = find_dir_up((deep + "/x").c_str(), name);
        if (length == 1023)
            EXPECT_EQ(found, deep + "/" + name);
        else
            EXPECT_EQ(found, std::nullopt);
        fs::remove_all(dir / "deep");
    }
}

TEST(GetFilename, FallsBackToTheMountPoint)
{
    // /proc is a file system of its own; its entries are found at its mount
    // point whatever their kind.
    EXPECT_EQ(get_filename("/proc/self/status", "sys"), "/proc/sys");
    TempDir dir;
    InDirectory here(dir.path());
    EXPECT_EQ(get_filename("./", "LICENSE"), std::nullopt);
}

TEST(GetCdMpoint, DeviceWalk)
{
    EXPECT_EQ(get_cd_mpoint("/proc/self/status"), "/proc");
    EXPECT_EQ(get_cd_mpoint("/proc"), "/proc");  // the root is queried once and its device differs
    EXPECT_EQ(get_cd_mpoint("/"), std::nullopt);
    EXPECT_EQ(get_cd_mpoint("/does/not/exist"), std::nullopt);
    TempDir dir;
    InDirectory here(dir.path());
    EXPECT_EQ(get_cd_mpoint("./"), std::nullopt);
}

TEST(MountTable, SubstringMatchFollowedByABlank)
{
    TempDir dir;
    write_file(dir / "mounts", "/dev/sr1 /mnt/cdrom2 iso9660 ro 0 0\n"
                               "/dev/sr0 /mnt/cdrom iso9660 ro 0 0\n"
                               "nodevicefield\n"
                               "/dev/sda1 / ext4 rw 0 0\n");
    const char *saved = mount_table_path;
    std::string table = dir / "mounts";
    std::string missing = dir / "missing";
    mount_table_path = table.c_str();
    EXPECT_EQ(get_cd_dev("/mnt/cdrom"), "/dev/sr0");
    EXPECT_EQ(get_fs_type("/mnt/cdrom"), "iso9660");
    EXPECT_EQ(get_cd_dev("/cdrom"), "/dev/sr0");  // plain substring match
    EXPECT_EQ(get_cd_dev("/media/usb"), std::nullopt);
    mount_table_path = missing.c_str();
    EXPECT_EQ(get_cd_dev("/mnt/cdrom"), std::nullopt);
    mount_table_path = saved;

    // An unmount line that would not fit is refused, and the log says so.
    LogToTemp log;
    do_umount("touch " + dir / "ran" + std::string(5000, ' '), "/");
    EXPECT_FALSE(file_exists(dir / "ran"));
    EXPECT_NE(log.log().find(": do_umount: command line of "), std::string::npos);
}

TEST(MountTable, LineMatching)
{
    EXPECT_EQ(mount_line_fs_type("dev /mnt/x", "/mnt/x"), std::nullopt);
    EXPECT_EQ(mount_line_fs_type("dev /mnt/x vfat", "/mnt/x"), std::nullopt);  // no blank after the type
    EXPECT_EQ(mount_line_fs_type("dev /mnt/x vfat rw", "/mnt/x"), "vfat");
    EXPECT_EQ(mount_line_device("dev /mnt/x vfat rw", "dev"), std::nullopt);  // only after the first blank
    // The table writes blanks, tabs, line feeds and backslashes as octal escapes.
    const char *escaped = "/dev/my\\040disk /media/USB\\040Stick\\011x\\134y vfat rw 0 0";
    EXPECT_EQ(mount_line_device(escaped, "/media/USB Stick\tx\\y"), "/dev/my disk");
    EXPECT_EQ(mount_line_fs_type(escaped, "/media/USB Stick\tx\\y"), "vfat");
    EXPECT_EQ(mount_line_device(escaped, "/media/USB"), std::nullopt);
    EXPECT_EQ(mount_table_unescape("a\\040b\\012\\134\\09\\"), "a b\n\\\\09\\");
    // An escape that ends a field is decoded as well.
    const char *at_end = "/dev/disk\\134 /media/USB\\040 vfat rw 0 0";
    EXPECT_EQ(mount_line_device(at_end, "/media/USB "), "/dev/disk\\");
    EXPECT_EQ(mount_line_fs_type(at_end, "/media/USB "), "vfat");
    EXPECT_EQ(mount_table_unescape("a\\040"), "a ");
}

TEST(FileSystemClass, StatfsTypes)
{
    LogToTemp log;
    EXPECT_EQ(is_isofs("/proc"), 0);
    EXPECT_EQ(is_nonlocal("/proc"), 1);
    EXPECT_EQ(log.log(), "");
    // A path that cannot be looked at is neither, and the log says why.
    EXPECT_EQ(is_nonlocal("/does/not/exist"), 0);
    EXPECT_EQ(is_isofs("/does/not/exist"), 0);
    const std::string why = "Can't statfs: No such file or directory /does/not/exist.\n";
    const std::string logged = log.log();
    const std::size_t first = logged.find(why);
    ASSERT_NE(first, std::string::npos) << logged;
    EXPECT_NE(logged.find(why, first + 1), std::string::npos) << logged;
}

// The program's path is the file that runs, whatever argv[0] says: a link
// to it is resolved; a name found through PATH, a name of another file or
// of nothing gives the running program itself.
TEST(GetProgPath, AlwaysTheProgramThatRuns)
{
    TempDir dir;
    const std::string self = fs::canonical("/proc/self/exe").string();
    write_file(dir / "bin/prog", "");
    fs::create_symlink(dir / "bin/prog", dir / "other");
    fs::create_symlink(self, dir / "link");
    for (const std::string &name : {dir / "link", dir / "other", std::string("install"), std::string("no/such/file")})
        EXPECT_EQ(getProgPath(name), self) << name;
}
