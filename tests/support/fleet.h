// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// Test hosts for the fleet roll-out: each an sshd on its own port of
// 127.0.0.1 in a private mount namespace (its own /usr/share, /etc,
// /var/log and /var/tmp), started by the test and stopped by process id;
// and the playbook run against them.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

#include "support/package_fixture.h"
#include "support/process.h"

// One test host: its sandbox state is that of a package fixture, so the
// fixture's helpers (plant, preinstall, log, sdk_installed) read and change
// it. Its sshd lives at most ten minutes. With `share_kib`, its /usr/share
// has only that much room.
class TestHost {
public:
    TestHost(std::string name, const std::string &authorized_keys, const std::string &share_kib = "");
    ~TestHost();
    TestHost(const TestHost &) = delete;
    TestHost &operator=(const TestHost &) = delete;

    // Waits until the sshd accepts connections; false after 20 s.
    bool wait_ready() const;
    void stop();

    std::string inventory_line(const std::string &key) const;
    // Runs a shell command on the host as root, through its sshd, so that
    // it sees and changes the host as the host itself does.
    ProcessResult run(const std::string &key, const std::string &command) const;
    // Inventory variables of this host alone ("name=value ...").
    std::string vars;
    // The user ansible connects as.
    std::string user = "root";
    const std::string &name() const { return name_; }
    // How many installer runs the host's log holds.
    int runs() const;

    PackageFixture host;

private:
    std::string name_;
    int port_;
    pid_t pid_ = -1;
};

// What the play recap says of one host.
struct Recap {
    int ok = -1;
    int changed = -1;
    int failed = -1;
    int unreachable = -1;
};

struct PlaybookRun {
    ProcessResult result;
    std::map<std::string, Recap> recap;
    std::string output() const { return result.out + result.err; }
};

// The controller's side: a key for the hosts, the log directory, and runs
// of deploy/ansible/install.yml with the package of this build.
class Fleet {
public:
    Fleet();

    std::string key() const { return dir_ / "id_ed25519"; }
    std::string keys() const { return dir_ / "authorized_keys"; }
    std::string logs() const { return dir_ / "logs"; }
    // The controller's TMPDIR in every play: the test's own.
    std::string tmp() const { return dir_ / "tmp"; }

    // Runs the playbook with the settings that ship beside it, the package
    // of this build as every host's (a host's own vars may name another),
    // from `cwd` (default: the test's directory).
    PlaybookRun play(const std::vector<TestHost *> &hosts, const std::vector<std::string> &extra,
                     const std::string &cwd = "", const std::vector<std::string> &env = {}) const;

    // Runs the README's command as it is written, in a copy of the
    // playbook's directory (its own ansible.cfg, logs/ beside it): only the
    // inventory (these hosts, written there as inventory.ini) and the
    // package's path are the test's. Returns the copy's path in `where`.
    PlaybookRun play_as_documented(const std::vector<TestHost *> &hosts, std::string &where) const;

private:
    TempDir dir_;
};
