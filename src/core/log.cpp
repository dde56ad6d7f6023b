#include "core/log.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <memory>

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

void write_log(const char *format, ...)
{
    if (!log_path)
        return;
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> file(std::fopen(log_path->c_str(), "a"), &std::fclose);
    if (!file)
        return;
    char stamp[64];
    get_date(stamp, sizeof stamp);
    std::fprintf(file.get(), "%s: ", stamp);
    va_list args;
    va_start(args, format);
    std::vfprintf(file.get(), format, args);
    va_end(args);
    std::fflush(file.get());
}

void write_log_bytes(const char *bytes, std::size_t size)
{
    if (!log_path)
        return;
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> file(std::fopen(log_path->c_str(), "a"), &std::fclose);
    if (!file)
        return;
    char stamp[64];
    get_date(stamp, sizeof stamp);
    std::fprintf(file.get(), "%s: ", stamp);
    std::fwrite(bytes, 1, size, file.get());
    std::fflush(file.get());
}
