// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

// In a child: a session of its own, `cwd`, `env` added, then `argv`.
[[noreturn]] void exec_in_session(const std::vector<std::string> &argv, const std::string &cwd,
                                  const std::vector<std::string> &env)
{
    setsid();
    if (!cwd.empty() && chdir(cwd.c_str()) != 0)
        _exit(126);
    for (const std::string &entry : env)
        putenv(const_cast<char *>(entry.c_str()));
    std::vector<char *> args;
    for (const std::string &arg : argv)
        args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

} // namespace

ProcessResult run_process(const std::vector<std::string> &argv, const std::string &cwd,
                          const std::vector<std::string> &env, const std::string &input)
{
    int out_pipe[2];
    int err_pipe[2];
    int in_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0 || pipe(in_pipe) != 0)
        throw std::runtime_error("pipe failed");
    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(in_pipe[0], 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]})
            close(fd);
        if (input.empty()) {
            int null_fd = open("/dev/null", O_RDONLY);
            dup2(null_fd, 0);
            close(null_fd);
        }
        exec_in_session(argv, cwd, env);
    }
    close(in_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (!input.empty()) {
        ssize_t ignored = write(in_pipe[1], input.data(), input.size());
        (void)ignored;
    }
    close(in_pipe[1]);

    ProcessResult result;
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    int open_count = 2;
    char buf[65536];
    while (open_count > 0) {
        if (poll(fds, 2, -1) < 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            } else {
                (i == 0 ? result.out : result.err).append(buf, static_cast<std::size_t>(n));
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string> &argv, const std::string &cwd,
                                     const std::vector<std::string> &env)
{
    char templ[] = "/tmp/installer-test-output.XXXXXX";
    int out_fd = mkstemp(templ);
    out_ = templ;
    char templ_err[] = "/tmp/installer-test-output.XXXXXX";
    int err_fd = mkstemp(templ_err);
    err_ = templ_err;
    if (out_fd < 0 || err_fd < 0)
        throw std::runtime_error("mkstemp failed");
    pid_ = fork();
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        int null_fd = open("/dev/null", O_RDONLY);
        dup2(null_fd, 0);
        dup2(out_fd, 1);
        dup2(err_fd, 2);
        exec_in_session(argv, cwd, env);
    }
    close(out_fd);
    close(err_fd);
}

BackgroundProcess::~BackgroundProcess()
{
    if (pid_ > 0) {
        kill(-pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    unlink(out_.c_str());
    unlink(err_.c_str());
}

ProcessResult BackgroundProcess::wait(int timeout_ms)
{
    ProcessResult result;
    if (pid_ <= 0)
        return result;
    for (int waited = 0; waited <= timeout_ms; waited += 10) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            result.out = read_file(out_);
            result.err = read_file(err_);
            return result;
        }
        usleep(10000);
    }
    return result;
}

bool eventually(const std::function<bool()> &condition, int timeout_ms)
{
    for (int waited = 0; waited <= timeout_ms; waited += 10) {
        if (condition())
            return true;
        usleep(10000);
    }
    return condition();
}

std::string shell_output(const std::string &command)
{
    return run_process({"/bin/sh", "-c", command}).out;
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

void write_file(const std::string &path, const std::string &content, unsigned mode)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << content;
    }
    chmod(path.c_str(), mode);
}

bool file_exists(const std::string &path)
{
    struct stat st{};
    return lstat(path.c_str(), &st) == 0;
}

TempDir::TempDir()
{
    char templ[] = "/tmp/installer-test.XXXXXX";
    if (mkdtemp(templ) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = templ;
    chmod(path_.c_str(), 0755);
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}
