#include "screen/terminal_guard.h"

#include <fcntl.h>
#include <newt.h>
#include <slang.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "core/run_state.h"
#include "core/text.h"

namespace {

// Everything the handler needs is prepared before the screen starts, so the
// handler itself only copies bytes and makes system calls.
struct GuardState {
    bool armed = false;
    bool have_termios = false;
    int tty_fd = -1; // the terminal the keys come from
    termios saved_termios{};
    bool have_levels = false;
    char printk_text[64] = {};
    std::size_t printk_len = 0;
    char log_file[4096] = {};
    long gmtoff = 0;
    struct sigaction previous[3] = {};
};

GuardState guard;
const int kGuardedSignals[3] = {SIGINT, SIGTERM, SIGHUP};

std::size_t put_text(char *buf, std::size_t pos, std::size_t len, const char *text)
{
    while (*text != '\0' && pos + 1 < len)
        buf[pos++] = *text++;
    return pos;
}

std::size_t put_number(char *buf, std::size_t pos, std::size_t len, long long value, int digits)
{
    char tmp[24];
    int n = 0;
    bool negative = value < 0;
    unsigned long long v = negative ? 0ULL - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
    do {
        tmp[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0 && n < 20);
    while (n < digits && n < 20)
        tmp[n++] = '0';
    if (negative && pos + 1 < len)
        buf[pos++] = '-';
    while (n > 0 && pos + 1 < len)
        buf[pos++] = tmp[--n];
    return pos;
}

void write_all(int fd, const char *data, std::size_t size)
{
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n <= 0)
            return;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

extern "C" void on_fatal_signal(int sig)
{
    if (guard.have_termios)
        tcsetattr(guard.tty_fd, TCSANOW, &guard.saved_termios);
    static const char reset[] = "\033[0m\033[?25h\033[?1049l\r\n";
    write_all(STDOUT_FILENO, reset, sizeof reset - 1);

    if (guard.have_levels) {
        int fd = ::open("/proc/sys/kernel/printk", O_WRONLY);
        if (fd >= 0) {
            write_all(fd, guard.printk_text, guard.printk_len);
            ::close(fd);
        }
    }

    int code = 128 + sig;
    if (guard.log_file[0] != '\0') {
        int fd = ::open(guard.log_file, O_WRONLY | O_APPEND | O_CREAT, 0666);
        if (fd >= 0) {
            char line[160];
            timespec now{};
            clock_gettime(CLOCK_REALTIME, &now);
            std::size_t pos = format_timestamp_signal_safe(line, sizeof line, now.tv_sec, guard.gmtoff);
            pos = put_text(line, pos, sizeof line, ": Exiting with code ");
            pos = put_number(line, pos, sizeof line, code, 1);
            pos = put_text(line, pos, sizeof line, "\n");
            write_all(fd, line, pos);
            ::close(fd);
        }
    }
    _exit(code);
}

// The terminal the screen library reads keys from: standard input when it
// is a terminal, otherwise the process's controlling terminal. -1 when
// there is none; a descriptor of our own is left open for the guard.
int key_terminal()
{
    if (::isatty(STDIN_FILENO) == 1)
        return STDIN_FILENO;
    return ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
}

void arm_guard()
{
    if (log_path && log_path->size() < sizeof guard.log_file)
        std::memcpy(guard.log_file, log_path->c_str(), log_path->size() + 1);
    std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) != nullptr)
        guard.gmtoff = local.tm_gmtoff;

    struct sigaction action_spec{};
    action_spec.sa_handler = on_fatal_signal;
    sigemptyset(&action_spec.sa_mask);
    for (int sig : kGuardedSignals)
        sigaddset(&action_spec.sa_mask, sig);
    for (int i = 0; i < 3; ++i)
        sigaction(kGuardedSignals[i], &action_spec, &guard.previous[i]);
    guard.armed = true;
}

void disarm_guard()
{
    if (!guard.armed)
        return;
    for (int i = 0; i < 3; ++i)
        sigaction(kGuardedSignals[i], &guard.previous[i], nullptr);
    guard.armed = false;
}

} // namespace

std::size_t format_timestamp_signal_safe(char *buf, std::size_t len, long long when, long gmtoff)
{
    if (len == 0)
        return 0;
    long long local = when + gmtoff;
    long long days = local / 86400;
    long long secs = local % 86400;
    if (secs < 0) {
        secs += 86400;
        days -= 1;
    }
    // Civil date from a day count (proleptic Gregorian calendar).
    long long z = days + 719468;
    long long era = (z >= 0 ? z : z - 146096) / 146097;
    long long doe = z - era * 146097;
    long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long year = yoe + era * 400;
    long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    long long mp = (5 * doy + 2) / 153;
    long long day = doy - (153 * mp + 2) / 5 + 1;
    long long month = mp < 10 ? mp + 3 : mp - 9;
    if (month <= 2)
        year += 1;

    std::size_t pos = 0;
    pos = put_number(buf, pos, len, year, 4);
    pos = put_text(buf, pos, len, "-");
    pos = put_number(buf, pos, len, month, 2);
    pos = put_text(buf, pos, len, "-");
    pos = put_number(buf, pos, len, day, 2);
    pos = put_text(buf, pos, len, "T");
    pos = put_number(buf, pos, len, secs / 3600, 2);
    pos = put_text(buf, pos, len, ":");
    pos = put_number(buf, pos, len, secs / 60 % 60, 2);
    pos = put_text(buf, pos, len, ":");
    pos = put_number(buf, pos, len, secs % 60, 2);
    long offset = gmtoff < 0 ? -gmtoff : gmtoff;
    pos = put_text(buf, pos, len, gmtoff < 0 ? "-" : "+");
    pos = put_number(buf, pos, len, offset / 3600, 2);
    pos = put_number(buf, pos, len, offset / 60 % 60, 2);
    buf[pos] = '\0';
    return pos;
}

std::string screen_unusable_reason()
{
    // Keys come from standard input or, when that is redirected, from the
    // controlling terminal, as the screen library does it.
    int keys = key_terminal();
    if (keys < 0)
        return _("standard input is not a terminal");
    if (keys != STDIN_FILENO)
        ::close(keys);
    if (!isatty(STDOUT_FILENO))
        return _("standard output is not a terminal");
    const char *term = std::getenv("TERM");
    if (term == nullptr || term[0] == '\0')
        return _("the terminal type (TERM) is not set");
    // The terminal database as the screen library itself searches it
    // (TERMINFO, TERMINFO_DIRS, its compiled-in directories); a type it
    // does not know, or one that cannot address the cursor, cannot carry
    // the screen.
    std::string type = term; // the library's declaration takes a modifiable text
    if (SLtt_initialize(type.data()) != 0)
        return strprintf(_("the terminal type '%s' is not supported"), term);
    return {};
}

bool start_screen()
{
    if (guard.tty_fd < 0)
        guard.tty_fd = key_terminal();
    guard.have_termios = guard.tty_fd >= 0 && tcgetattr(guard.tty_fd, &guard.saved_termios) == 0;
    arm_guard();
    if (newtInit() != 0) {
        disarm_guard();
        return false;
    }
    newtCls();
    innewt = 1;
    return true;
}

void stop_screen()
{
    disarm_guard();
    newtFinished();
}

void remember_console_levels(const int *levels)
{
    std::string text = strprintf("%d %d %d %d\n", levels[0], levels[1], levels[2], levels[3]);
    if (text.size() < sizeof guard.printk_text) {
        std::memcpy(guard.printk_text, text.c_str(), text.size() + 1);
        guard.printk_len = text.size();
        guard.have_levels = levels[0] != 0;
    }
}
