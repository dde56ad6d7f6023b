// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "core/backend_record.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>

#include "core/log.h"
#include "core/text.h"

namespace {

bool keeping = false;
int record_fd = -1;
std::string record_command;

// Replaces the whole content of `fd`, written before the file is cut to
// it: a reader never sees a record without its end.
bool rewrite(int fd, const std::string &text)
{
    return ::pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()) &&
           ::ftruncate(fd, static_cast<off_t>(text.size())) == 0;
}

// One line: the command line's own line feeds are blanks here.
std::string one_line(const char *command)
{
    std::string line = cut_text(command != nullptr ? command : "");
    for (char &c : line) {
        if (c == '\n')
            c = ' ';
    }
    return line;
}

// "N N N N\n", each a level of one or two digits.
bool are_console_levels(const std::string &text)
{
    std::istringstream fields(text);
    std::string field;
    int count = 0;
    while (fields >> field) {
        if (field.empty() || field.size() > 2 || field.find_first_not_of("0123456789") != std::string::npos)
            return false;
        ++count;
    }
    return count == 4 && !text.empty() && text.back() == '\n';
}

} // namespace

void keep_run_records()
{
    keeping = true;
}

int open_backend_record(const char *command)
{
    close_backend_record();
    if (!keeping)
        return -1;
    // Made anew for each command: what an earlier command of this run left
    // behind on purpose may still hold the old one.
    if (::unlink(BACKEND_RECORD_PATH) != 0 && errno != ENOENT) {
        write_log("cannot remove %s: %s\n", BACKEND_RECORD_PATH, std::strerror(errno));
        return -1;
    }
    int fd = ::open(BACKEND_RECORD_PATH, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
    if (fd < 0) {
        write_log("cannot make %s: %s\n", BACKEND_RECORD_PATH, std::strerror(errno));
        return -1;
    }
    record_command = one_line(command);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || !rewrite(fd, "running\n" + record_command + "\n")) {
        write_log("cannot write %s: %s\n", BACKEND_RECORD_PATH, std::strerror(errno));
        ::close(fd);
        ::unlink(BACKEND_RECORD_PATH);
        return -1;
    }
    record_fd = fd;
    return fd;
}

void close_backend_record()
{
    if (record_fd < 0)
        return;
    (void)rewrite(record_fd, "ended\n" + record_command + "\n");
    ::unlink(BACKEND_RECORD_PATH);
    ::close(record_fd);
    record_fd = -1;
}

void save_console_levels(const std::string &levels)
{
    if (!keeping || !are_console_levels(levels))
        return;
    const std::string fresh = std::string(CONSOLE_LEVELS_PATH) + ".new";
    ::unlink(fresh.c_str());
    int fd = ::open(fresh.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    const bool written = ::write(fd, levels.data(), levels.size()) == static_cast<ssize_t>(levels.size());
    ::close(fd);
    // Whole or not at all: a later run never reads half the levels.
    if (!written || ::rename(fresh.c_str(), CONSOLE_LEVELS_PATH) != 0) {
        write_log("cannot keep the console levels in %s\n", CONSOLE_LEVELS_PATH);
        ::unlink(fresh.c_str());
    }
}

void forget_saved_console_levels()
{
    if (keeping)
        ::unlink(CONSOLE_LEVELS_PATH);
}

std::optional<std::string> take_saved_console_levels()
{
    if (!keeping)
        return std::nullopt;
    int fd = ::open(CONSOLE_LEVELS_PATH, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st{};
    char text[64] = {};
    ssize_t got = -1;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == 0)
        got = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    ::unlink(CONSOLE_LEVELS_PATH);
    if (got <= 0)
        return std::nullopt;
    std::string levels(text, static_cast<std::size_t>(got));
    if (!are_console_levels(levels))
        return std::nullopt;
    return levels;
}
