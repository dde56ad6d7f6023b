// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// The message template is never stale and every translation is complete
// and well-formed.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "support/process.h"

namespace {

// The msgids of a PO or POT file, the header left out.
std::set<std::string> msgids(const std::string &path)
{
    ProcessResult r = run_process({"msgcat", "--no-wrap", "--no-location", path});
    std::set<std::string> ids;
    std::string current;
    bool in_id = false;
    std::size_t start = 0;
    const std::string &text = r.out;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.rfind("msgid \"", 0) == 0) {
            current = line.substr(6);
            in_id = true;
        } else if (in_id && line.rfind("\"", 0) == 0) {
            current += line;
        } else if (line.rfind("msgstr", 0) == 0) {
            in_id = false;
            if (current != "\"\"")
                ids.insert(current);
        }
    }
    return ids;
}

} // namespace

TEST(Catalogue, TemplateMatchesTheSources)
{
    TempDir dir;
    std::vector<std::string> argv = {"xgettext", "--language=C++", "--keyword=_", "--keyword=N_", "--from-code=UTF-8",
                                     "-o", dir / "fresh.pot"};
    for (const auto &entry : std::filesystem::recursive_directory_iterator(std::string(SOURCE_DIR) + "/src"))
        if (entry.path().extension() == ".cpp")
            argv.push_back(entry.path().string());
    ASSERT_EQ(run_process(argv).status, 0);
    std::set<std::string> fresh = msgids(dir / "fresh.pot");
    std::set<std::string> kept = msgids(std::string(SOURCE_DIR) + "/po/install.pot");
    ASSERT_GT(fresh.size(), 100u);
    for (const std::string &id : fresh)
        EXPECT_TRUE(kept.count(id)) << "missing from po/install.pot (run make pot): " << id;
    for (const std::string &id : kept)
        EXPECT_TRUE(fresh.count(id)) << "no longer in the sources (run make pot): " << id;
    // Untranslated log texts stay out of the template.
    EXPECT_FALSE(kept.count("\"Exiting with code %d\\n\""));
    EXPECT_TRUE(kept.count("\"The file %s cannot be found.\\n\""));
}

TEST(Catalogue, EveryTranslationIsCompleteAndChecked)
{
    std::set<std::string> kept = msgids(std::string(SOURCE_DIR) + "/po/install.pot");
    for (const auto &entry : std::filesystem::directory_iterator(std::string(SOURCE_DIR) + "/po")) {
        if (entry.path().extension() != ".po")
            continue;
        ProcessResult check = run_process({"msgfmt", "--check", "--statistics", "-o", "/dev/null", entry.path().string()});
        EXPECT_EQ(check.status, 0) << check.err;
        EXPECT_EQ(check.err.find("untranslated"), std::string::npos) << entry.path() << ": " << check.err;
        EXPECT_EQ(check.err.find("fuzzy"), std::string::npos) << entry.path() << ": " << check.err;
        EXPECT_EQ(msgids(entry.path().string()), kept) << entry.path();
    }
}
