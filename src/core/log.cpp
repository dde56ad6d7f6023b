// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "core/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <string>
#include "core/file_stream.h"
#include "core/run_state.h"
#include "core/text.h"

void get_date(char *buf, std::size_t len)
{
    if (len == 0)
        return;
    buf[0] = '\0';
    std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr)
        return;
    if (std::strftime(buf, len, "%Y-%m-%dT%T%z", &local) == 0)
        buf[0] = '\0';
}

namespace {

// An unattended run says once, on standard error, that its entries are
// lost: nobody else would know (the wizard's screen has no room for it).
std::string lost_reason;

void say_entries_lost(const std::string &reason)
{
    lost_reason = reason;
    static bool said = false;
    // A run refused for not being root is not expected to write it.
    if (said || !unattended || innewt || ::geteuid() != 0)
        return;
    said = true;
    std::fprintf(stderr, _("The installer log %s cannot be written (%s): the entries of this run are lost.\n"),
                 log_path->c_str(), reason.c_str());
    std::fflush(stderr);
}

std::string not_root_file()
{
    return _("it is not a regular file of root's");
}

// The log's directory, held once it is found: every entry goes into the
// directory that was checked, whatever its path names later.
std::atomic<int> held_directory{-1};
std::string log_name_in_directory;
std::string held_for; // the log path the directory was found for

std::deque<std::string> path_parts(const std::string &path)
{
    std::deque<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t slash = path.find('/', start);
        if (slash == std::string::npos)
            slash = path.size();
        if (slash > start)
            parts.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    return parts;
}

// Opens the directory `path` one step at a time. A symbolic link on the way
// is followed only where nobody but root can have made or changed it: the
// link is root's, in a directory of root's that nobody else may write.
// Anywhere else (a link a user put in /tmp) it is not, and -1 (ELOOP).
int open_trusted_directory(const std::string &path)
{
    std::deque<std::string> parts = path_parts(path);
    int fd = ::open(!path.empty() && path[0] == '/' ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int links = 0;
    while (fd >= 0 && !parts.empty()) {
        const std::string part = parts.front();
        parts.pop_front();
        if (part == ".")
            continue;
        struct stat st{};
        if (::fstatat(fd, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            const int error = errno;
            ::close(fd);
            errno = error;
            return -1;
        }
        if (S_ISLNK(st.st_mode)) {
            struct stat here{};
            char target[4096];
            ssize_t got = -1;
            if (++links > 40 || st.st_uid != 0 || ::fstat(fd, &here) != 0 || here.st_uid != 0 ||
                (here.st_mode & (S_IWGRP | S_IWOTH)) != 0 ||
                (got = ::readlinkat(fd, part.c_str(), target, sizeof target)) <= 0 ||
                got == static_cast<ssize_t>(sizeof target)) {
                ::close(fd);
                errno = ELOOP;
                return -1;
            }
            const std::string to(target, static_cast<std::size_t>(got));
            std::deque<std::string> more = path_parts(to);
            parts.insert(parts.begin(), more.begin(), more.end());
            if (to[0] == '/') {
                ::close(fd);
                fd = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            }
            continue;
        }
        const int next = ::openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int error = errno;
        ::close(fd);
        fd = next;
        errno = error;
    }
    return fd;
}

// The log's directory, found now if it was not yet; -1 (errno set) when
// it cannot be.
int log_directory_now()
{
    int held = held_directory.load();
    if (held >= 0 && log_path && *log_path != held_for) {
        // Another log from now on (the command line sets it once; tests
        // set several).
        held_directory.store(-1);
        ::close(held);
        held = -1;
    }
    if (held >= 0 || !log_path)
        return held;
    const std::size_t slash = log_path->rfind('/');
    const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : log_path->substr(0, slash);
    held = open_trusted_directory(directory);
    if (held >= 0) {
        log_name_in_directory = slash == std::string::npos ? *log_path : log_path->substr(slash + 1);
        held_for = *log_path;
        held_directory.store(held);
    }
    return held;
}

// Opens the log for one entry and writes the entry's timestamp; null when
// no log is set or the file cannot be opened.
file_stream open_entry()
{
    if (!log_path)
        return nullptr;
    const int directory = log_directory_now();
    if (directory < 0) {
        say_entries_lost(std::strerror(errno));
        return nullptr;
    }
    // Never blocks (a FIFO put where the log belongs) and writes only into a
    // regular file of root's (of the run's own user, for the one line of a
    // run refused for not being root), never through a symbolic link (which anyone
    // who could write its directory may have put there); a new log is
    // root's alone, as it may tell much of the host.
    int fd = ::openat(directory, log_name_in_directory.c_str(),
                      O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        const int error = errno;
        say_entries_lost(error == ELOOP || error == ENXIO || error == EISDIR ? not_root_file()
                                                                             : std::string(std::strerror(error)));
        return nullptr;
    }
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (st.st_uid != 0 && st.st_uid != ::geteuid())) {
        ::close(fd);
        say_entries_lost(not_root_file());
        return nullptr;
    }
    file_stream file(::fdopen(fd, "a"));
    if (!file)
        ::close(fd);
    if (file) {
        char stamp[64];
        get_date(stamp, sizeof stamp);
        std::fprintf(file.get(), "%s: ", stamp);
    }
    return file;
}

// Writes what the stream holds; a write that fails (a full or read-only
// file system) is said.
void finish_entry(file_stream &file)
{
    if (std::fflush(file.get()) != 0 || std::ferror(file.get()))
        say_entries_lost(std::strerror(errno));
}

} // namespace

void write_log(const char *format, ...)
{
    file_stream file = open_entry();
    if (!file)
        return;
    va_list args;
    va_start(args, format);
    std::vfprintf(file.get(), format, args);
    va_end(args);
    finish_entry(file);
}

void make_log_durable()
{
    if (!log_path)
        return;
    // The log as write_log opens it: in the directory it holds, never
    // through a link, never blocking, only a regular file of root's; it is
    // not made when it is not there.
    const int directory = held_directory.load();
    if (directory < 0)
        return;
    const int fd = ::openat(directory, log_name_in_directory.c_str(),
                            O_WRONLY | O_APPEND | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat st{};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (st.st_uid == 0 || st.st_uid == ::geteuid())) {
        ::fsync(fd);
        ::fsync(directory);
    }
    ::close(fd);
}

std::string log_entries_lost()
{
    return lost_reason;
}

int log_directory()
{
    return held_directory.load();
}

void write_log_bytes(const char *bytes, std::size_t size)
{
    file_stream file = open_entry();
    if (!file)
        return;
    std::fwrite(bytes, 1, size, file.get());
    finish_entry(file);
}
