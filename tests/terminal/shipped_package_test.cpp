// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// The package as users download it: checked, unpacked and run on a host
// that never installed the screen and option libraries, and on one without
// any C library; and the live
// progress line of an unattended run on a terminal.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <sstream>
#include <tuple>

#include "support/package_fixture.h"
#include "support/terminal.h"
#include "support/wizard_run.h"

#ifdef PACKAGE_TARBALL
namespace {

// The log without its timestamps, which differ from run to run, its
// entries apart by writer: what the installer passed on from the back
// end's output, and the rest (the installer's own and the back end's
// tools' direct entries). Each writer's entries keep their order; between
// writers it may differ from run to run.
std::string without_stamps(const std::string &log)
{
    static const std::regex stamp(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d{4}: )");
    std::istringstream entries(std::regex_replace(log, stamp, ""));
    std::string passed_on;
    std::string rest;
    for (std::string line; std::getline(entries, line);)
        (line.rfind("./installer-cli: ", 0) == 0 ? passed_on : rest) += line + "\n";
    return rest + "--- passed on from the back end's output:\n" + passed_on;
}

} // namespace
#endif

TEST(ShippedPackage, RunsOnHostsWithoutItsLibraries)
{
#ifndef PACKAGE_TARBALL
    GTEST_SKIP() << "this build makes no package";
#else
    const std::string tarball = PACKAGE_TARBALL;
    const std::string dir = tarball.substr(0, tarball.rfind('/'));
    const std::string name = tarball.substr(dir.size() + 1, tarball.size() - dir.size() - 1 - 7);
    // Checked as a user does it, with both files downloaded into a
    // directory of their own.
    TempDir downloads;
    for (const std::string suffix : {".tar.gz", ".tar.gz.sha256"})
        std::filesystem::copy_file(dir + "/" + name + suffix, downloads / (name + suffix));
    ProcessResult check = run_process({"sha256sum", "-c", name + ".tar.gz.sha256"}, downloads.path());
    EXPECT_EQ(check.status, 0) << check.out << check.err;
    EXPECT_EQ(check.out, name + ".tar.gz: OK\n");

    // Every entry has root's numeric owner and the mode the package lists:
    // the tools 0755, every other file 0644, every directory 0755.
    std::istringstream listed_tools(read_file(std::string(SOURCE_DIR) + "/packaging/tools"));
    std::vector<std::string> tools;
    for (std::string line; std::getline(listed_tools, line);)
        if (!line.empty() && line[0] != '#')
            tools.push_back(name + "/" + line);
    std::istringstream entries(run_process({"tar", "-tvzf", tarball}).out);
    std::size_t tools_seen = 0;
    for (std::string line; std::getline(entries, line);) {
        std::istringstream fields(line);
        std::string mode, owner, size, date, time, path;
        fields >> mode >> owner >> size >> date >> time >> path;
        const bool tool = std::find(tools.begin(), tools.end(), path) != tools.end();
        tools_seen += tool ? 1 : 0;
        const std::string expected = path == name + "/install" ? "lrwxrwxrwx"
                                     : mode[0] == 'd'          ? "drwxr-xr-x"
                                     : tool                    ? "-rwxr-xr-x"
                                                               : "-rw-r--r--";
        EXPECT_EQ(mode, expected) << line;
        EXPECT_EQ(owner, "0/0") << line;
    }
    EXPECT_EQ(tools_seen, tools.size());

    // Staged afresh from the sources: what a build directory holds beyond
    // them (here a catalogue of a translation the sources no longer have)
    // never reaches the package, which equals the build's byte for byte.
    TempDir again;
    std::filesystem::copy(std::string(SAMPLE_SDK_DIR) + "/resources", again / "resources",
                          std::filesystem::copy_options::recursive);
    write_file(again / "resources/xx/LC_MESSAGES/install.mo", "stale\n");
    ProcessResult repacked = run_process({"sh", std::string(SOURCE_DIR) + "/packaging/make-package.sh",
                                          std::string(SOURCE_DIR) + "/sample-sdk", again / "resources",
                                          SHIPPED_INSTALLER, name, again.path(), SHIPPED_LINK_MAP, LINKING_COMPILER});
    ASSERT_EQ(repacked.status, 0) << repacked.err;
    // The identity tells apart packages whose entries differ only in where
    // a blank falls between a link's name and its target.
    std::vector<std::string> identities;
    for (const auto &[link, target] : {std::pair<std::string, std::string>{"x y", "z"}, {"x", "y z"}}) {
        TempDir sample;
        std::filesystem::copy(std::string(SOURCE_DIR) + "/sample-sdk", sample / "sample-sdk",
                              std::filesystem::copy_options::recursive);
        std::filesystem::create_symlink(target, sample / ("sample-sdk/payload/" + link));
        ProcessResult packed = run_process({"sh", std::string(SOURCE_DIR) + "/packaging/make-package.sh", sample / "sample-sdk",
                                            again / "resources", SHIPPED_INSTALLER, name, sample.path(), SHIPPED_LINK_MAP,
                                            LINKING_COMPILER});
        ASSERT_EQ(packed.status, 0) << packed.err;
        identities.push_back(shell_output("tar -xzOf " + sh_quote(sample / (name + ".tar.gz")) + " " + name + "/data/identity"));
    }
    EXPECT_NE(identities[0], identities[1]);
    // A file of the package that git tracks but the work tree lacks fails
    // the packing, named, instead of leaving the package incomplete; so
    // does a licence the installer would refuse to show, and an entry of
    // the manifest the back end cannot install.
    for (const auto &[file, content, says] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {"payload/doc/README", "", "payload/doc/README"},
             {"LICENSE", "-", "LICENSE cannot be shipped: it is empty"},
             {"LICENSE", std::string("\xff\xfeT\0", 4), "LICENSE cannot be shipped: it is UTF-16 or UTF-32 text, not UTF-8"},
             {"LICENSE", std::string("Licence\0", 8), "LICENSE cannot be shipped: it holds a NUL byte: it is not text"},
             {"Manifest", "[files]\npayload/doc/README /usr/share/kestrane-virtualization-sdk/doc/read me\n",
              "/Manifest cannot be installed (line 2: payload/doc/README "
              "/usr/share/kestrane-virtualization-sdk/doc/read me)"},
             {"Manifest", "[files]\npayload/doc/README\t/usr/share/kestrane-virtualization-sdk/../../../etc/README\n",
              "/Manifest cannot be installed (line 2: payload/doc/README\t/usr/share/kestrane-virtualization-sdk/../"}}) {
        SCOPED_TRACE(says);
        TempDir checkout;
        std::filesystem::copy(std::string(SOURCE_DIR) + "/sample-sdk", checkout / "sample-sdk",
                              std::filesystem::copy_options::recursive);
        ASSERT_EQ(run_process({"git", "init", "-q", checkout.path()}).status, 0);
        ASSERT_EQ(run_process({"git", "-C", checkout.path(), "add", "sample-sdk"}).status, 0);
        if (content.empty())
            std::filesystem::remove(checkout / ("sample-sdk/" + file));
        else
            write_file(checkout / ("sample-sdk/" + file), content == "-" ? "" : content);
        ProcessResult incomplete = run_process({"sh", std::string(SOURCE_DIR) + "/packaging/make-package.sh",
                                                checkout / "sample-sdk", again / "resources", SHIPPED_INSTALLER, name,
                                                checkout.path(), SHIPPED_LINK_MAP, LINKING_COMPILER});
        EXPECT_NE(incomplete.status, 0);
        EXPECT_NE(incomplete.err.find(says), std::string::npos) << incomplete.err;
        EXPECT_FALSE(std::filesystem::exists(checkout / (name + ".tar.gz")));
    }
    EXPECT_TRUE(read_file(again / (name + ".tar.gz")) == read_file(tarball)); // not printed: megabytes

    // Signed with a throwaway key, it passes the README's check as an
    // administrator types it (the key pinned first), in a directory that
    // holds the tarball, its checksum file and its signature; a checksum
    // file changed after signing fails it. Packing anew drops a signature
    // that no longer fits.
    TempDir gnupg;
    TempDir admin;
    std::filesystem::permissions(gnupg.path(), std::filesystem::perms::owner_all);
    const std::string gpg = "GNUPGHOME=" + sh_quote(gnupg.path()) + " gpg --batch --quiet --pinentry-mode loopback "
                                                                    "--passphrase '' ";
    // (The keyring's first key, its default, is another: the key named is
    // the one that signs.)
    ASSERT_EQ(shell_output(gpg + "--quick-gen-key 'Other <other@tessaro.example>' ed25519 sign 1y 2>&1; echo $?"), "0\n");
    ASSERT_EQ(shell_output(gpg + "--quick-gen-key 'Release <release@tessaro.example>' ed25519 sign 1y 2>&1; echo $?"), "0\n");
    ProcessResult signed_package = run_process({"sh", std::string(SOURCE_DIR) + "/packaging/sign-package.sh",
                                                again / (name + ".tar.gz"), "release@tessaro.example"},
                                               "", {"GNUPGHOME=" + gnupg.path()});
    ASSERT_EQ(signed_package.status, 0) << signed_package.err;
    for (const std::string file : {".tar.gz", ".tar.gz.sha256", ".tar.gz.sha256.asc", ".pub.asc"})
        std::filesystem::copy_file(again / (name + file), admin / (name + file));
    const std::string readme = read_file(std::string(SOURCE_DIR) + "/README.md");
    auto block_with = [&](const std::string &text) {
        std::size_t at = readme.find(text);
        std::size_t start = readme.rfind("```sh\n", at) + 6;
        std::string block = readme.substr(start, readme.find("```", start) - start);
        std::size_t installer = block.find("\ncd ");
        return installer == std::string::npos ? block : block.substr(0, installer + 1); // up to the installer's start
    };
    const std::string pin = block_with("gpg --dearmor");
    const std::string verify = block_with("gpgv --keyring");
    ASSERT_NE(verify.find("sha256sum -c"), std::string::npos) << verify;
    const std::vector<std::string> home = {"HOME=" + admin.path()};
    ProcessResult pinned = run_process({"sh", "-ec", pin}, admin.path(), home);
    ASSERT_EQ(pinned.status, 0) << pin << pinned.err;
    ProcessResult checked = run_process({"sh", "-ec", verify}, admin.path(), home);
    EXPECT_EQ(checked.status, 0) << verify << checked.err;
    EXPECT_NE(checked.err.find("Good signature from \"Release <release@tessaro.example>\""), std::string::npos) << checked.err;
    EXPECT_TRUE(std::filesystem::is_directory(admin / (name + "/installer")));
    // The package's own README: every command in it, as it stands there,
    // the download's in the download's directory, the installer's from
    // the unpacked package (in the sandbox).
    {
        std::vector<std::string> commands;
        std::istringstream readme_lines(read_file(admin / (name + "/README")));
        for (std::string line; std::getline(readme_lines, line);) {
            if (line.rfind("$ ", 0) == 0)
                commands.push_back(line.substr(2));
        }
        const auto cd = std::find(commands.begin(), commands.end(), "cd " + name);
        ASSERT_NE(cd, commands.end()) << read_file(admin / (name + "/README"));
        std::string download;
        for (auto command = commands.begin(); command != cd; ++command)
            download += *command + "\n";
        std::filesystem::remove_all(admin / name);
        ProcessResult fetched = run_process({"sh", "-ec", download + "cd " + name + "\ntest -x install\n"}, admin.path(), home);
        EXPECT_EQ(fetched.status, 0) << download << fetched.err;
        EXPECT_NE(fetched.err.find("Good signature from \"Release <release@tessaro.example>\""), std::string::npos) << fetched.err;
        EXPECT_NE(fetched.out.find(name + ".tar.gz: OK"), std::string::npos) << fetched.out;
        WizardRun unpacked;
        unpacked.pkg.unpack(tarball);
        for (auto command = cd + 1; command != commands.end(); ++command) {
            SCOPED_TRACE(*command);
            if (*command == "./install") {
                unpacked.start();
                unpacked.cancel_at_welcome();
            } else if (command->rfind("./install ", 0) == 0) {
                std::vector<std::string> args;
                std::istringstream words(command->substr(10));
                for (std::string word; words >> word;)
                    args.push_back(word);
                ProcessResult r = unpacked.pkg.run(args);
                EXPECT_EQ(r.status, 0) << r.err;
                if (args == std::vector<std::string>{"-v"}) {
                    // The version, then the linked libraries' notices and
                    // where their licences are: a file the package holds.
                    EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1), "Tessaro Virtualization SDK installation 3.1.0.412\n");
                    for (const char *notice : {"newt: Copyright (C) 1996-2016 Red Hat, Inc.; LGPL-2.0-only\n",
                                               "S-Lang: Copyright (C) 1995-2011 John E. Davis; GPL-2.0-or-later\n",
                                               "\nTHIRD-PARTY-NOTICES in the package.\n"})
                        EXPECT_NE(r.err.find(notice), std::string::npos) << r.err;
                    EXPECT_TRUE(std::filesystem::exists(unpacked.pkg.root() + "/THIRD-PARTY-NOTICES"));
                } else
                    EXPECT_EQ(unpacked.pkg.sdk_installed(), args == std::vector<std::string>{"-i"});
            } else if (command->rfind("man ", 0) == 0) {
                ProcessResult page = run_process({"sh", "-c", "MANPAGER=cat MANWIDTH=80 " + *command}, unpacked.pkg.root());
                EXPECT_EQ(page.status, 0) << page.err;
                EXPECT_NE(page.out.find("EXIT STATUS"), std::string::npos) << page.out;
            } else if (command->rfind("tail ", 0) == 0) {
                RunOptions shell;
                shell.program = "/bin/sh";
                ProcessResult tail = unpacked.pkg.run({"-c", *command}, shell);
                EXPECT_EQ(tail.status, 0) << tail.err;
                EXPECT_NE(tail.out.find(": Exiting with code 0\n"), std::string::npos) << tail.out;
            } else {
                ADD_FAILURE() << "a command of the package's README that no test runs";
            }
        }
    }
    std::filesystem::remove_all(admin / name);
    write_file(admin / (name + ".tar.gz.sha256"), read_file(admin / (name + ".tar.gz.sha256")) + "\n");
    EXPECT_NE(run_process({"sh", "-ec", verify}, admin.path(), home).status, 0);
    EXPECT_FALSE(std::filesystem::exists(admin / name));
    ASSERT_EQ(run_process({"sh", std::string(SOURCE_DIR) + "/packaging/make-package.sh", std::string(SOURCE_DIR) + "/sample-sdk",
                           again / "resources", SHIPPED_INSTALLER, name, again.path(), SHIPPED_LINK_MAP, LINKING_COMPILER})
                  .status,
              0);
    EXPECT_FALSE(std::filesystem::exists(again / (name + ".tar.gz.sha256.asc")));

    PackageFixture bare;
    bare.unpack(tarball);
    // What the installer holds of other people's code, as the link took
    // it: the notices and the bill name exactly these components, at the
    // versions the build host's packages have, under these licences. The
    // bill passes its format's own validator, lists every file of the
    // package with its checksum, and carries the package's identity.
    const std::string bom = bare.root() + "/bom.cdx.json";
    ProcessResult valid = run_process({"node", std::string(SOURCE_DIR) + "/tests/support/bom-validator/validate.js", bom});
    EXPECT_EQ(valid.status, 0) << valid.out << valid.err << "(make deps installs the validator)";
    const std::string notices = read_file(bare.root() + "/THIRD-PARTY-NOTICES");
    // The installer's own licence travels beside it.
    EXPECT_TRUE(read_file(bare.root() + "/installer/COPYING") == read_file(std::string(SOURCE_DIR) + "/COPYING"));
    struct Linked {
        const char *source, *binary, *licence;
    };
    // (With what the members taken add: libgcc's soft-fp and libstdc++'s
    // demangler, glibc's resolver.)
    for (const Linked &linked : {Linked{"gcc-12", "libgcc-12-dev", "GPL-3.0-or-later WITH GCC-exception-3.1 AND "
                                                                   "LGPL-2.1-or-later WITH GCC-exception-2.0 AND "
                                                                   "GPL-2.0-or-later WITH GCC-exception-2.0"},
                                 Linked{"glibc", "libc6-dev", "LGPL-2.1-or-later AND ISC AND BSD-3-Clause AND HPND-DEC"},
                                 Linked{"newt", "libnewt-dev", "LGPL-2.0-only"},
                                 Linked{"popt", "libpopt-dev", "MIT"},
                                 Linked{"slang2", "libslang2-dev", "GPL-2.0-or-later"}}) {
        const std::string version = shell_output("dpkg-query -W -f='${source:Version}' " + std::string(linked.binary));
        EXPECT_EQ(shell_output("jq -r --arg n " + std::string(linked.source) +
                               " '.components[] | select(.name == $n) | .version + \" \" + .licenses[0].expression + \" \" + .purl' " +
                               sh_quote(bom)),
                  version + " " + linked.licence + " pkg:deb/debian/" + linked.source + "@" +
                      std::regex_replace(version, std::regex("\\+"), "%2B") + "?arch=source&distro=debian-12\n");
        // Its binary package that the link used, by its own package URL,
        // derived from the source package.
        const std::string binary_version = shell_output("dpkg-query -W -f='${Version}' " + std::string(linked.binary));
        EXPECT_EQ(shell_output("jq -r --arg n " + std::string(linked.source) + " --arg b " + linked.binary +
                               " '.components[] | select(.name == $n) | .components[] | select(.name == $b) | "
                               ".purl + \" \" + .pedigree.ancestors[0].name' " + sh_quote(bom)),
                  "pkg:deb/debian/" + std::string(linked.binary) + "@" +
                      std::regex_replace(binary_version, std::regex("\\+"), "%2B") + "?arch=amd64&distro=debian-12 " +
                      linked.source + "\n");
        EXPECT_NE(notices.find(std::string(linked.source) + " " + version + " (" + linked.licence + ")\n"), std::string::npos)
            << linked.source;
        EXPECT_NE(notices.find("--- /usr/share/doc/" + std::string(linked.binary) + "/copyright"), std::string::npos)
            << linked.binary;
    }
    // The full text of each licence those name, the very one.
    for (const auto &[licence, text] : {std::pair<std::string, std::string>{"GPL-2.0-or-later", "GPL-2"},
                                        {"GPL-3.0-or-later", "GPL-3"},
                                        {"LGPL-2.0-only", "LGPL-2"},
                                        {"LGPL-2.1-or-later", "LGPL-2.1"}}) {
        const std::string file = "/usr/share/common-licenses/" + text;
        EXPECT_NE(notices.find("Licence text: " + licence + " (" + file + ")\n" + std::string(79, '=') + "\n" +
                               read_file(file)),
                  std::string::npos)
            << licence;
    }
    // The sources of a commit, as make package writes them beside the
    // package: every entry under the one directory that names them.
    TempDir sources;
    write_file(sources / "clone/CMakeLists.txt", "project(x)\n");
    write_file(sources / "clone/src/main.cpp", "int main() {}\n");
    ASSERT_EQ(shell_output("cd " + sh_quote(sources / "clone") + " && git init -q && git add . && git -c user.name=t "
                           "-c user.email=t@tessaro.example commit -qm one && echo done"),
              "done\n");
    ProcessResult archived = run_process({"sh", std::string(SOURCE_DIR) + "/packaging/make-source.sh", sources / "clone",
                                          "tessaro-src", sources.path()});
    ASSERT_EQ(archived.status, 0) << archived.err;
    EXPECT_EQ(archived.err, "");
    const std::string source_entries = shell_output("tar -tzf " + sh_quote(sources / "tessaro-src.tar.gz"));
    EXPECT_NE(source_entries.find("tessaro-src/CMakeLists.txt\n"), std::string::npos) << source_entries.substr(0, 400);
    EXPECT_EQ(shell_output("tar -tzf " + sh_quote(sources / "tessaro-src.tar.gz") + " | grep -cv '^tessaro-src/'"),
              "0\n");
    // Anyone may read it, as the package beside it.
    EXPECT_EQ(std::filesystem::status(sources / "tessaro-src.tar.gz").permissions(), std::filesystem::perms(0644));
    // Changes not committed are not in it, and it says so.
    write_file(sources / "clone/CMakeLists.txt", "project(y)\n");
    EXPECT_NE(run_process({"sh", std::string(SOURCE_DIR) + "/packaging/make-source.sh", sources / "clone", "tessaro-src",
                           sources.path()})
                  .err.find("the work tree has changes that are not committed"),
              std::string::npos);
    // The linked libraries' sources are fetched as Debian source packages
    // at their exact versions, each file checked against its .dsc (here from
    // an archive the test makes: one package as it should be, one whose
    // index serves another tarball than its .dsc states, one it lacks).
    TempDir archive;
    write_file(archive / "make-repo.sh", R"SH(set -e
package() { # NAME STATED SERVED
    printf '%s' "$2" > stated; printf '%s' "$3" > "repo/$1_1.0.tar.xz"
    printf 'Format: 3.0 (native)\nSource: %s\nVersion: 1.0\nChecksums-Sha256:\n %s %s %s_1.0.tar.xz\n' \
        "$1" "$(sha256sum < stated | cut -c 1-64)" "$(wc -c < stated)" "$1" > "repo/$1_1.0.dsc"
    printf 'Package: %s\nVersion: 1.0\nDirectory: .\nChecksums-Sha256:\n' "$1"
    for f in "repo/$1_1.0.dsc" "repo/$1_1.0.tar.xz"; do
        printf ' %s %s %s\n' "$(sha256sum < "$f" | cut -c 1-64)" "$(wc -c < "$f")" "${f#repo/}"
    done
    echo
}
mkdir -p repo apt/lists/partial apt/cache/archives/partial
{ package demo good good; package altered good bad; } > repo/Sources
printf 'Origin: test\nDate: %s\nSHA256:\n %s %s Sources\n' "$(date -Ru)" "$(sha256sum < repo/Sources | cut -c 1-64)" \
    "$(wc -c < repo/Sources)" > repo/Release
echo "deb-src [trusted=yes] file:$PWD/repo ./" > apt/sources.list
printf 'Dir::Etc::SourceList "%s/apt/sources.list";\nDir::Etc::SourceParts "%s/apt/none";\nDir::State::Lists "%s/apt/lists";\nDir::Cache "%s/apt/cache";\n' \
    "$PWD" "$PWD" "$PWD" "$PWD" > apt/apt.conf
APT_CONFIG=$PWD/apt/apt.conf apt-get update -qq
printf 'demo\t1.0\tMIT\tall\tdemo=1.0\naltered\t1.0\tMIT\tall\taltered=1.0\nabsent\t2.0\tMIT\tall\tabsent=2.0\n' > components
)SH");
    ASSERT_EQ(run_process({"sh", archive / "make-repo.sh"}, archive.path()).status, 0);
    ProcessResult fetched = run_process({"sh", std::string(SOURCE_DIR) + "/packaging/third-party-sources.sh",
                                         archive / "components", archive / "out"},
                                        archive.path(), {"APT_CONFIG=" + archive / "apt/apt.conf"});
    EXPECT_EQ(fetched.status, 1);
    EXPECT_EQ(fetched.err, "third-party-sources: the source of altered 1.0 does not match its .dsc altered_1.0.dsc: "
                           "altered_1.0.tar.xz; removed\n"
                           "third-party-sources: the source of absent 2.0 cannot be fetched: E: Can not find version "
                           "'2.0' of package 'absent'\n");
    EXPECT_EQ(shell_output("ls " + sh_quote(archive / "out")), "demo_1.0.dsc\ndemo_1.0.tar.xz\ndsc-sums\n");
    EXPECT_EQ(read_file(archive / "out/dsc-sums"),
              "demo\t1.0\tdemo_1.0.dsc\t" + shell_output("sha256sum < " + sh_quote(archive / "repo/demo_1.0.dsc") + " | cut -c 1-64"));
    // The package always holds the written offer for them, naming each
    // library's source package at its exact version.
    const std::string offer = read_file(bare.root() + "/WRITTEN-OFFER");
    EXPECT_NE(offer.find("For three years from "), std::string::npos) << offer;
    const std::string glibc = shell_output("dpkg-query -W -f='${source:Version}' libc6-dev");
    EXPECT_NE(offer.find("\nglibc " + glibc + "\n  "), std::string::npos) << offer;
    // The README's way to ask which glibc the installer holds answers it.
    ProcessResult which_glibc = run_process({"sh", "-ec", block_with("select(.name == \"glibc\")")}, bare.root());
    EXPECT_EQ(which_glibc.out, shell_output("dpkg-query -W -f='${source:Version}\\n' libc6-dev")) << which_glibc.err;
    EXPECT_EQ(shell_output("jq -r '([.components[] | select(.type == \"library\") | .name] | join(\" \")), "
                           "(.dependencies[] | select(.ref == \"installer\") | .dependsOn | length)' " + sh_quote(bom)),
              "gcc-12 glibc newt popt slang2\n6\n");
    // The minimum elements, field by field: each component's supplier (the
    // nested ones too), name, version and an identifier of its own; the
    // dependencies; who wrote the bill, with what, and when; the package's
    // supplier and licences (the SDK's and the installer's).
    EXPECT_EQ(shell_output("jq -r '[.components[] | recurse(.components[]?)] | map(select((.supplier.name // \"\") == \"\" "
                           "or (.name // \"\") == \"\" or (.version // \"\") == \"\" or ((.purl // .hashes // \"\") | length) "
                           "== 0) | .name) | length' " + sh_quote(bom)),
              "0\n");
    EXPECT_EQ(shell_output("jq -c '.metadata | [.authors[0].name, (.timestamp | length > 0), .tools.components[0].name, "
                           ".tools.components[0].supplier.name, .component.supplier.name, [.component.licenses[].license | "
                           ".id // .name]]' " + sh_quote(bom)),
              "[\"Tessaro Systems\",true,\"bill-of-materials.sh\",\"Tessaro Systems\",\"Tessaro Systems\","
              "[\"Tessaro Virtualization SDK licence (LICENSE in the package)\",\"GPL-2.0-or-later\"]]\n");
    ProcessResult sums = run_process({"sh", "-c", "jq -r '.components[] | select(.hashes) | .hashes[0].content + \"  \" + "
                                                  "(if .type == \"file\" then .name else (.properties[] | select(.name == "
                                                  "\"tessaro:path\") | .value) end)' bom.cdx.json | sha256sum -c --quiet -"},
                                     bare.root());
    EXPECT_EQ(sums.status, 0) << sums.out << sums.err;
    EXPECT_EQ(shell_output("jq '[.components[] | select(.hashes)] | length' " + sh_quote(bom)),
              shell_output("cd " + sh_quote(bare.root()) + " && find . -type f ! -name bom.cdx.json | wc -l"));
    const std::string identity = read_file(bare.root() + "/data/identity");
    EXPECT_EQ(shell_output("jq -r '.metadata.component.properties[] | select(.name == \"tessaro:identity\") | .value' " +
                           sh_quote(bom)),
              identity.substr(identity.find(' ') + 1));
    // The notices follow the link: one more archive adds its component; an
    // archive that no package installed, or a source package whose
    // licence is not known, fails the packing, named.
    TempDir link;
    write_file(link / "main.cpp", "int main() { return 0; }\n");
    write_file(link / "hand.c", "int hand(void) { return 1; }\n");
    ASSERT_EQ(shell_output("cd " + sh_quote(link.path()) + " && " + LINKING_COMPILER +
                           " -c main.cpp && cc -c hand.c && ar rcs libhand.a hand.o; echo $?"),
              "0\n");
    const std::string licences = std::string(SOURCE_DIR) + "/packaging/licences";
    write_file(link / "licences", read_file(licences) + "googletest BSD-3-Clause\n");
    const std::string gtest = "-Wl,--undefined=_ZN7testing4TestC2Ev /usr/lib/x86_64-linux-gnu/libgtest.a";
    struct Link {
        std::string name, extra, licences;
        int status;
        std::string said; // the components, or what the failure names
    };
    for (const Link &row : {Link{"plain", "", licences, 0, "gcc-12 glibc\n"},
                            Link{"gtest", gtest, link / "licences", 0, "gcc-12 glibc googletest\n"},
                            Link{"gtest-unknown-licence", gtest, licences, 1, "source package googletest (from libgtest-dev)"},
                            Link{"hand-built", "-Wl,--undefined=hand " + link / "libhand.a", licences, 1,
                                 "no installed Debian package holds " + link / "libhand.a"}}) {
        SCOPED_TRACE(row.name);
        const std::string out = link / row.name;
        std::filesystem::create_directory(out);
        ASSERT_EQ(shell_output("cd " + sh_quote(link.path()) + " && " + LINKING_COMPILER + " -static -o " + row.name +
                               ".out main.o -Wl,-Map=" + row.name + ".map " + row.extra + " 2>/dev/null; echo $?"),
                  "0\n");
        ProcessResult said = run_process({"sh", std::string(SOURCE_DIR) + "/packaging/third-party.sh",
                                          link / (row.name + ".map"), row.licences, LINKING_COMPILER, out});
        EXPECT_EQ(said.status, row.status) << said.err;
        if (row.status == 0)
            EXPECT_EQ(shell_output("cut -f 1 " + sh_quote(out + "/components") + " | paste -s -d ' ' -"), row.said);
        else
            EXPECT_NE(said.err.find(row.said), std::string::npos) << said.err;
        EXPECT_EQ(file_exists(out + "/THIRD-PARTY-NOTICES"), row.status == 0);
    }
    // Its manual pages read cleanly with man, as the README says.
    for (const char *page : {"man/install.8", "man/de/install.8"}) {
        ProcessResult manual = run_process({"man", "--warnings", "./" + std::string(page)}, bare.root(),
                                           {"MANWIDTH=80", "MAN_KEEP_FORMATTING=0", "LC_ALL=C.UTF-8"});
        EXPECT_EQ(manual.status, 0) << page;
        EXPECT_EQ(manual.err, "") << page;
        EXPECT_NE(manual.out.find("install(8)"), std::string::npos) << page;
        EXPECT_NE(manual.out.find("tessaro-virtualization-sdk-3.1.0.412-x86_64.tar.gz"), std::string::npos) << page;
        // What each key does in the wizard (read without man's overstrikes).
        const bool german = std::string(page).find("/de/") != std::string::npos;
        const std::string plain = std::regex_replace(manual.out, std::regex(".\b"), "");
        for (const char *key : {german ? "TASTEN" : "KEYS", "Tab", "F12", german ? "Bild ab" : "Page Down",
                                german ? "Strg-L" : "Ctrl-L"})
            EXPECT_NE(plain.find(key), std::string::npos) << page << ": " << key;
        // The German page is German from its header on.
        if (german) {
            EXPECT_NE(plain.find("Handbuch für Systemverwalter"), std::string::npos) << plain;
            EXPECT_NE(plain.find("BEZEICHNUNG"), std::string::npos) << plain;
            EXPECT_EQ(plain.find("System Manager's Manual"), std::string::npos) << plain;
        }
    }
    // A static program: no program interpreter, no library of the host.
    ProcessResult elf = run_process({"readelf", "-d", "-l", bare.program()});
    EXPECT_EQ(elf.status, 0) << elf.err;
    EXPECT_NE(elf.out.find("There is no dynamic section in this file."), std::string::npos) << elf.out;
    EXPECT_EQ(elf.out.find("INTERP"), std::string::npos) << elf.out;
    EXPECT_EQ(elf.out.find("NEEDED"), std::string::npos) << elf.out;

    // Install, upgrade and remove, on a host without the screen libraries
    // and on one without any C library (busybox alone): the same statuses,
    // output and log as the development build in its own package. The
    // log's times are the host's local time: its /etc/localtime, or TZ.
    // A conversion module that says when it is loaded, for every character
    // set the tests use.
    TempDir planted;
    write_file(planted / "module.c", "#include <stdio.h>\n__attribute__((constructor)) static void loaded(void) { "
                                     "fclose(fopen(\"" + planted / "loaded" + "\", \"w\")); }\n");
    ASSERT_EQ(run_process({"cc", "-shared", "-fPIC", "-o", planted / "PLANTED.so", planted / "module.c"}).status, 0);
    write_file(planted / "gconv-modules", "module INTERNAL ISO-8859-1// PLANTED 1\nmodule ISO-8859-1// INTERNAL PLANTED 1\n"
                                          "module INTERNAL ISO-10646/UTF8/ PLANTED 1\nmodule ISO-10646/UTF8/ INTERNAL PLANTED 1\n");
    for (bool no_c_library : {false, true}) {
        SCOPED_TRACE(no_c_library ? "no C library" : "no screen libraries");
        PackageFixture host;
        host.unpack(tarball);
        if (no_c_library)
            host.use_bare_host();
        else
            host.hide_screen_libraries();
        PackageFixture dev;
        dev.use_sample_backend();
        if (!no_c_library) {
            // The development build cannot even start there.
            RunOptions dev_program;
            dev_program.program = dev.program();
            ProcessResult broken = host.run({"-v"}, dev_program);
            EXPECT_EQ(broken.status, 127);
            EXPECT_NE(broken.err.find("error while loading shared libraries"), std::string::npos) << broken.err;
        }
        for (const std::vector<std::string> &args : {std::vector<std::string>{"-i"}, {"-i"}, {"-r"}, {"-r"}}) {
            ProcessResult shipped = host.run(args);
            ProcessResult reference = dev.run(args);
            EXPECT_EQ(shipped.status, reference.status) << args[0];
            EXPECT_EQ(shipped.out, reference.out) << args[0];
            EXPECT_EQ(shipped.err, reference.err) << args[0];
        }
        EXPECT_EQ(without_stamps(host.log()), without_stamps(dev.log()));
        EXPECT_NE(host.log().find("installer-cli: forgot /usr/share/kestrane-virtualization-sdk/Manifest"),
                  std::string::npos);
        if (!no_c_library) {
            // In a German locale of another character set than the
            // catalogues' UTF-8, the texts are English: converting them
            // would load the host's conversion modules, and with them a C
            // library that is not the program's.
            TempDir locales;
            ASSERT_EQ(run_process({"localedef", "-i", "de_DE", "-f", "ISO-8859-1", locales / "de_DE.iso88591"}).status,
                      0);
            host.remove("installer-cli");
            // Nor does it load a conversion module from where GCONV_PATH
            // says, in that locale or any.
            RunOptions latin1;
            latin1.env = {"LOCPATH=" + locales.path(), "LANG=de_DE.ISO-8859-1"};
            latin1.wrapper = {"env", "GCONV_PATH=" + planted.path()}; // for the installer alone
            ProcessResult english = host.run({"-i"}, latin1);
            EXPECT_EQ(english.status, 1);
            EXPECT_NE(english.err.find("An error occurred when checking archives: "), std::string::npos) << english.err;
            EXPECT_FALSE(file_exists(planted / "loaded"));
        }
        if (no_c_library) {
            // Without /proc nobody can tell which processes hold the back
            // end of a run killed outright: the next run waits as long as a
            // stop would take, then refuses; it never runs beside it, and
            // once it has ended the run after goes ahead.
            PackageFixture blind;
            blind.unpack(tarball);
            blind.use_bare_host();
            blind.hide_proc();
            blind.tool("installer-cli", "touch " + sh_quote(blind.root() + "/started") + "\n" + blind.gate("go") +
                                            "touch " + sh_quote(blind.root() + "/finished") + "\necho '[100%] Done'\n");
            BackgroundProcess killed(blind.command({"-i"}), blind.state());
            ASSERT_TRUE(eventually([&] { return file_exists(blind.root() + "/started"); }));
            ASSERT_EQ(kill(killed.pid(), SIGKILL), 0);
            EXPECT_EQ(killed.wait().status, 128 + SIGKILL);
            ProcessResult refused = blind.run({"-i"});
            EXPECT_EQ(refused.status, 1);
            EXPECT_NE(refused.err.find("Waiting for the back-end command of an earlier run to end: ./installer-cli "),
                      std::string::npos)
                << refused.err;
            EXPECT_NE(refused.err.find("The back-end command of an earlier run is still running: ./installer-cli "),
                      std::string::npos)
                << refused.err;
            EXPECT_FALSE(file_exists(blind.root() + "/finished"));
            blind.open_gate("go");
            ASSERT_TRUE(eventually([&] { return file_exists(blind.root() + "/finished"); }));
            ProcessResult after = blind.run({"-i"});
            EXPECT_EQ(after.status, 0) << after.err;

            // A run that waits and sees it end goes ahead.
            blind.tool("installer-cli", "touch " + sh_quote(blind.root() + "/started2") + "\n" + blind.gate("go2") +
                                            "echo '[100%] Done'\n");
            BackgroundProcess killed_again(blind.command({"-i"}), blind.state());
            ASSERT_TRUE(eventually([&] { return file_exists(blind.root() + "/started2"); }));
            ASSERT_EQ(kill(killed_again.pid(), SIGKILL), 0);
            EXPECT_EQ(killed_again.wait().status, 128 + SIGKILL);
            blind.tool("installer-cli", "echo '[100%] Done'\n");
            const auto waits = [&] {
                const std::string log = blind.log();
                std::size_t count = 0;
                for (std::size_t at = log.find(": Waiting for the back-end"); at != std::string::npos;
                     at = log.find(": Waiting for the back-end", at + 1))
                    ++count;
                return count;
            };
            const std::size_t waited_before = waits();
            BackgroundProcess waiting(blind.command({"-i"}), blind.state());
            ASSERT_TRUE(eventually([&] { return waits() > waited_before; }));
            blind.open_gate("go2");
            ProcessResult waited = waiting.wait();
            EXPECT_EQ(waited.status, 0) << waited.err;
            EXPECT_NE(blind.log().find(": The back-end command of an earlier run has ended: ./installer-cli "),
                      std::string::npos)
                << blind.log();
        }
        if (no_c_library) {
            EXPECT_NE(host.log().find("+0900: \n\nTessaro Virtualization SDK 3.1.0.412 Installer started."),
                      std::string::npos)
                << host.log();
            RunOptions zone;
            zone.env = {"TZ=Asia/Kolkata"};
            EXPECT_EQ(host.run({"-i"}, zone).status, 0);
            EXPECT_NE(host.log().find("+0530: Unattended install mode."), std::string::npos) << host.log();
        }
    }

    // The wizard on the host without a C library: installation, upgrade
    // and removal.
    WizardRun run;
    run.pkg.unpack(tarball);
    run.pkg.use_bare_host();
    run.start();
    run.welcome_next();
    run.accept_licence();
    run.finish();
    EXPECT_TRUE(run.term.left_usable());
    EXPECT_TRUE(run.pkg.sdk_installed());
    run.start();
    run.welcome_next();
    run.choose_action();
    run.accept_licence();
    run.finish("Tessaro Virtualization SDK Updating Completed");
    run.start();
    run.welcome_next();
    run.choose_action(true);
    run.finish("You have successfully removed Tessaro");
    EXPECT_FALSE(run.pkg.sdk_installed());

    // Its terminal descriptions wherever the host keeps them, its locales:
    // German where the host has the German locale, English where it lacks
    // the one asked for; a type it does not know is refused as anywhere.
    struct Row {
        std::string term;
        std::string env; // beside TERM
        std::string lang;
        std::string shown;
    };
    const Row rows[] = {
        {"screen-lib", "", "de_DE.UTF-8", "Willkommen beim Tessaro Virtualization"},
        {"screen-etc", "", "de_AT.UTF-8", "Welcome to Tessaro Virtualization SDK Installer!"},
        {"screen-own", "TERMINFO=/opt/terminfo", "C.UTF-8", "Welcome to Tessaro Virtualization SDK Installer!"},
        {"screen-dirs", "TERMINFO_DIRS=/nowhere:/opt/terminfo-dirs", "C.UTF-8",
         "Welcome to Tessaro Virtualization SDK Installer!"},
        {"screen-none", "", "C.UTF-8", "Run it with -i (install or upgrade) or -r (remove) to work without a screen."},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.term);
        RunOptions options;
        options.wrapper = {"env", "TERM=" + row.term};
        if (!row.env.empty())
            options.wrapper.push_back(row.env);
        run.term.start(run.pkg.command_text({}, options), {"LANG=" + row.lang});
        ASSERT_TRUE(run.term.wait_for(row.shown)) << run.term.screen();
        if (row.term != "screen-none") {
            run.term.press("Tab");
            run.term.press("Enter");
            ASSERT_TRUE(run.term.wait_until([&](const std::string &screen) {
                return screen.find("Are you sure you want to cancel?") != std::string::npos ||
                       screen.find("Möchten Sie wirklich abbrechen?") != std::string::npos;
            }));
            run.term.press("Tab");
            run.term.press("Enter");
        }
        EXPECT_EQ(run.term.wait_exit(), row.term == "screen-none" ? 1 : 10);
        EXPECT_TRUE(run.term.left_usable());
    }
    EXPECT_NE(run.pkg.log().find("the terminal type 'screen-none' is not supported.\nRun it with -i"),
              std::string::npos);

    // Right-to-left text that the back end printed is shown as it was
    // written: on a host that has a bidirectional text library, the static
    // program never loads it (its C library would not be the program's).
    WizardRun rtl;
    std::filesystem::copy_file(SHIPPED_INSTALLER, rtl.pkg.program(), std::filesystem::copy_options::overwrite_existing);
    rtl.pkg.tool("installer/pm.sh", "[ \"$1\" = --check ] && echo 'm \xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d-runtime'\nexit 0\n");
    rtl.start();
    rtl.welcome_next();
    rtl.accept_licence();
    ASSERT_TRUE(rtl.term.wait_for("- \xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d-runtime")) << rtl.term.screen();
    std::string pid = shell_output("pgrep -f " + sh_quote("^" + rtl.pkg.program()));
    ASSERT_FALSE(pid.empty());
    EXPECT_EQ(read_file("/proc/" + pid.substr(0, pid.find('\n')) + "/maps").find("fribidi"), std::string::npos);
    rtl.term.press("Enter");
    rtl.finish();

    // The wizard in a locale of an 8-bit character set, with a planted
    // conversion module: English, whole, and no code of the host inside.
    // Nor when the environment asks for the texts in another character
    // set, or names a directory of libraries: the texts stay the
    // catalogue's own.
    TempDir latin_locales;
    ASSERT_EQ(run_process({"localedef", "-i", "de_DE", "-f", "ISO-8859-1", latin_locales / "de_DE.iso88591"}).status, 0);
    struct Locale {
        std::string lang;
        std::vector<std::string> variables; // for the installer alone
        const char *completed;
    };
    const Locale locales[] = {
        {"de_DE.ISO-8859-1", {"GCONV_PATH=" + planted.path()}, "Installation Completed"},
        {"C.UTF-8", {"GCONV_PATH=" + planted.path()}, "Installation Completed"},
        {"de_DE.UTF-8", {"OUTPUT_CHARSET=ISO-8859-1"}, "Installation von Tessaro Virtualization SDK abgeschlossen"},
        {"de_DE.UTF-8", {"OUTPUT_CHARSET=KOI8-R", "LD_LIBRARY_PATH=" + planted.path()},
         "Installation von Tessaro Virtualization SDK abgeschlossen"},
    };
    for (const Locale &locale : locales) {
        SCOPED_TRACE(locale.lang + " " + locale.variables.back());
        WizardRun latin;
        latin.pkg.use_sample_backend();
        std::filesystem::copy_file(SHIPPED_INSTALLER, latin.pkg.program(), std::filesystem::copy_options::overwrite_existing);
        RunOptions planted_module;
        planted_module.wrapper = {"env"};
        planted_module.wrapper.insert(planted_module.wrapper.end(), locale.variables.begin(), locale.variables.end());
        std::vector<std::string> environment = {"LANG=" + locale.lang};
        if (locale.lang != "de_DE.UTF-8")
            environment.push_back("LOCPATH=" + latin_locales.path());
        latin.term.start(latin.pkg.command_text({}, planted_module), environment);
        const bool german = locale.lang == "de_DE.UTF-8";
        ASSERT_TRUE(latin.term.wait_for(german ? "Willkommen" : "Welcome")) << latin.term.screen();
        latin.term.press("Enter");
        ASSERT_TRUE(latin.term.wait_for(german ? "Lizenzvereinbarung" : "License Agreement")) << latin.term.screen();
        latin.term.press("BTab");
        ASSERT_TRUE(latin.term.wait_until(
            [&](const std::string &) { return latin.term.cursor_on(german ? " Annehmen " : " Accept "); }));
        latin.term.press("Enter");
        ASSERT_TRUE(latin.term.wait_for(locale.completed)) << latin.term.screen();
        const std::string wizard = shell_output("pgrep -f " + sh_quote("^" + latin.pkg.program()));
        ASSERT_FALSE(wizard.empty());
        EXPECT_EQ(read_file("/proc/" + wizard.substr(0, wizard.find('\n')) + "/maps").find(".so"), std::string::npos);
        latin.finish(locale.completed);
        EXPECT_FALSE(file_exists(planted / "loaded"));
    }
