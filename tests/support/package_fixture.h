// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// A package root built for one test, with scripted back-end tools that
// record their arguments, and a sandbox state directory in which the
// installer's changes to the host land.
#pragma once

#include <string>
#include <vector>

#include "support/process.h"

struct RunOptions {
    bool as_nobody = false;           // run as an unprivileged user
    std::string cwd;                  // working directory (default: the state directory)
    std::string program;              // how the program is named (default: its absolute path)
    std::vector<std::string> env;     // added to the environment
    std::string input;                // standard input
    std::vector<std::string> wrapper; // runs the program under this command (valgrind, ...)
};

class PackageFixture {
public:
    PackageFixture();
    // Prints why a sandbox could not be set up, when one could not.
    ~PackageFixture();
    PackageFixture(const PackageFixture &) = delete;
    PackageFixture &operator=(const PackageFixture &) = delete;

    const std::string &root() const { return root_; }
    const std::string &state() const { return state_; }
    std::string program() const { return root_ + "/installer/install"; }

    // Files of the package, relative to its root.
    void write(const std::string &rel, const std::string &content, unsigned mode = 0644) const;
    // A shell script tool; `body` follows "#!/bin/sh".
    void tool(const std::string &rel, const std::string &body) const;
    void remove(const std::string &rel) const;
    // Shell lines for a tool that waits (30 s at most) until the test opens
    // the gate `name`: a tool's output is then on the screen for as long as
    // the test needs it there.
    std::string gate(const std::string &name) const;
    void open_gate(const std::string &name) const;

    // Replaces the scripted tools by the sample package's real back end,
    // and adds its message catalogues.
    void use_sample_backend() const;

    // Replaces the whole package by the one a tarball holds (under its one
    // top directory).
    void unpack(const std::string &tarball) const;
    // Hides the screen and option libraries (newt, S-Lang, popt) from the
    // loader inside the sandbox, as on a host that never installed them.
    void hide_screen_libraries() const;
    // Runs the program on a host that has no C library at all: busybox as
    // its shell and utilities (see support/bare-root.sh for what else it
    // has), with the package at the same path as here. The program is the
    // shipped one, the only one such a host can run.
    void use_bare_host();
    // That host without /proc mounted.
    void hide_proc() const;
    // Gives the runs a cgroup (v2) tree of their own: a cgroup that the
    // fixture makes below its own in this machine's tree, the root of what
    // the sandbox shows. Otherwise the runs see no cgroup tree. Killed and
    // removed, with whatever is left in it, when the fixture goes. Throws
    // where this machine has no cgroup tree that root may write.
    void use_cgroup();
    // A host of the RPM kind whose package manager is `manager` ("dnf" or
    // "zypper"), for real: no apt-get or dpkg-query, an empty rpm database
    // in /var/lib/rpm, and one repository, made by the test, that has
    // stand-ins of coreutils, sed and gzip. Whatever the manager writes
    // stays in the sandbox.
    void use_rpm_host(const std::string &manager) const;
    // The lock of that manager, held by the running process `pid`, as
    // another dnf or zypper holds it.
    void hold_package_lock(const std::string &manager, int pid) const;

    // The kernel console levels the sandbox shows the installer.
    void set_printk(const std::string &content) const;
    std::string printk() const;

    // An installed SDK, as its installed manifest.
    void preinstall(const std::string &manifest = "[files]\n") const;
    bool sdk_installed() const;
    std::string installed_file(const std::string &absolute) const;
    // Whether the sandbox shows something at `absolute` that the runs put
    // there (a whiteout that hides the host's entry shows nothing).
    bool installed(const std::string &absolute) const;

    std::string log(const std::string &name = "kestrane-sdk-install.log") const;
    // What the scripted tools recorded, one line per call.
    std::string calls() const;

    // The command line that runs the installer in the sandbox.
    std::vector<std::string> command(const std::vector<std::string> &args, const RunOptions &options = {}) const;
    // The same as one shell-quoted text, for a terminal.
    std::string command_text(const std::vector<std::string> &args, const RunOptions &options = {}) const;

    ProcessResult run(const std::vector<std::string> &args, const RunOptions &options = {}) const;

    // Runs one routine through the routine driver in the sandbox, from the
    // package root, without the screen; the log goes to the state's log
    // directory.
    ProcessResult run_routine(const std::vector<std::string> &args, std::vector<std::string> env = {}) const;

    // A file planted at an absolute path under /usr/bin, /usr/sbin, /usr/lib
    // or /etc inside the sandbox.
    void plant(const std::string &absolute, const std::string &content, unsigned mode = 0755) const;

private:
    TempDir dir_;
    std::string root_;
    std::string state_;
    bool bare_host_ = false;
    std::string cgroup_;
};

// Quotes a word for /bin/sh.
std::string sh_quote(const std::string &word);
