// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "support/terminal.h"

#include "support/package_fixture.h"

#include <algorithm>
#include <sstream>
#include <stdexcept>
#include <thread>

Terminal::Terminal(int cols, int rows) : socket_(dir_ / "tmux-0.sock"), config_(dir_ / "tmux.conf"), cols_(cols), rows_(rows)
{
    write_file(config_, "set -g remain-on-exit on\nset -g status off\nset -g default-terminal screen\n"
                        "set -g escape-time 0\nset -g history-limit 0\n");
}

Terminal::~Terminal()
{
    if (started_)
        tmux({"kill-server"});
}

std::string Terminal::tmux(const std::vector<std::string> &args) const
{
    std::vector<std::string> argv = {"tmux", "-S", socket_, "-f", config_};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_process(argv, "", {"TMUX="}).out;
}

void Terminal::start(const std::string &command, const std::vector<std::string> &env)
{
    // A terminal started again is a fresh one, for the next program: a new
    // server on a socket of its own. The old server goes on exiting after
    // kill-server has returned, and a client that reached it on the same
    // socket in the meantime lost its new session with it.
    if (started_)
        tmux({"kill-server"});
    socket_ = dir_ / ("tmux-" + std::to_string(++starts_) + ".sock");
    std::vector<std::string> args = {"new-session", "-d", "-s", "t", "-x", std::to_string(cols_), "-y",
                                     std::to_string(rows_)};
    for (const std::string &entry : env) {
        args.push_back("-e");
        args.push_back(entry);
    }
    // The status is recorded by a shell around the command: tmux does not
    // always collect a pane's exit status.
    // The terminal's settings after the command tell whether it was left
    // usable. The status comes last, as the pane's title: tmux reads what
    // the pane writes in order, so once it shows the title it shows
    // everything the command wrote before it ended.
    args.push_back("stty -a > " + sh_quote(dir_ / "stty-before") + " 2>&1\n" + command + "\nstatus=$?\nstty -a > " +
                   sh_quote(dir_ / "stty") +
                   " 2>&1\nprintf '\\033]2;exited %s\\033\\\\' \"$status\"");
    // The first client starts the server, which keeps whatever descriptors
    // it was given: hand it none of ours.
    std::string line = "exec tmux -S " + sh_quote(socket_) + " -f " + sh_quote(config_);
    for (const std::string &arg : args)
        line += " " + sh_quote(arg);
    line += " </dev/null >/dev/null";
    ProcessResult started = run_process({"/bin/sh", "-c", line}, "", {"TMUX="});
    if (started.status != 0)
        throw std::runtime_error("the terminal did not start: " + started.err);
    started_ = true;
}

void Terminal::press(const std::string &key, int times)
{
    tmux({"send-keys", "-N", std::to_string(times), "-t", "t", key});
}

void Terminal::type(const std::string &text)
{
    tmux({"send-keys", "-t", "t", "-l", text});
}

void Terminal::resize(int cols, int rows)
{
    cols_ = cols;
    rows_ = rows;
    tmux({"resize-window", "-t", "t", "-x", std::to_string(cols), "-y", std::to_string(rows)});
}

std::string Terminal::tty() const
{
    std::string name = tmux({"display-message", "-p", "-t", "t", "#{pane_tty}"});
    return name.substr(0, name.find('\n'));
}

std::string Terminal::screen() const
{
    return tmux({"capture-pane", "-p", "-t", "t"});
}

std::vector<std::string> Terminal::rows() const
{
    std::vector<std::string> lines;
    std::istringstream in(screen());
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    while (lines.size() < static_cast<std::size_t>(rows_))
        lines.emplace_back();
    return lines;
}

std::pair<int, int> Terminal::cursor() const
{
    std::istringstream in(tmux({"display-message", "-p", "-t", "t", "#{cursor_x} #{cursor_y}"}));
    int x = -1;
    int y = -1;
    in >> x >> y;
    return {x, y};
}

bool Terminal::wait_until(const std::function<bool(const std::string &)> &predicate,
                          std::chrono::milliseconds timeout) const
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        if (predicate(screen()))
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
}

bool Terminal::wait_for(const std::string &text, std::chrono::milliseconds timeout) const
{
    return wait_until([&](const std::string &s) { return s.find(text) != std::string::npos; }, timeout);
}

bool Terminal::wait_gone(const std::string &text, std::chrono::milliseconds timeout) const
{
    return wait_until([&](const std::string &s) { return s.find(text) == std::string::npos; }, timeout);
}

int Terminal::wait_exit(std::chrono::milliseconds timeout) const
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() <= deadline) {
        std::string title = tmux({"display-message", "-p", "-t", "t", "#{pane_title}"});
        if (title.rfind("exited ", 0) == 0)
            return std::stoi(title.substr(7));
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    return -1;
}

std::pair<int, int> Terminal::find(const std::string &text, bool last) const
{
    std::vector<std::string> lines = rows();
    std::pair<int, int> found = {-1, -1};
    for (std::size_t y = 0; y < lines.size(); ++y) {
        std::size_t x = lines[y].find(text);
        if (x == std::string::npos)
            continue;
        // Screen columns: every character counts once, whatever its length
        // in UTF-8 (the window frames are drawn with line characters).
        int column = 0;
        for (std::size_t i = 0; i < x; ++i) {
            if ((static_cast<unsigned char>(lines[y][i]) & 0xC0) != 0x80)
                ++column;
        }
        found = {static_cast<int>(y), column};
        if (!last)
            return found;
    }
    return found;
}

bool Terminal::cursor_on(const std::string &label, bool last) const
{
    // A dialog's text can be on the screen before the cursor is placed:
    // wait for the whole state.
    return wait_until([&](const std::string &) {
        auto [row, col] = find(label, last);
        auto [x, y] = cursor();
        return row >= 0 && y == row && x >= col - 2 && x < col + static_cast<int>(label.size()) + 2;
    }, std::chrono::seconds(5));
}

bool Terminal::left_as_found() const
{
    std::string after = read_file(dir_ / "stty");
    return !after.empty() && after == read_file(dir_ / "stty-before");
}

bool Terminal::left_usable() const
{
    std::string settings = " " + read_file(dir_ / "stty") + " ";
    std::replace(settings.begin(), settings.end(), '\n', ' ');
    for (const char *mode : {" icanon", " echo ", " isig", " icrnl", " opost"}) {
        if (settings.find(mode) == std::string::npos)
            return false;
    }
    return true;
}
