// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "support/package_fixture.h"

#include "core/text.h"

#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

std::string sh_quote(const std::string &word)
{
    return shell_quote(word);
}

PackageFixture::PackageFixture() : root_(dir_ / "package"), state_(dir_ / "state")
{
    fs::create_directories(root_ + "/installer");
    fs::create_directories(state_);
    chmod(state_.c_str(), 0755);
    fs::copy_file(INSTALLER_BINARY, program(), fs::copy_options::overwrite_existing);
    chmod(program().c_str(), 0755);
    write("LICENSE", "Sample licence text.\nLine two of the licence.\n");
    write("Manifest", "[files]\n");
    write("data/lib_deps", "m coreutils\n");
    const std::string record = "echo \"$(basename \"$0\") $*\" >> " + sh_quote(root_ + "/calls.log") + "\n";
    tool("installer-cli", record + "echo '[  0%] Starting'\necho '[ 50%] Halfway'\necho '[100%] Done'\nexit 0\n");
    tool("installer/pm.sh", record + "exit 0\n");
    tool("installer/check_disk_space.sh", record + "exit 0\n");
    tool("installer/check_selinux.sh", record + "exit 0\n");
    set_printk("7 4 1 7\n");
}

PackageFixture::~PackageFixture()
{
    if (!cgroup_.empty()) {
        write_file(cgroup_ + "/cgroup.kill", "1");
        for (int wait = 0; wait < 500 && read_file(cgroup_ + "/cgroup.events").find("populated 1") != std::string::npos;
             ++wait)
            usleep(10000);
        std::vector<fs::path> cgroups;
        std::error_code error;
        for (const auto &entry : fs::recursive_directory_iterator(cgroup_, error)) {
            if (entry.is_directory(error))
                cgroups.push_back(entry.path());
        }
        for (auto it = cgroups.rbegin(); it != cgroups.rend(); ++it)
            rmdir(it->c_str());
        rmdir(cgroup_.c_str());
    }
    const std::string failed = read_file(state_ + "/sandbox.err");
    if (!failed.empty())
        std::cerr << "The sandbox in " << state_ << " could not be set up:\n" << failed;
}

void PackageFixture::write(const std::string &rel, const std::string &content, unsigned mode) const
{
    write_file(root_ + "/" + rel, content, mode);
}

void PackageFixture::tool(const std::string &rel, const std::string &body) const
{
    write(rel, "#!/bin/sh\n" + body, 0755);
}

std::string PackageFixture::gate(const std::string &name) const
{
    return "i=0; while [ ! -e " + sh_quote(root_ + "/gate-" + name) +
           " ] && [ $i -lt 3000 ]; do sleep 0.01; i=$((i + 1)); done\n";
}

void PackageFixture::open_gate(const std::string &name) const
{
    write("gate-" + name, "");
}

void PackageFixture::remove(const std::string &rel) const
{
    fs::remove_all(root_ + "/" + rel);
}

void PackageFixture::use_sample_backend() const
{
    for (const char *rel : {"LICENSE", "Manifest", "installer-cli", "data", "payload", "resources", "installer/pm.sh",
                            "installer/check_disk_space.sh", "installer/check_selinux.sh"}) {
        fs::path from = fs::path(SAMPLE_SDK_DIR) / rel;
        fs::path to = fs::path(root_) / rel;
        fs::remove_all(to);
        fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    }
}

void PackageFixture::unpack(const std::string &tarball) const
{
    fs::remove_all(root_);
    fs::create_directories(root_);
    ProcessResult r = run_process({"tar", "-xzf", tarball, "-C", root_, "--strip-components=1"});
    if (r.status != 0)
        throw std::runtime_error("cannot unpack " + tarball + ": " + r.err);
}

void PackageFixture::hide_screen_libraries() const
{
    const fs::path libraries = "/usr/lib/x86_64-linux-gnu";
    const std::string hidden = state_ + "/lib/upper/x86_64-linux-gnu";
    fs::create_directories(hidden);
    for (const auto &entry : fs::directory_iterator(libraries)) {
        std::string name = entry.path().filename();
        for (const char *prefix : {"libnewt", "libslang", "libpopt"}) {
            // An overlay whiteout: a character device 0/0 of the same name.
            if (name.rfind(prefix, 0) == 0 && mknod((hidden + "/" + name).c_str(), S_IFCHR | 0600, 0) != 0)
                throw std::runtime_error("cannot hide " + name);
        }
    }
}

