// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "core/fatal_signals.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include "core/backend_record.h"
#include "core/clock.h"
#include "core/log.h"
#include "core/run_state.h"
#include "core/text.h"

namespace {

// Every signal whose default action would end the installer (SIGPIPE
// aside), the real-time signals too: the run ends as on SIGTERM.
const int kFatalSignals[] = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM,
                             SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ, SIGPWR,  SIGIO,   SIGSTKFLT};

// The signals of a fault of the installer's own (or sent as if): the same
// is put back and logged, then the process ends by the same signal, so
// that its status and its core dump are those of the fault.
const int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL, SIGTRAP, SIGSYS};

// The real-time signals the C library leaves to programs (it keeps the
// first few for itself); read once, before any handler runs.
int rt_first = 0;
int rt_last = -1;

template <typename F> void for_each_fatal_signal(F f)
{
    for (int sig : kFatalSignals)
        f(sig);
    for (int sig = rt_first; sig <= rt_last; ++sig)
        f(sig);
}

bool is_crash_signal(int sig)
{
    for (int crash : kCrashSignals) {
        if (sig == crash)
            return true;
    }
    return false;
}

struct HandlerState {
    std::atomic<bool> armed{false};
    char log_file[4096] = {};
    long gmtoff = 0;
    // The screen's terminal.
    std::atomic<int> tty_fd{-1};
    termios saved_termios{};
    // The console levels.
    std::atomic<std::size_t> printk_len{0};
    char printk_text[64] = {};
    // The running command.
    std::atomic<pid_t> child{0};
    char command[4096] = {};
    std::atomic<bool> line_open{false};
    // What the administrator is told when a command was stopped: the run
    // may have left the host half changed, and a new run sets it right.
    char stopped_note[1024] = {};
};

HandlerState state;

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
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

const char *signal_name(int sig)
{
    switch (sig) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    case SIGQUIT:
        return "SIGQUIT";
    case SIGUSR1:
        return "SIGUSR1";
    case SIGUSR2:
        return "SIGUSR2";
    case SIGALRM:
        return "SIGALRM";
    case SIGVTALRM:
        return "SIGVTALRM";
    case SIGPROF:
        return "SIGPROF";
    case SIGXCPU:
        return "SIGXCPU";
    case SIGXFSZ:
        return "SIGXFSZ";
    case SIGPWR:
        return "SIGPWR";
    case SIGIO:
        return "SIGIO";
    case SIGSTKFLT:
        return "SIGSTKFLT";
    case SIGSEGV:
        return "SIGSEGV";
    case SIGBUS:
        return "SIGBUS";
    case SIGABRT:
        return "SIGABRT";
    case SIGFPE:
        return "SIGFPE";
    case SIGILL:
        return "SIGILL";
    case SIGTRAP:
        return "SIGTRAP";
    case SIGSYS:
        return "SIGSYS";
    default:
        return nullptr;
    }
}

// The signal's name; a real-time signal as "SIGRTMIN+N".
std::size_t put_signal_name(char *buf, std::size_t pos, std::size_t len, int sig)
{
    if (const char *name = signal_name(sig))
        return put_text(buf, pos, len, name);
    if (sig >= rt_first && sig <= rt_last) {
        pos = put_text(buf, pos, len, "SIGRTMIN+");
        return put_number(buf, pos, len, sig - rt_first, 1);
    }
    pos = put_text(buf, pos, len, "signal ");
    return put_number(buf, pos, len, sig, 1);
}

// Waits until nothing of the process group is left, collecting those of
// its processes that are the installer's children; false at the deadline.
bool wait_for_group(pid_t group, double deadline)
{
    while (true) {
        int status = 0;
        while (::waitpid(-group, &status, WNOHANG) > 0) {
        }
        if (::kill(-group, 0) != 0 && errno == ESRCH)
            return true;
        if (seconds_now() >= deadline)
            return false;
        timespec pause{0, 20L * 1000 * 1000};
        ::nanosleep(&pause, nullptr);
    }
}

// Passes the signal on to the running command's process group and waits
// until none of it is left; after the grace time the group is killed.
// True when the command had to be killed.
bool stop_running_command(pid_t group, int sig)
{
    ::kill(-group, sig);
    ::kill(-group, SIGCONT); // a stopped command could not act on it
    if (wait_for_group(group, seconds_now() + kStopGraceSeconds))
        return false;
    ::kill(-group, SIGKILL);
    wait_for_group(group, seconds_now() + 2);
    return true;
}

