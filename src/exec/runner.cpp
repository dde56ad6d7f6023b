#include "exec/runner.h"

#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <thread>

#include "core/log.h"
#include "core/text.h"

int execCmd3(const char *cmd, std::string *mess, thread_func progress_func, const char *progr_msg)
{
    std::FILE *raw = popen(cmd, "r");
    if (raw == nullptr) {
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
            waiter = std::thread(progress_func, &shared);
        } catch (const std::system_error &error) {
            write_log("can't start thread: %s\n", std::strerror(error.code().value()));
        }
    }

    std::string collected;
    bool wrote = false;
    int errors_in_a_row = 0;
    bool logged_error = false;
    char block[4096];
    do {
        std::size_t got = std::fread(block, 1, 4095, raw);
        block[got] = '\0';
        if (got > 0) {
            wrote = true;
            errors_in_a_row = 0;
            collected.append(block, got);
            write_log_bytes(block, got);
        }
        if (std::ferror(raw)) {
            if (!logged_error)
                write_log("error in reading output of command %s\n", cmd);
            logged_error = true;
            std::clearerr(raw);
            if (++errors_in_a_row >= kMaxReadErrors) {
                write_log("giving up reading output of command %s after %d read errors\n", cmd, errors_in_a_row);
                break;
            }
        }
    } while (!std::feof(raw));

    shared.is_running.store(0);
    if (waiter.joinable())
        waiter.join();

    if (wrote && mess != nullptr)
        *mess = std::move(collected);

    int status = pclose(raw);
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
