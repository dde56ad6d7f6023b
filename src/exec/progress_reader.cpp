// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "exec/progress_reader.h"

#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <unistd.h>

#include "core/log.h"
#include "core/run_state.h"
#include "core/text.h"
#include "exec/shell_child.h"
#include "exec/terminal_line.h"

progress_data progress;

namespace {

constexpr std::size_t kLineMax = 4095;

// Splits a command's output into lines of at most kLineMax characters
// (line feed included), any byte allowed, reading large blocks at a time.
// Interrupted reads are retried; any other error ends the stream.
class LineReader {
public:
    explicit LineReader(ShellChild &child) : child_(child) {}

    bool next(std::string_view &line)
    {
        while (true) {
            std::size_t available = end_ - begin_;
            const char *start = buffer_ + begin_;
            std::size_t limit = std::min(available, kLineMax);
            if (const void *feed = std::memchr(start, '\n', limit)) {
                std::size_t length = static_cast<const char *>(feed) - start + 1;
                line = std::string_view(start, length);
                begin_ += length;
                return true;
            }
            if (available >= kLineMax || (at_end_ && available > 0)) {
                line = std::string_view(start, limit);
                begin_ += limit;
                return true;
            }
            if (at_end_)
                return false;
            fill();
        }
    }

private:
    void fill()
    {
        if (begin_ > 0) {
            std::memmove(buffer_, buffer_ + begin_, end_ - begin_);
            end_ -= begin_;
            begin_ = 0;
        }
        std::size_t got = 0;
        if (child_.read_output(buffer_ + end_, sizeof buffer_ - end_, got) == ShellChild::Read::Data)
            end_ += got;
        else
            at_end_ = true;
    }

    ShellChild &child_;
    char buffer_[65536] = {};
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool at_end_ = false;
};

// The three characters of the percentage field as scanf's "%i" reads them:
// line feeds count as blanks and a NUL ends the field.
int read_percentage(std::string_view line)
{
    char field[4] = {0, 0, 0, 0};
    for (std::size_t i = 1; i < 4 && i < line.size() && line[i] != '\0'; ++i)
        field[i - 1] = line[i] == '\n' ? ' ' : line[i];
    // The usual field: blanks, then decimal digits not starting with 0.
    int i = 0;
    while (i < 3 && field[i] == ' ')
        ++i;
    if (i < 3 && field[i] >= '1' && field[i] <= '9') {
        int value = 0;
        while (i < 3 && field[i] >= '0' && field[i] <= '9')
            value = value * 10 + (field[i++] - '0');
        return value;
    }
    // Anything else (sign, octal, hexadecimal, no number) goes to strtol
    // with base 0, which reads an integer exactly as "%i" does and gives 0
    // when nothing can be read.
    return static_cast<int>(std::strtol(field, nullptr, 0));
}

// The message from column 7 on, its line feed turned into a blank, up to
// the first NUL and at most `size` - 1 characters. A line holds a line
// feed only as its last character.
std::size_t copy_message(std::string_view line, char *out, std::size_t size)
{
    std::size_t n = 0;
    if (line.size() > 7 && size > 0) {
        std::string_view rest = line.substr(7, size - 1);
        if (const void *nul = std::memchr(rest.data(), '\0', rest.size()))
            rest = rest.substr(0, static_cast<std::size_t>(static_cast<const char *>(nul) - rest.data()));
        n = rest.size();
        std::memcpy(out, rest.data(), n);
        if (n > 0 && out[n - 1] == '\n')
            out[n - 1] = ' ';
    }
    if (size > 0)
        out[n] = '\0';
    return n;
}

} // namespace

progress_line parse_progress_line(std::string_view line)
{
    progress_line result;
    if (line.empty() || line[0] != '[')
        return result;
    result.is_progress = true;
    result.percent = read_percentage(line);
    char message[4096];
    result.message.assign(message, copy_message(line, message, sizeof message));
    return result;
}

int scale_progress(int percent, int num_parts, int part)
{
    if (num_parts <= 1)
        return percent;
    long long scaled = (static_cast<long long>(part) * 100 + percent) / num_parts;
    return static_cast<int>(scaled);
}

void capture_output(std::string &captured, std::size_t size, std::string_view line)
{
    if (size == 0 || captured.size() + 1 >= size)
        return;
    std::size_t room = size - 1 - captured.size();
    captured.append(line.substr(0, room));
}

void apply_progress_line(progress_data *progr, std::string_view line)
{
    if (progr == nullptr || line.empty() || line[0] != '[')
        return;
    // The bar only knows 0 to 100: a run's figure outside that range must
    // neither fill the bar nor move it back into another part's share.
    int percent = std::clamp(read_percentage(line), 0, 100);
    progr->progress = scale_progress(percent, progr->num_parts, progr->part);
    copy_message(line, progr->message, sizeof progr->message);
    show_progress_data(3, progr);
    update_terminal_line(progr->progress, progr->message);
}

void show_progress_data(int progress_type, progress_data *progr)
{
    if (progr == nullptr || !innewt || !progr->data)
        return;
    switch (progress_type) {
    case 1:
        prepStart(100, get_action_name(progr->action));
        break;
    case 2:
        prepStop();
        break;
    case 3:
        prepUpdate(progr->progress);
        break;
    default:
        break;
    }
}

namespace {

std::vector<std::string> backend_lines;

} // namespace

const std::vector<std::string> &last_backend_lines()
{
    return backend_lines;
}

int exec_with_progress(const char *cmd, progress_data *progr, std::string *output_buf, std::size_t output_buf_size)
{
    backend_lines.clear();
    if (output_buf == nullptr)
        output_buf_size = 0;
    const bool first_run = progr != nullptr && (progr->num_parts == 1 || progr->part == 0);
    const bool last_run = progr != nullptr && (progr->num_parts == 1 || progr->part == progr->num_parts - 1);
    if (first_run) {
        show_progress_data(1, progr);
        open_terminal_line();
    }

    ShellChild child(cmd);
    if (!child.started()) {
        write_log("Error on popen(%s)\n", cmd);
        close_terminal_line();
        return -1;
    }
    // While the back end is silent, the bar still follows the terminal's
    // size and Ctrl-L.
    child.while_silent([progr] { show_progress_data(3, progr); });
    auto reader = std::make_unique<LineReader>(child);
    std::string_view line;
    while (reader->next(line)) {
        if (output_buf != nullptr)
            capture_output(*output_buf, output_buf_size, line);
        // What is neither a progress line nor read by the caller goes to
        // the log (the back end says there why it failed).
        if (line.empty() || line[0] != '[') {
            if (output_buf == nullptr)
                child.pass_on(line);
            continue;
        }
        apply_progress_line(progr, line);
    }

    int status = child.finish();
    backend_lines.assign(child.last_lines().begin(), child.last_lines().end());
    int result = -1;
    if (status == -1) {
        write_log("error in pclose(%s)\n", cmd);
        close_terminal_line();
        return -1;
    }
    if (WIFEXITED(status)) {
        result = WEXITSTATUS(status);
        write_log("exec_with_progress: %s %d\n", cmd, result);
    } else if (WIFSIGNALED(status)) {
        write_log("command %s got signal %d\n", cmd, WTERMSIG(status));
    }
    if (last_run)
        show_progress_data(2, progr);
    // A failed run ends the action: its line is finished too.
    if (last_run || result != 0)
        close_terminal_line();
    return result;
}