void append_log_entry(const char *text, std::size_t len)
{
    if (state.log_file[0] == '\0')
        return;
    const int directory = log_directory();
    if (directory < 0)
        return;
    int fd = ::openat(directory, state.log_file,
                      O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    struct stat st{};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (st.st_uid == 0 || st.st_uid == ::geteuid())) {
        char stamp[64];
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        format_timestamp_signal_safe(stamp, sizeof stamp, now.tv_sec, state.gmtoff);
        char line[4096 + 256];
        std::size_t pos = put_text(line, 0, sizeof line, stamp);
        pos = put_text(line, pos, sizeof line, ": ");
        std::size_t room = sizeof line - 1 - pos;
        std::size_t take = len < room ? len : room;
        std::memcpy(line + pos, text, take);
        pos += take;
        write_all(fd, line, pos);
    }
    ::close(fd);
}

extern "C" void on_fatal_signal(int sig)
{
    const int saved_errno = errno;
    char entry[4096 + 160];
    std::size_t pos = put_text(entry, 0, sizeof entry, "Received ");
    pos = put_signal_name(entry, pos, sizeof entry, sig);
    const pid_t child = state.child.load();
    if (child > 0) {
        // INT, TERM and HUP are passed on as they came; any other ends the
        // command as TERM does (its tools clean up on TERM, not on QUIT or
        // USR1).
        const bool passed_on = sig == SIGINT || sig == SIGTERM || sig == SIGHUP;
        bool killed = stop_running_command(child, passed_on ? sig : SIGTERM);
        state.child.store(0);
        pos = put_text(entry, pos, sizeof entry,
                       killed ? "; killed the running command after it did not stop within "
                              : "; stopped the running command: ");
        if (killed) {
            pos = put_number(entry, pos, sizeof entry, kStopGraceSeconds, 1);
            pos = put_text(entry, pos, sizeof entry, " seconds: ");
        }
        pos = put_text(entry, pos, sizeof entry, state.command);
    }
    pos = put_text(entry, pos, sizeof entry, "\n");

    const int tty = state.tty_fd.load();
    if (tty >= 0) {
        tcsetattr(tty, TCSANOW, &state.saved_termios);
        static const char reset[] = "\033[0m\033[?25h\033[?1049l\r\n";
        write_all(STDOUT_FILENO, reset, sizeof reset - 1);
    }
    const std::size_t printk_len = state.printk_len.load();
    if (printk_len > 0) {
        int fd = ::open("/proc/sys/kernel/printk", O_WRONLY | O_CLOEXEC);
        if (fd >= 0) {
            write_all(fd, state.printk_text, printk_len);
            ::close(fd);
        }
        ::unlink(CONSOLE_LEVELS_PATH);
    }
    if (state.line_open.load())
        write_all(STDOUT_FILENO, "\n", 1);
    // The wizard's screen is gone without a word: where a command was
    // stopped, the administrator is told what to do now.
    if (child > 0 && tty >= 0)
        write_all(STDERR_FILENO, state.stopped_note, std::strlen(state.stopped_note));

    append_log_entry(entry, pos);
    char exiting[64];
    std::size_t n = put_text(exiting, 0, sizeof exiting, "Exiting with code ");
    n = put_number(exiting, n, sizeof exiting, 128 + sig, 1);
    n = put_text(exiting, n, sizeof exiting, "\n");
    append_log_entry(exiting, n);
    if (is_crash_signal(sig)) {
        // Ended by the signal itself, once this handler returns: it is
        // blocked until then, and a fault comes back when the faulting
        // instruction runs again.
        struct sigaction fallback{};
        fallback.sa_handler = SIG_DFL;
        sigemptyset(&fallback.sa_mask);
        sigaction(sig, &fallback, nullptr);
        raise(sig);
        errno = saved_errno;
        return;
    }
    errno = saved_errno;
    _exit(128 + sig);
}

extern "C" void on_child_ended(int)
{
    const int saved_errno = errno;
    collect_ended_strays();
    errno = saved_errno;
}

// A write to a reader that has gone fails with EPIPE and is dropped, as any
// other failed write of a message; the run goes on. A handler, unlike an
// ignored signal, is not passed on to the commands the installer starts.
extern "C" void on_broken_pipe(int) {}

} // namespace