#endif
}

// An unattended upgrade on a terminal: one line, rewritten in place through
// both halves, finished with a line feed. Through a pipe the output has no
// such line (the unattended tests compare it byte for byte).
TEST(ShippedPackage, UnattendedRunOnATerminalShowsOneLiveProgressLine)
{
    PackageFixture pkg;
    pkg.preinstall();
    pkg.tool("installer-cli", "echo '[ 10%] Starting'\necho '[ 60%] Copying the files of the SDK: Gr\xc3\xb6\xc3\x9f" "e'\n"
                              "case \" $* \" in *' -e '*) " + pkg.gate("first") + ";; *) " + pkg.gate("second") +
                                  ";; esac\necho '[100%] Done'\n");
    Terminal term(60, 24);
    term.start(pkg.command_text({"-i"}));
    // Letters of any script as they are.
    ASSERT_TRUE(term.wait_for(" 30% Copying the files of the SDK: Gr\xc3\xb6\xc3\x9f" "e\n")) << term.screen();
    pkg.open_gate("first");
    ASSERT_TRUE(term.wait_for(" 80% Copying the files of the SDK: Gr\xc3\xb6\xc3\x9f" "e\n")) << term.screen();
    pkg.open_gate("second");
    EXPECT_EQ(term.wait_exit(), 0);
    std::vector<std::string> rows = term.rows();
    auto [row, column] = term.find("100% Done");
    ASSERT_GE(row, 0) << term.screen();
    EXPECT_EQ(column, 0);
    EXPECT_EQ(rows[row].find_last_not_of(' '), std::string("100% Done").size() - 1) << rows[row];
    EXPECT_EQ(rows[row + 1], "Congratulations!");
    EXPECT_EQ(term.screen().find(" 30%"), std::string::npos);
    EXPECT_EQ(term.screen().find(" 80%"), std::string::npos);

    // Cut to the terminal's width, and finished when a run fails, even the
    // first half of an upgrade.
    PackageFixture failing;
    failing.preinstall();
    failing.tool("installer-cli", "echo \"[ 40%] $(printf '%0100d' 0)\"\nexit 3\n");
    Terminal narrow(40, 24);
    narrow.start(failing.command_text({"-i"}));
    EXPECT_EQ(narrow.wait_exit(), 1);
    auto [cut_row, cut_column] = narrow.find(" 20% 000");  // 40% of the first half
    ASSERT_GE(cut_row, 0) << narrow.screen();
    EXPECT_EQ(narrow.rows()[cut_row], " 20% " + std::string(34, '0'));
    EXPECT_EQ(narrow.rows()[cut_row + 1].rfind("Error during configuration", 0), 0u) << narrow.screen();

    // A line of the back end's error output while the live line stands
    // takes a row of its own, from its start, with nothing of the line.
    PackageFixture warning;
    warning.tool("installer-cli", "echo '[ 40%] Halfway there'\n" + warning.gate("warn") +
                                      "echo 'installer-cli: a warning' >&2\necho '[100%] Done'\n");
    Terminal warned(60, 24);
    warned.start(warning.command_text({"-i"}));
    ASSERT_TRUE(warned.wait_for(" 40% Halfway there")) << warned.screen();
    warning.open_gate("warn");
    EXPECT_EQ(warned.wait_exit(), 0);
    auto [warn_row, warn_column] = warned.find("installer-cli: a warning");
    ASSERT_GE(warn_row, 0) << warned.screen();
    EXPECT_EQ(warn_column, 0) << warned.screen();
    EXPECT_EQ(warned.rows()[warn_row], "installer-cli: a warning") << warned.screen();

    // A back end that touches the terminal from its own session gets an
    // error, and is never stopped for good.
    PackageFixture touching;
    touching.tool("installer-cli", "stty -g </dev/tty; read -r answer </dev/tty; echo \"[100%] Done $?\"\n");
    Terminal asking(60, 24);
    asking.start(touching.command_text({"-i"}));
    EXPECT_EQ(asking.wait_exit(), 0) << asking.screen();
    EXPECT_TRUE(std::regex_search(asking.screen(), std::regex("100% Done [1-9]"))) << asking.screen();

    // The line is for a terminal on standard output, whatever standard
    // input is: none of it goes into a file, and with standard input from
    // /dev/null the terminal still shows it.
    PackageFixture redirected;
    redirected.tool("installer-cli", "echo '[ 40%] Halfway'\n" + redirected.gate("seen") + "echo '[100%] Done'\n");
    TempDir out;
    Terminal to_file(60, 24);
    redirected.open_gate("seen");
    to_file.start(redirected.command_text({"-i"}) + " > " + sh_quote(out / "output"));
    EXPECT_EQ(to_file.wait_exit(), 0);
    EXPECT_EQ(read_file(out / "output").find('\r'), std::string::npos);
    EXPECT_NE(read_file(out / "output").find("Congratulations!"), std::string::npos);
    std::filesystem::remove(redirected.root() + "/gate-seen");
    Terminal from_null(60, 24);
    from_null.start(redirected.command_text({"-i"}) + " < /dev/null");
    ASSERT_TRUE(from_null.wait_for(" 40% Halfway")) << from_null.screen();
    redirected.open_gate("seen");
    EXPECT_EQ(from_null.wait_exit(), 0);

    // Shrunk while it shows: the next update is cut, and blanks what is
    // left of the last one, to the new width, so it stays on one row.
    PackageFixture shrinking;
    shrinking.tool("installer-cli", "echo \"[ 40%] $(printf '%070d' 0)\"\n" + shrinking.gate("shrunk") +
                                        "echo '[ 60%] short'\n" + shrinking.gate("seen") + "echo '[ 70%] x'\n" +
                                        shrinking.gate("grown") + "echo '[100%] Done'\n");
    Terminal shrunk(80, 24);
    shrunk.start(shrinking.command_text({"-i"}));
    ASSERT_TRUE(shrunk.wait_for(" 40% 000")) << shrunk.screen();
    shrunk.resize(40, 24);
    shrinking.open_gate("shrunk");
    ASSERT_TRUE(shrunk.wait_for(" 60% short")) << shrunk.screen();
    // The cursor stays on the line's row: nothing wrapped. Nothing is left
    // of the rows the terminal made of the wider update.
    EXPECT_TRUE(shrunk.wait_until([&](const std::string &) {
        return shrunk.cursor().second == shrunk.find(" 60% short").first && shrunk.cursor().first < 40;
    })) << shrunk.cursor().first << "," << shrunk.cursor().second << "\n" << shrunk.screen();
    EXPECT_EQ(shrunk.screen().find("0000"), std::string::npos) << shrunk.screen();
    // Grown again, a terminal that rewraps its lines joins the rows the
    // shrink made of the first update: the next one erases all of that.
    shrunk.resize(80, 24);
    shrinking.open_gate("seen");
    ASSERT_TRUE(shrunk.wait_for(" 70% x")) << shrunk.screen();
    const auto [grown_row, grown_column] = shrunk.find(" 70% x");
    EXPECT_EQ(shrunk.rows()[static_cast<std::size_t>(grown_row)].find_last_not_of(' '), 5u) << shrunk.screen();
    shrinking.open_gate("grown");
    EXPECT_EQ(shrunk.wait_exit(), 0);

    // Wide characters count two columns each: the line never wraps, so the
    // next update leaves no stale row behind.
    PackageFixture wide;
    std::string cjk;
    for (int i = 0; i < 30; ++i)
        cjk += "\xe4\xb8\xad";
    wide.tool("installer-cli", "echo '[ 40%] " + cjk + "'\nsleep 0.3\necho '[100%] Done'\n");
    Terminal forty(40, 24);
    forty.start(wide.command_text({"-i"}), {"LANG=C.UTF-8"});
    EXPECT_EQ(forty.wait_exit(), 0);
    auto [done_row, done_column] = forty.find("100% Done");
    ASSERT_GE(done_row, 0) << forty.screen();
    EXPECT_EQ(forty.rows()[done_row + 1], "Congratulations!") << forty.screen();
    EXPECT_EQ(forty.screen().find("\xe4\xb8\xad"), std::string::npos) << forty.screen();
}
