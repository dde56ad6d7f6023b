// What a run records, in its lock file, of the back-end command it runs:
// the command's process group, the start time of the group's leader (which
// tells the same process from a later one that was given its id) and the
// command line. An installer killed outright (SIGKILL) leaves the record
// behind, and the next run finds and stops what of that command still
// lives before it runs anything of its own.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

struct BackendRecord {
    pid_t group = 0;
    unsigned long long start_time = 0; // clock ticks after boot
    std::string command;
};

// The lock file (open for writing, held by this run) and the text that
// stays at its start: the run's process id line.
void keep_backend_record_in(int fd, const std::string &head);

// Writes the record of the command whose group leader is `leader`, or
// takes the record away (`leader` 0).
void record_backend(pid_t leader, const char *command);

// The record in a lock file's text, after the process id line; none when
// there is none or it is not one.
std::optional<BackendRecord> parse_backend_record(const std::string &text);

// The start time of process `pid` (clock ticks after boot), 0 when there is
// no such process.
unsigned long long process_start_time(pid_t pid);

// Whether any process of the group, not yet ended, is left.
bool process_group_alive(pid_t group);
