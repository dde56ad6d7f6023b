#include "core/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include "core/file_stream.h"
#include "core/run_state.h"

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

// Opens the log for one entry and writes the entry's timestamp; null when
// no log is set or the file cannot be opened.
file_stream open_entry()
{
    if (!log_path)
        return nullptr;
    // Never blocks (a FIFO put where the log belongs) and writes only into a
    // regular file, never through a symbolic link (which anyone who could
    // write its directory may have put there); a new log is root's alone,
    // as it may tell much of the host.
    int fd = ::open(log_path->c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC,
                    0600);
    if (fd < 0)
        return nullptr;
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
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
    std::fflush(file.get());
}

void write_log_bytes(const char *bytes, std::size_t size)
{
    file_stream file = open_entry();
    if (!file)
        return;
    std::fwrite(bytes, 1, size, file.get());
    std::fflush(file.get());
}
