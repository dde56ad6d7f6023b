#include "core/text.h"

#include <cstdio>
#include <vector>

std::string vstrprintf(const char *format, va_list args)
{
    va_list again;
    va_copy(again, args);
    char small[512];
    int needed = std::vsnprintf(small, sizeof small, format, args);
    if (needed < 0) {
        va_end(again);
        return {};
    }
    if (static_cast<std::size_t>(needed) < sizeof small) {
        va_end(again);
        return std::string(small, static_cast<std::size_t>(needed));
    }
    std::vector<char> big(static_cast<std::size_t>(needed) + 1);
    std::vsnprintf(big.data(), big.size(), format, again);
    va_end(again);
    return std::string(big.data(), static_cast<std::size_t>(needed));
}

std::string strprintf(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::string result = vstrprintf(format, args);
    va_end(args);
    return result;
}

std::string cut_text(std::string text, std::size_t max)
{
    if (text.size() > max)
        text.resize(max);
    return text;
}

std::string strprintf_cut(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::string result = vstrprintf(format, args);
    va_end(args);
    return cut_text(std::move(result));
}

bool is_shell_safe(std::string_view text)
{
    if (text.empty())
        return false;
    for (char c : text) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '_' || c == '-' || c == '.' || c == '/' || c == ',' || c == ':' ||
                  c == '+' || c == '=' || c == '@' || c == '%';
        if (!ok)
            return false;
    }
    return true;
}

std::string shell_quote(std::string_view text)
{
    if (is_shell_safe(text))
        return std::string(text);
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    quoted += '\'';
    return quoted;
}
