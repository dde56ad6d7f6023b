// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "exec/runner.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <thread>

#include "core/fatal_signals.h"
#include "core/log.h"
#include "core/text.h"
#include "exec/shell_child.h"

namespace {

struct ReadState {
    bool at_end = false;
    bool logged_error = false;
    int errors_in_a_row = 0;
};

// Fills `block` with up to `size` bytes of the command's output, as a
// buffered stream read would: short only at the end of the output or after
// a read error. A read that a signal interrupted (a terminal resize, say)
// lost nothing and is made again, without counting as an error.
std::size_t read_block(ShellChild &child, char *block, std::size_t size, const char *cmd, ReadState &state)
{
    std::size_t filled = 0;
    while (filled < size) {
        std::size_t got = 0;
        ShellChild::Read read = child.read_output(block + filled, size - filled, got);
        if (read == ShellChild::Read::Data) {
            filled += got;
            state.errors_in_a_row = 0;
            continue;
        }
        if (read == ShellChild::Read::End) {
            state.at_end = true;
            break;
        }
        if (!state.logged_error)
            write_log("error in reading output of command %s\n", cmd);
        state.logged_error = true;
        if (++state.errors_in_a_row >= kMaxReadErrors) {
            write_log("giving up reading output of command %s after %d read errors\n", cmd, state.errors_in_a_row);
            state.at_end = true;
        }
        break;
    }
    return filled;
}

} // namespace

int execCmd3(const char *cmd, std::string *mess, thread_func progress_func, const char *progr_msg)
{
    ShellChild child(cmd);
    if (!child.started()) {
        write_log("Error on popen(%s)\n", cmd);
        return -1;
    }

    progress_func_arg shared;
    std::thread waiter;
    if (progress_func != nullptr) {
        shared.is_running.store(1);
        const char *text = progr_msg != nullptr ? progr_msg : _("Please wait while downloading is in progress");
        std::strncpy(shared.message, text, sizeof shared.message - 1);
        shared.message[sizeof shared.message - 1] = '\0';
        try {
            // The handler of fatal signals runs in this thread, never in
            // the animation's.
            FatalSignalsBlocked blocked;
            waiter = std::thread(progress_func, &shared);
        } catch (const std::system_error &error) {
            write_log("can't start thread: %s\n", std::strerror(error.code().value()));
        }
    }

    // Output is collected only for a caller who asked for it; otherwise each
    // block is logged and dropped.
    std::string collected;
    bool wrote = false;
    ReadState state;
    char block[4096];
    while (true) {
        std::size_t got = read_block(child, block, 4095, cmd, state);
        block[got] = '\0';
        if (got > 0) {
            wrote = true;
            if (mess != nullptr)
                collected.append(block, got);
            write_log_bytes(block, got);
        }
        if (state.at_end)
            break;
    }

    shared.is_running.store(0);
    if (waiter.joinable())
        waiter.join();

    if (wrote && mess != nullptr)
        *mess = std::move(collected);

    int status = child.finish();
    if (status == -1) {
        write_log("error in pclose(%s)\n", cmd);
        return -1;
    }
    if (WIFEXITED(status)) {
        int code = WEXITSTATUS(status);
        write_log("execCmd: %s [%d]\n", cmd, code);
        return code;
    }
    if (WIFSIGNALED(status)) {
        write_log("command %s got signal %d\n", cmd, WTERMSIG(status));
        return -1;
    }
    write_log("execCmd: %s\n", cmd);
    return -1;
}

int execCmd2(const char *cmd, std::string *mess)
{
    return execCmd3(cmd, mess, nullptr, nullptr);
}

int execCmd(const char *cmd)
{
    return execCmd2(cmd, nullptr);
}
