// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

#include "driver/installation.h"

#include <gtest/gtest.h>

#include "driver/backend.h"

TEST(PackageLists, MandatoryMeansFirstCharacterM)
{
    std::string mandatory = "m libfoo\no bar\n";
    std::string optional = "o bar\n";
    std::string empty;
    EXPECT_EQ(check_list_for_mandatory_packages(&mandatory), 1);
    EXPECT_EQ(check_list_for_mandatory_packages(&optional), 0);
    EXPECT_EQ(check_list_for_mandatory_packages(&empty), 0);
    EXPECT_EQ(check_list_for_mandatory_packages(nullptr), 0);
}

TEST(PackageLists, EmptyMeansNoLetterOrDigit)
{
    std::string blanks = " \n\t-.,;\n";
    std::string one = "  .x\n";
    std::string digit = "--7--";
    EXPECT_EQ(check_list_empty(nullptr), 1);
    EXPECT_EQ(check_list_empty(&blanks), 1);
    EXPECT_EQ(check_list_empty(&one), 0);
    EXPECT_EQ(check_list_empty(&digit), 0);
}

TEST(PackageLists, PrepareMarksTheFirstMarkerOfEachLine)
{
    std::string list = "m libfoo\no bar\n";
    EXPECT_EQ(prepare_output_message(&list), 0);
    EXPECT_EQ(list, "- libfoo\n- bar\n");
    std::string unmarked = "foo bar\nm x m y\n";
    prepare_output_message(&unmarked);
    EXPECT_EQ(unmarked, "fo- bar\n- x m y\n");
    EXPECT_EQ(prepare_output_message(nullptr), 1);
    // A package name the back end printed cannot reorder or hide the list.
    std::string spoofing = "m lib\xe2\x80\xae" "oof\xe2\x80\xac\no z\xe2\x80\x8b" "ip\xef\xbb\xbf\n";
    prepare_output_message(&spoofing);
    EXPECT_EQ(spoofing, "- lib oof \n- z ip \n");
}

TEST(BackendCommands, FixedTemplatesWithSafeValues)
{
    EXPECT_EQ(pm_check_command("sdk"), "./installer/pm.sh --check sdk --lib-deps data/lib_deps");
    EXPECT_EQ(pm_install_command("sdk", "/var/log/kestrane-sdk-install.log"),
              "./installer/pm.sh --install sdk --lib-deps data/lib_deps --logfile /var/log/kestrane-sdk-install.log");
    EXPECT_EQ(cli_installer_command("/var/log/kestrane-sdk-install.log", "", "", false, "-i", "Manifest"),
              "./installer-cli --verbose --logfile=/var/log/kestrane-sdk-install.log --progress "
              "--define=\"kversion=$(uname -r)\"     -i Manifest 2>&1");
    EXPECT_EQ(cli_installer_command("l", "core,docs", "", true, "-e --skip-sections config", "/m"),
              "./installer-cli --verbose --logfile=l --progress --define=\"kversion=$(uname -r)\" -s core,docs  "
              "--force -e --skip-sections config /m 2>&1");
}

TEST(BackendCommands, UnsafeValuesAreQuoted)
{
    EXPECT_EQ(pm_install_command("sdk", "/tmp/my log;rm x"),
              "./installer/pm.sh --install sdk --lib-deps data/lib_deps --logfile '/tmp/my log;rm x'");
    EXPECT_EQ(cli_installer_command("/a b", "x y", "", false, "-i", "Manifest"),
              "./installer-cli --verbose --logfile='/a b' --progress --define=\"kversion=$(uname -r)\" -s 'x y'   "
              "-i Manifest 2>&1");
}
