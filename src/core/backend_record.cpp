#include "core/backend_record.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "core/text.h"

namespace {

int record_fd = -1;
std::string record_head;

// The fields of /proc/PID/stat after the command name (which may hold
// blanks and parentheses): field 3 (the state) first.
bool stat_fields(pid_t pid, std::string &state, pid_t &group, unsigned long long &start)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(file, text))
        return false;
    std::size_t close = text.rfind(')');
    if (close == std::string::npos)
        return false;
    std::istringstream fields(text.substr(close + 1));
    std::string field;
    std::vector<std::string> values;
    while (fields >> field)
        values.push_back(field);
    // state(3) ppid(4) pgrp(5) ... starttime(22)
    if (values.size() < 20)
        return false;
    state = values[0];
    group = static_cast<pid_t>(std::strtol(values[2].c_str(), nullptr, 10));
    start = std::strtoull(values[19].c_str(), nullptr, 10);
    return true;
}

} // namespace

void keep_backend_record_in(int fd, const std::string &head)
{
    record_fd = fd;
    record_head = head;
}

void record_backend(pid_t leader, const char *command)
{
    if (record_fd < 0)
        return;
    std::string text = record_head;
    if (leader > 0 && command != nullptr) {
        // One line: the command line's own line feeds are blanks here.
        std::string line = command;
        for (char &c : line) {
            if (c == '\n')
                c = ' ';
        }
        text += strprintf("backend %ld %llu %s\n", static_cast<long>(leader), process_start_time(leader),
                          cut_text(line).c_str());
    }
    // Written whole before the file is cut to it: a reader never sees a
    // record without its end.
    if (::pwrite(record_fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()))
        (void)::ftruncate(record_fd, static_cast<off_t>(text.size()));
}

std::optional<BackendRecord> parse_backend_record(const std::string &text)
{
    std::size_t start = text.find("\nbackend ");
    if (start == std::string::npos)
        return std::nullopt;
    std::size_t end = text.find('\n', start + 1);
    if (end == std::string::npos)
        return std::nullopt; // cut short: not a record
    std::istringstream fields(text.substr(start + 9, end - start - 9));
    BackendRecord record;
    long group = 0;
    if (!(fields >> group >> record.start_time) || group <= 1)
        return std::nullopt;
    record.group = static_cast<pid_t>(group);
    std::getline(fields >> std::ws, record.command);
    return record;
}

unsigned long long process_start_time(pid_t pid)
{
    std::string state;
    pid_t group = 0;
    unsigned long long start = 0;
    return stat_fields(pid, state, group, start) ? start : 0;
}

bool process_group_alive(pid_t group)
{
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename();
        char *end = nullptr;
        long pid = std::strtol(name.c_str(), &end, 10);
        if (pid <= 0 || *end != '\0')
            continue;
        std::string state;
        pid_t member_group = 0;
        unsigned long long start = 0;
        if (stat_fields(static_cast<pid_t>(pid), state, member_group, start) && member_group == group &&
            state != "Z" && state != "X")
            return true;
    }
    return false;
}
