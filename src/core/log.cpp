// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "core/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
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
void say_entries_lost(const std::string &reason)
{
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

// Opens the log for one entry and writes the entry's timestamp; null when
// no log is set or the file cannot be opened.
file_stream open_entry()
{
    if (!log_path)
        return nullptr;
    // Never blocks (a FIFO put where the log belongs) and writes only into a
    // regular file of root's (of the run's own user, for the one line of a
    // run refused for not being root), never through a symbolic link (which anyone
    // who could write its directory may have put there); a new log is
    // root's alone, as it may tell much of the host.
    int fd = ::open(log_path->c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC,
                    0600);
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
    // The log as write_log opens it: never through a link, never blocking,
    // only a regular file of root's; it is not made when it is not there.
    const int fd = ::open(log_path->c_str(), O_WRONLY | O_APPEND | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat st{};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (st.st_uid == 0 || st.st_uid == ::geteuid())) {
        ::fsync(fd);
        const std::size_t slash = log_path->rfind('/');
        const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : log_path->substr(0, slash);
        const int dir_fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir_fd >= 0) {
            ::fsync(dir_fd);
            ::close(dir_fd);
        }
    }
    ::close(fd);
}

void write_log_bytes(const char *bytes, std::size_t size)
{
    file_stream file = open_entry();
    if (!file)
        return;
    std::fwrite(bytes, 1, size, file.get());
    finish_entry(file);
}