void PackageFixture::set_printk(const std::string &content) const
{
    write_file(state_ + "/printk", content);
}

std::string PackageFixture::printk() const
{
    return read_file(state_ + "/printk");
}

void PackageFixture::preinstall(const std::string &manifest) const
{
    // A whiteout an earlier run left in its place goes first.
    if (!installed("/usr/share/kestrane-virtualization-sdk"))
        fs::remove(state_ + "/share/upper/kestrane-virtualization-sdk");
    write_file(state_ + "/share/upper/kestrane-virtualization-sdk/Manifest", manifest);
}

bool PackageFixture::sdk_installed() const
{
    return file_exists(state_ + "/share/upper/kestrane-virtualization-sdk/Manifest");
}

std::string PackageFixture::installed_file(const std::string &absolute) const
{
    if (absolute.rfind("/usr/share/", 0) == 0)
        return state_ + "/share/upper/" + absolute.substr(11);
    if (absolute.rfind("/etc/", 0) == 0)
        return state_ + "/etc/upper/" + absolute.substr(5);
    return absolute;
}

bool PackageFixture::installed(const std::string &absolute) const
{
    struct stat st{};
    if (lstat(installed_file(absolute).c_str(), &st) != 0)
        return false;
    return !(S_ISCHR(st.st_mode) && st.st_rdev == 0);
}

std::string PackageFixture::log(const std::string &name) const
{
    return read_file(state_ + "/log/" + name);
}

std::string PackageFixture::calls() const
{
    return read_file(root_ + "/calls.log");
}

namespace {

// The root file system of a host without a C library, made once for every
// test of the process that asks for it, and left unchanged by them.
const std::string &bare_root()
{
    static const TempDir dir;
    static const std::string root = [] {
        std::string path = dir / "root";
        ProcessResult made = run_process({"/bin/sh", BARE_ROOT_SCRIPT, path});
        if (made.status != 0)
            throw std::runtime_error("cannot make a bare host: " + made.err);
        return path;
    }();
    return root;
}

// A package repository of tiny noarch stand-ins for the packages the
// sample back end asks for, made once for every test of the process.
const std::string &rpm_repository()
{
    static const TempDir dir;
    static const std::string repo = [] {
        std::string path = dir / "repo";
        for (const char *name : {"coreutils", "sed", "gzip"}) {
            std::string recipe = dir / (std::string(name) + ".rpmspec");
            write_file(recipe, std::string("Name: ") + name +
                                 "\nVersion: 1.0\nRelease: 1\nSummary: stand-in\nLicense: MIT\nBuildArch: noarch\n"
                                 "%description\nA stand-in.\n%files\n");
            ProcessResult built = run_process({"rpmbuild", "-bb", "--quiet", "--define", "_topdir " + dir / "build",
                                               "--define", "_rpmdir " + path, recipe});
            if (built.status != 0)
                throw std::runtime_error("cannot build a package: " + built.err);
        }
        ProcessResult indexed = run_process({"createrepo_c", "-q", path});
        if (indexed.status != 0)
            throw std::runtime_error("cannot index the repository: " + indexed.err);
        return path;
    }();
    return repo;
}

// An overlay whiteout: hides the lower directory's entry of that name.
void whiteout(const std::string &path)
{
    fs::create_directories(fs::path(path).parent_path());
    if (mknod(path.c_str(), S_IFCHR | 0600, 0) != 0)
        throw std::runtime_error("cannot hide " + path);
}

} // namespace

void PackageFixture::use_bare_host()
{
#ifdef SHIPPED_INSTALLER
    fs::copy_file(SHIPPED_INSTALLER, program(), fs::copy_options::overwrite_existing);
    bare_host_ = true;
#else
    throw std::runtime_error("this build ships no installer for a bare host");
#endif
}

void PackageFixture::hide_proc() const
{
    write_file(state_ + "/no-proc", "");
}

