#include "exec/progress_reader.h"

#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/log.h"
#include "core/run_state.h"

namespace {

constexpr std::size_t kLineMax = 4095;

enum class ReadResult { Line, End };

// Reads one line of at most kLineMax characters (its line feed included),
// any byte allowed. Interrupted reads are retried.
ReadResult read_line(std::FILE *stream, std::string &line)
{
    line.clear();
    while (line.size() < kLineMax) {
        int c = getc_unlocked(stream);
        if (c == EOF) {
            if (std::ferror(stream) && errno == EINTR) {
                std::clearerr(stream);
                continue;
            }
            break;
        }
        line.push_back(static_cast<char>(c));
        if (c == '\n')
            break;
    }
    return line.empty() ? ReadResult::End : ReadResult::Line;
}

} // namespace

progress_line parse_progress_line(std::string_view raw)
{
    progress_line result;
    if (raw.empty() || raw[0] != '[')
        return result;
    result.is_progress = true;
    std::string line(raw);
    std::replace(line.begin(), line.end(), '\n', ' ');
    // Only the three characters of the field take part, as in a sscanf over
    // the field alone; a NUL in it ends the field.
    char field[4] = {0, 0, 0, 0};
    for (std::size_t i = 1; i < 4 && i < line.size() && line[i] != '\0'; ++i)
        field[i - 1] = line[i];
    int value = 0;
    if (std::sscanf(field, "%i", &value) != 1)
        value = 0;
    result.percent = value;
    if (line.size() > 7) {
        std::string_view rest(line);
        rest.remove_prefix(7);
        result.message.assign(rest.substr(0, std::min(rest.find('\0'), rest.size())));
    }
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
    if (progr == nullptr)
        return;
    progress_line parsed = parse_progress_line(line);
    if (!parsed.is_progress)
        return;
    progr->progress = scale_progress(parsed.percent, progr->num_parts, progr->part);
    std::size_t n = std::min(parsed.message.size(), sizeof progr->message - 1);
    std::memcpy(progr->message, parsed.message.data(), n);
    progr->message[n] = '\0';
    show_progress_data(3, progr);
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

int exec_with_progress(const char *cmd, progress_data *progr, std::string *output_buf, std::size_t output_buf_size)
{
    if (output_buf == nullptr)
        output_buf_size = 0;
    if (progr != nullptr && (progr->num_parts == 1 || progr->part == 0))
        show_progress_data(1, progr);

    std::FILE *stream = popen(cmd, "r");
    if (stream == nullptr) {
        write_log("Error on popen(%s)\n", cmd);
        return -1;
    }
    std::string line;
    line.reserve(kLineMax + 1);
    while (read_line(stream, line) == ReadResult::Line) {
        if (output_buf != nullptr)
            capture_output(*output_buf, output_buf_size, line);
        apply_progress_line(progr, line);
    }

    int status = pclose(stream);
    int result = -1;
    if (status == -1) {
        write_log("error in pclose(%s)\n", cmd);
        return -1;
    }
    if (WIFEXITED(status)) {
        result = WEXITSTATUS(status);
        write_log("exec_with_progress: %s %d\n", cmd, result);
    } else if (WIFSIGNALED(status)) {
        write_log("command %s got signal %d\n", cmd, WTERMSIG(status));
    }
    if (progr != nullptr && (progr->num_parts == 1 || progr->part == progr->num_parts - 1))
        show_progress_data(2, progr);
    return result;
}
