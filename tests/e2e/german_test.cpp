// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// The command line in German: each line of the usage text and every
// command-line message is looked up in the catalogue.
#include <gtest/gtest.h>

#include <regex>

#include "support/package_fixture.h"

namespace {

RunOptions german()
{
    RunOptions options;
    options.env = {"LANG=de_DE.UTF-8", "LC_ALL=", "LANGUAGE="};
    return options;
}

} // namespace

TEST(GermanCommandLine, UsageAndErrorsInGerman)
{
    PackageFixture pkg;
    pkg.write("resources/de/LC_MESSAGES/install.mo", read_file(std::string(SAMPLE_SDK_DIR) + "/resources/de/LC_MESSAGES/install.mo"));
    ProcessResult help = pkg.run({"-h"}, german());
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, "Tessaro Virtualization SDK-Installationsprogramm 3.1.0.412\n"
                        "Aufruf: install [OPTION]\n"
                        "       -i,--install                automatische (unbeaufsichtigte) Installation oder Aktualisierung \n"
                        "       -r,--remove                 automatische (unbeaufsichtigte) Entfernung \n"
                        "       -f,--force                  erzwungenes Entfernen: Fehler übergehen und so viel wie möglich erledigen \n"
                        "       -h,--help                   diese Hilfe anzeigen\n"
                        "       -v,--version                Version anzeigen\n");
    const std::string version = pkg.run({"-v"}, german()).err;
    EXPECT_EQ(version.substr(0, version.find('\n') + 1), "Tessaro Virtualization SDK-Installation 3.1.0.412\n");
    EXPECT_NE(version.find("THIRD-PARTY-NOTICES im Paket.\n"), std::string::npos) << version;
    EXPECT_EQ(pkg.run({"-i", "-r"}, german()).err,
              pkg.program() + ": unbeaufsichtigte Installation und unbeaufsichtigte Entfernung können nicht gleichzeitig "
                              "ausgeführt werden.\n");
    EXPECT_EQ(pkg.run({"extra"}, german()).err.substr(0, pkg.program().size() + 29),
              pkg.program() + ": ungültiges Argument extra\n");
    ProcessResult nobody = pkg.run({"-i"}, [] {
        RunOptions options = german();
        options.as_nobody = true;
        return options;
    }());
    EXPECT_EQ(nobody.err, pkg.program() + " kann nur als root ausgeführt werden\n");
    // A failed back-end step names the product and the log where the
    // English message does.
    pkg.tool("installer-cli", "echo kaputt >&2\nexit 4\n");
    ProcessResult failed = pkg.run({"-i"}, german());
    EXPECT_EQ(failed.status, 1);
    EXPECT_NE(failed.err.find("kaputt\nFehler bei der Konfiguration von Tessaro Virtualization SDK. Näheres finden "
                              "Sie in /var/log/kestrane-sdk-install.log.\n"),
              std::string::npos)
        << failed.err;
    // Nor does it send anyone to a log that could not be written.
    failed = pkg.run({"-i", "--log-path", "/proc/version"}, german());
    EXPECT_EQ(failed.status, 1);
    EXPECT_TRUE(std::regex_search(failed.err, std::regex("kaputt\nFehler bei der Konfiguration von Tessaro Virtualization "
                                                         "SDK\\. Das Installationsprotokoll /proc/version kann nicht "
                                                         "geschrieben werden \\([^)]+\\)\\.\n$")))
        << failed.err;
}

TEST(GermanCommandLine, WithoutACatalogueTheTextsAreEnglish)
{
    PackageFixture pkg;  // no resources/ in this package
    const std::string english = pkg.run({"-v"}, german()).err;
    EXPECT_EQ(english.substr(0, english.find('\n') + 1), "Tessaro Virtualization SDK installation 3.1.0.412\n");
}
