// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// How a back-end command's processes are held, so that a run killed
// outright (SIGKILL: no handler runs) leaves nothing a later run cannot
// find and stop, and what a run leaves in /run for the runs after it:
//
// - Where systemd runs the host, every command runs in a transient scope
//   of its own (kestrane-sdk-backend-PID-N.scope, started by systemd-run),
//   which holds every process it starts; the record (below) names it. A
//   later run that finds the record saying "running" stops that scope with
//   systemd. Once the command has ended, the record goes: what the command
//   left behind on purpose stays in its scope, which systemd keeps while
//   anything is in it, and no later run looks at it again.
// - Elsewhere, where the host has a cgroup (v2) tree that root may write, every
//   command runs in a cgroup of its own, kestrane-sdk-backend at the top
//   of the tree: the command is placed there before it starts, and the
//   kernel keeps every process it starts there, whatever it does with its
//   descriptors, sessions or forks. Nothing else is ever put there. The
//   cgroup says "running" and the command in an extended attribute, and
//   "ended" once the command has ended: then what the command left
//   behind on purpose (a daemon it started) is moved out to the
//   installer's own cgroup, where it would have been without it, and the
//   cgroup goes. A later run stops what a "running" cgroup holds, and
//   lets go of what an "ended" one holds.
// - Everywhere, the record of the command: a file that the run makes anew
//   and locks before each command starts, and whose descriptor the
//   command inherits. It says "running", the command, and the command's
//   session: the command is the leader of a session of its own, and its
//   process id and start time are in the record. Where there is no cgroup,
//   a later run stops the processes of that session, known to be the
//   command's because its leader, or a process that holds the record, is
//   still in it. (What leaves the session and closes the record is lost
//   to it.) The record says "ended" once the command has ended; then it
//   goes.
// - The kernel's console message levels from before the wizard lowered
//   them, until it puts them back.
//
// Only the run that holds the installer lock keeps or reads them.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

inline constexpr const char *BACKEND_RECORD_PATH = "/run/kestrane-sdk-backend.lock";
inline constexpr const char *CONSOLE_LEVELS_PATH = "/run/kestrane-sdk-console-levels";

// From now on this run keeps the records: it holds the installer lock.
void keep_run_records();

// Before a back-end command starts: its record, new and locked. The
// descriptor (close-on-exec: the child clears that flag), or -1 when the
// run keeps no records or the file cannot be made (logged).
int open_backend_record(const char *command);

// Whether commands run in systemd scopes: systemd runs the host and a
// scope can be had (tried once, with a command that does nothing).
bool systemd_scopes();
// The words that start a command in its scope ("systemd-run", ...,
// "--"), for the command open_backend_record was given; none where
// commands run in no scope.
std::vector<std::string> backend_scope_words();
// Asks systemd to stop a command's scope (SIGTERM: "systemctl stop", which
// waits for it, with SIGKILL after the scope's own stop timeout) or to
// kill what is left of it (SIGKILL); other signals ask nothing.
void signal_scope(const std::string &unit, int sig);
// Whether nothing of the scope is left, as systemd tells.
bool scope_ended(const std::string &unit);

// After the fork, before the child may go on to start the command: the
// child (the leader of its own session) is placed in the command's cgroup,
// and the record names its session.
void place_backend(pid_t child);

// The command has ended (it may not be collected yet): the record says so
// and goes, so that nothing the command left behind on purpose (a daemon
// it started) is ever taken for a part of it that still runs.
void close_backend_record();

// The console levels this run found, before it lowers them ("4 4 1 7\n").
void save_console_levels(const std::string &levels);
// They are back: the saved copy goes.
void forget_saved_console_levels();
// The levels an earlier run saved and never put back (then the saved copy
// goes); none when there are none or they are not levels.
std::optional<std::string> take_saved_console_levels();

// The cgroup of back-end commands: its path, where the host has a cgroup
// (v2) tree root may write (it need not exist); empty where it has none.
std::string backend_cgroup_path();
// What the command's cgroup says: "running\nCOMMAND" or "ended\nCOMMAND".
std::string backend_cgroup_state(const std::string &cgroup);
// The processes in a cgroup, as numbers of this process's pid namespace.
std::vector<pid_t> cgroup_members(const std::string &cgroup);
// Whether the cgroup's events say `event` ("frozen 1"), a line of them.
bool cgroup_says(const std::string &cgroup, const std::string &event);
// Whether any process is in the cgroup.
bool cgroup_populated(const std::string &cgroup);
// Moves what is in the cgroup to this process's own cgroup, and removes it.
bool release_cgroup(const std::string &cgroup);

// The start time of a process (clock ticks since boot, /proc/PID/stat), its
// session and process group, and whether it has ended (a zombie, not yet
// collected by its parent); false where /proc cannot tell.
struct ProcessIds {
    unsigned long long start = 0;
    pid_t session = 0;
    pid_t group = 0;
    bool ended = false;
};
bool process_ids(pid_t pid, ProcessIds &ids);
// Whether /proc is this pid namespace's: /proc/self names this process.
bool own_proc();
