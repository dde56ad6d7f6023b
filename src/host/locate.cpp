// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "host/locate.h"

#include <sys/stat.h>
#include <sys/statfs.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>

#include "core/file_stream.h"
#include "core/log.h"
#include "core/text.h"

const char *mount_table_path = "/proc/mounts";

namespace {

bool is_regular(const std::string &path)
{
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool is_directory(const std::string &path)
{
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string join_path(const std::string &dir, const std::string &name)
{
    std::string joined;
    joined.reserve(dir.size() + 1 + name.size());
    joined.append(dir);
    joined.push_back('/');
    joined.append(name);
    return joined;
}

// The textual upward walk shared by the file and directory searches.
template <typename Accept>
std::optional<std::string> walk_up(std::string work, const std::string &name, std::size_t limit, Accept accept)
{
    while (true) {
        std::size_t slash = work.rfind('/');
        if (slash == std::string::npos)
            return std::nullopt;
        work.resize(slash);
        std::string candidate = join_path(work, name);
        if (candidate.size() > limit)
            return std::nullopt;
        if (accept(candidate))
            return candidate;
    }
}

std::optional<std::string> mount_table_lookup(const std::string &path,
                                              std::optional<std::string> (*match)(std::string_view, std::string_view))
{
    file_stream table(std::fopen(mount_table_path, "r"));
    if (!table)
        return std::nullopt;
    char line[4096];
    while (std::fgets(line, 4095, table.get()) != nullptr) {
        if (auto found = match(line, path))
            return found;
    }
    return std::nullopt;
}

} // namespace

std::string getProgPath(const std::string &progName)
{
    // A name without a slash was found by the shell through PATH, not in
    // the current directory; and a name with one may have been replaced
    // since. The package is the one that holds the program that runs.
    char resolved[PATH_MAX];
    struct stat self{};
    const bool know_self = ::stat("/proc/self/exe", &self) == 0;
    if (progName.find('/') != std::string::npos && ::realpath(progName.c_str(), resolved) != nullptr) {
        struct stat named{};
        if (!know_self ||
            (::stat(resolved, &named) == 0 && named.st_dev == self.st_dev && named.st_ino == self.st_ino))
            return resolved;
    }
    if (know_self && ::realpath("/proc/self/exe", resolved) != nullptr)
        return resolved;
    if (::realpath(progName.c_str(), resolved) != nullptr)
        return resolved;
    return progName;
}

std::optional<std::string> find_file_up(const std::string &start, const std::string &name)
{
    if (start.size() > kFileSearchMax)
        return std::nullopt;
    return walk_up(start, name, kFileSearchMax, is_regular);
}

std::optional<std::string> find_dir_up(const char *start, const std::string &name)
{
    if (start == nullptr || std::strlen(start) > kDirSearchMax)
        return std::nullopt;
    return walk_up(start, name, kDirSearchMax, is_directory);
}

std::optional<std::string> get_filename(const std::string &path, const std::string &name)
{
    if (auto found = find_file_up(path, name))
        return found;
    auto mount_point = get_cd_mpoint(path);
    if (!mount_point)
        return std::nullopt;
    std::string candidate = join_path(*mount_point, name);
    if (candidate.size() > kFileSearchMax)
        return std::nullopt;
    struct stat st{};
    if (::stat(candidate.c_str(), &st) == 0)
        return candidate;
    return std::nullopt;
}

std::optional<std::string> get_cd_mpoint(const std::string &path)
{
    std::string work = path;
    struct stat st{};
    if (::stat(work.c_str(), &st) != 0)
        return std::nullopt;
    const dev_t old_dev = st.st_dev;
    bool is_root = false;
    while (true) {
        std::size_t slash = work.rfind('/');
        if (slash == std::string::npos)
            return std::nullopt;
        std::string before_cut = work;
        if (slash != 0) {
            work.resize(slash);
        } else {
            if (is_root)
                return std::nullopt;
            is_root = true;
            work.resize(1);
        }
        if (::stat(work.c_str(), &st) != 0)
            return std::nullopt;
        // Crossing a device boundary: the text before this cut is the last
        // directory still on the device of `path`.
        if (st.st_dev != old_dev)
            return before_cut;
    }
}

namespace {

// A path as the mount table writes it: blank, tab, line feed and backslash
// as three-digit octal escapes, so that the fields stay blank-separated.
std::string mount_table_escape(std::string_view path)
{
    std::string escaped;
    escaped.reserve(path.size());
    for (char c : path) {
        switch (c) {
        case ' ':
            escaped += "\\040";
            break;
        case '\t':
            escaped += "\\011";
            break;
        case '\n':
            escaped += "\\012";
            break;
        case '\\':
            escaped += "\\134";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

// Where `path` ends in a mount-table line: its first occurrence (written as
// the table writes it) after the first blank, followed by a blank. Gives
// the position of that blank.
std::optional<std::size_t> mount_line_match(std::string_view line, std::string_view plain_path)
{
    std::size_t blank = line.find(' ');
    if (blank == std::string_view::npos)
        return std::nullopt;
    const std::string path = mount_table_escape(plain_path);
    std::size_t at = line.find(path, blank + 1);
    if (at == std::string_view::npos || at + path.size() >= line.size() || line[at + path.size()] != ' ')
        return std::nullopt;
    return at + path.size();
}

} // namespace

std::string mount_table_unescape(std::string_view field)
{
    std::string plain;
    plain.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && field.size() - i > 3) {
            const char a = field[i + 1];
            const char b = field[i + 2];
            const char c = field[i + 3];
            if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
                plain += static_cast<char>(((a - '0') << 6) | ((b - '0') << 3) | (c - '0'));
                i += 3;
                continue;
            }
        }
        plain += field[i];
    }
    return plain;
}

std::optional<std::string> mount_line_device(std::string_view line, std::string_view path)
{
    if (!mount_line_match(line, path))
        return std::nullopt;
    return mount_table_unescape(line.substr(0, line.find(' ')));
}

std::optional<std::string> mount_line_fs_type(std::string_view line, std::string_view path)
{
    auto match = mount_line_match(line, path);
    if (!match)
        return std::nullopt;
    std::size_t start = *match + 1;
    std::size_t end = line.find(' ', start);
    if (end == std::string_view::npos)
        return std::nullopt;
    return std::string(line.substr(start, end - start));
}

std::optional<std::string> get_cd_dev(const std::string &path)
{
    return mount_table_lookup(path, mount_line_device);
}

std::optional<std::string> get_fs_type(const std::string &path)
{
    return mount_table_lookup(path, mount_line_fs_type);
}

int is_isofs(const std::string &path)
{
    struct statfs info{};
    if (::statfs(path.c_str(), &info) != 0) {
        write_log("Can't statfs: %s %s.\n", std::strerror(errno), path.c_str());
        return 0;
    }
    return info.f_type == 0x9660 ? 1 : 0;
}

int is_nonlocal(const std::string &path)
{
    struct statfs info{};
    if (::statfs(path.c_str(), &info) != 0) {
        write_log("Can't statfs: %s %s.\n", std::strerror(errno), path.c_str());
        return 0;
    }
    switch (static_cast<unsigned long>(info.f_type)) {
    case 0xEF53UL:
    case 0x52654973UL:
    case 0x01161970UL:
        return 0;
    default:
        return 1;
    }
}

void do_umount(const std::string &cmd, const std::string &rpmdir)
{
    auto mount_point = get_cd_mpoint(rpmdir);
    std::string line = mount_point ? strprintf("%s %s > /dev/null 2>&1", cmd.c_str(), shell_quote(*mount_point).c_str())
                                   : strprintf("%s /mnt/cdrom > /dev/null 2>&1", cmd.c_str());
    if (line.size() > kTextMax) {
        write_log("do_umount: command line of %zu characters refused (longer than %zu): %.200s...\n", line.size(),
                  kTextMax, line.c_str());
        return;
    }
    int ignored = std::system(line.c_str());
    (void)ignored;
}

int check_file(const std::string &path)
{
    return is_regular(path) ? 0 : 1;
}

int check_file_symlink(const std::string &path)
{
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0)
        return 1;
    return (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) ? 0 : 1;
}

int check_directory(const std::string &path)
{
    return is_directory(path) ? 0 : 1;
}