void PackageFixture::use_cgroup()
{
    std::string own = read_file("/proc/self/cgroup");
    std::size_t at = own.find("0::/");
    if (at == std::string::npos)
        throw std::runtime_error("this machine has no cgroup (v2) tree");
    own = own.substr(at + 3, own.find('\n', at) - at - 3);
    for (const char *root : {"/sys/fs/cgroup", "/sys/fs/cgroup/unified"}) {
        struct statfs fs{};
        if (statfs(root, &fs) != 0 || fs.f_type != 0x63677270)
            continue;
        static int made = 0;
        const std::string cgroup = std::string(root) + (own == "/" ? "" : own) + "/kst-test-" +
                                   std::to_string(getpid()) + "-" + std::to_string(++made);
        if (mkdir(cgroup.c_str(), 0755) != 0)
            throw std::runtime_error("cannot make the cgroup " + cgroup);
        cgroup_ = cgroup;
        write_file(state_ + "/cgroup", cgroup);
        return;
    }
    throw std::runtime_error("this machine has no cgroup (v2) tree");
}

void PackageFixture::use_rpm_host(const std::string &manager) const
{
    for (const char *tool : {"apt-get", "dpkg-query", manager == "dnf" ? "zypper" : "dnf"})
        whiteout(state_ + "/bin/upper/" + tool);
    fs::create_directories(state_ + "/var");
    // Where RPM hosts keep their database (Debian's rpm keeps it in root's
    // home).
    plant("/etc/rpm/macros", "%_dbpath /var/lib/rpm\n", 0644);
    std::string repo = "[tessaro-test]\nname=tessaro-test\nbaseurl=file://" + rpm_repository() +
                       "\nenabled=1\ngpgcheck=0\n";
    if (manager == "dnf") {
        plant("/etc/yum.repos.d/tessaro-test.repo", repo, 0644);
    } else {
        plant("/etc/zypp/repos.d/tessaro-test.repo", repo + "type=rpm-md\nautorefresh=1\n", 0644);
        // The base system a SUSE host has is not in this database.
        plant("/etc/zypp/systemCheck", "", 0644);
    }
}

void PackageFixture::hold_package_lock(const std::string &manager, int pid) const
{
    write_file(manager == "dnf" ? state_ + "/var/upper/lib/dnf/rpmdb_lock.pid" : state_ + "/run/zypp.pid",
               std::to_string(pid));
}

std::vector<std::string> PackageFixture::command(const std::vector<std::string> &args, const RunOptions &options) const
{
    std::vector<std::string> argv = {"unshare", "-m", "--propagation", "private", "/bin/sh", SANDBOX_SCRIPT, state_};
    if (bare_host_) {
        for (const std::string &word : {std::string("--chroot"), bare_root(), root_})
            argv.push_back(word);
    }
    if (options.as_nobody) {
        for (const char *word : {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"})
            argv.push_back(word);
    }
    argv.insert(argv.end(), options.wrapper.begin(), options.wrapper.end());
    argv.push_back(options.program.empty() ? program() : options.program);
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

std::string PackageFixture::command_text(const std::vector<std::string> &args, const RunOptions &options) const
{
    std::string text;
    for (const std::string &word : command(args, options)) {
        if (!text.empty())
            text += ' ';
        text += sh_quote(word);
    }
    return text;
}

ProcessResult PackageFixture::run(const std::vector<std::string> &args, const RunOptions &options) const
{
    return run_process(command(args, options), options.cwd.empty() ? state_ : options.cwd, options.env,
                       options.input);
}

ProcessResult PackageFixture::run_routine(const std::vector<std::string> &args, std::vector<std::string> env) const
{
    // The environment is set inside the sandbox, by env(1), so that a PATH
    // of the test's choosing does not hide the sandbox's own tools.
    env.push_back("SCREEN_DRIVER_LOG=/var/log/kestrane-sdk-install.log");
    std::vector<std::string> full = env;
    full.push_back(SCREEN_DRIVER);
    full.push_back("--text");
    full.insert(full.end(), args.begin(), args.end());
    RunOptions options;
    options.program = "/usr/bin/env";
    options.cwd = root_;
    return run(full, options);
}

void PackageFixture::plant(const std::string &absolute, const std::string &content, unsigned mode) const
{
    static const std::pair<const char *, const char *> kPlaces[] = {
        {"/usr/bin/", "bin"}, {"/usr/sbin/", "sbin"}, {"/usr/lib/", "lib"}, {"/etc/", "etc"}, {"/usr/share/", "share"}};
    for (const auto &[prefix, name] : kPlaces) {
        std::string p = prefix;
        if (absolute.rfind(p, 0) == 0) {
            write_file(state_ + "/" + name + "/upper/" + absolute.substr(p.size()), content, mode);
            return;
        }
    }
    throw std::runtime_error("cannot plant " + absolute);
}