void arm_fatal_signals()
{
    if (state.armed.load())
        return;
    if (log_path && log_path->size() < sizeof state.log_file) {
        // Its last name: the handler opens it in the directory the run holds.
        const std::size_t slash = log_path->rfind('/');
        const std::string name = slash == std::string::npos ? *log_path : log_path->substr(slash + 1);
        std::memcpy(state.log_file, name.c_str(), name.size() + 1);
    }
    const std::string note = cut_text(_("The installer was stopped while it changed the host. Start it again: -i "
                                        "finishes the installation or upgrade, -r removes what this run left.\n"),
                                      sizeof state.stopped_note - 1);
    std::memcpy(state.stopped_note, note.c_str(), note.size() + 1);
    std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) != nullptr)
        state.gmtoff = local.tm_gmtoff;

    rt_first = SIGRTMIN;
    rt_last = SIGRTMAX;
    struct sigaction fatal{};
    fatal.sa_handler = on_fatal_signal;
    sigemptyset(&fatal.sa_mask);
    for_each_fatal_signal([&](int sig) { sigaddset(&fatal.sa_mask, sig); });
    // A signal the installer was started with ignored (nohup) stays ignored,
    // for the installer and its back end alike.
    auto arm = [&](int sig) {
        struct sigaction previous{};
        if (sigaction(sig, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
            return;
        sigaction(sig, &fatal, nullptr);
    };
    for_each_fatal_signal(arm);
    // A fault that is a stack overflow leaves no stack for its handler: it
    // runs on a stack of its own.
    static std::vector<char> fault_stack(std::max<std::size_t>(std::size_t{64} * 1024, SIGSTKSZ));
    stack_t alternate{};
    alternate.ss_sp = fault_stack.data();
    alternate.ss_size = fault_stack.size();
    const bool on_own_stack = sigaltstack(&alternate, nullptr) == 0;
    for (int sig : kCrashSignals) {
        struct sigaction previous{};
        if (sigaction(sig, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
            continue;
        struct sigaction crash = fatal;
        if (on_own_stack)
            crash.sa_flags |= SA_ONSTACK;
        sigaction(sig, &crash, nullptr);
    }
    // What the installer handles reaches it even when it was started with
    // those signals blocked (a stop request would otherwise wait for ever).
    sigset_t handled;
    sigemptyset(&handled);
    auto unblock = [&](int sig) {
        struct sigaction now{};
        if (sigaction(sig, nullptr, &now) == 0 && now.sa_handler == on_fatal_signal)
            sigaddset(&handled, sig);
    };
    for_each_fatal_signal(unblock);
    for (int sig : kCrashSignals)
        unblock(sig);
    sigprocmask(SIG_UNBLOCK, &handled, nullptr);

    // Processes of a back-end command whose parent has ended become the
    // installer's, so that a signal's handler can collect them itself and
    // know at once when the command is gone. They are collected as they
    // end, whatever the installer does then.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    struct sigaction child{};
    child.sa_handler = on_child_ended;
    sigemptyset(&child.sa_mask);
    child.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    sigaction(SIGCHLD, &child, nullptr);

    struct sigaction pipe{};
    pipe.sa_handler = on_broken_pipe;
    sigemptyset(&pipe.sa_mask);
    sigaction(SIGPIPE, &pipe, nullptr);
    state.armed.store(true);
}

void note_screen_terminal(int fd, const termios *saved)
{
    FatalSignalsBlocked blocked;
    if (fd >= 0 && saved != nullptr) {
        state.saved_termios = *saved;
        state.tty_fd.store(fd);
    } else {
        state.tty_fd.store(-1);
    }
}

void note_console_levels(const char *text, std::size_t len)
{
    FatalSignalsBlocked blocked;
    if (len < sizeof state.printk_text) {
        std::memcpy(state.printk_text, text, len);
        state.printk_len.store(len);
    } else {
        state.printk_len.store(0);
    }
}

void note_running_command(pid_t pid, const char *cmd)
{
    if (pid > 0 && cmd != nullptr) {
        // The log entry names at most 4095 characters of the command.
        std::size_t len = std::strlen(cmd);
        if (len > sizeof state.command - 1)
            len = sizeof state.command - 1;
        std::memcpy(state.command, cmd, len);
        state.command[len] = '\0';
    }
    state.child.store(pid > 0 ? pid : 0);
}

void note_progress_line_open(bool open)
{
    state.line_open.store(open);
}

void reset_fatal_signals_in_child()
{
    struct sigaction restored{};
    restored.sa_handler = SIG_DFL;
    sigemptyset(&restored.sa_mask);
    auto reset = [&](int sig) {
        struct sigaction current{};
        if (sigaction(sig, nullptr, &current) == 0 && current.sa_handler != SIG_IGN)
            sigaction(sig, &restored, nullptr);
    };
    for_each_fatal_signal(reset);
    for (int sig : kCrashSignals)
        reset(sig);
    reset(SIGPIPE);
}

void collect_ended_strays()
{
    while (true) {
        siginfo_t info{};
        if (::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == 0)
            return;
        // The running command is collected by its runner, which reads its
        // status; those behind it wait for the next call.
        if (info.si_pid == state.child.load())
            return;
        ::waitpid(info.si_pid, nullptr, WNOHANG);
    }
}

FatalSignalsBlocked::FatalSignalsBlocked()
{
    sigset_t set;
    sigemptyset(&set);
    for_each_fatal_signal([&](int sig) { sigaddset(&set, sig); });
    sigaddset(&set, SIGCHLD);
    pthread_sigmask(SIG_BLOCK, &set, &previous_);
}

FatalSignalsBlocked::~FatalSignalsBlocked()
{
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

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
