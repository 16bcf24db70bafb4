// Record order as the Finder keeps it: files the Finder wrote list their records, in the dump and
// when written again, in exactly the order their B-trees store them, read straight from the bytes
// by a walk of the tree that shares nothing with the program's reader.
#include "DatabaseTestSupport.h"
#include "support/FileBytes.h"
#include "support/StoredRecords.h"

#include <unicode/unistr.h>

namespace
{
// One record's name (UTF-8) and code, in the order a walk meets them.
using CStoredKeys = std::vector<std::pair<std::string, std::string>>;

// The names (UTF-8) and codes of a file's records in the order its B-tree stores them.
CStoredKeys ReadStoredKeys(std::string const& file)
{
    CStoredKeys keys;
    for (auto const& [name, code] : CStoreReader(file).ReadRecords())
    {
        std::string utf8;
        icu::UnicodeString(name.data(), int32_t(name.size())).toUTF8String(utf8);
        keys.emplace_back(utf8, code);
    }
    return keys;
}

// The name and code of each record line of the dump.
CStoredKeys DumpedKeys(CDesktopDatabase const& database)
{
    std::string const printed = CapturePrinted([&] { database.Print(stdout); });
    CStoredKeys keys;
    std::istringstream lines(printed);
    for (std::string line; std::getline(lines, line);)
    {
        if (line.empty() || line[0] != '"')
            continue;
        size_t const end = line.find("\" '");
        keys.emplace_back(line.substr(1, end - 1), line.substr(end + 3, 4));
    }
    return keys;
}
} // namespace

TEST(RecordOrder, FinderFilesDumpAndWriteBackInTheOrderTheyAreStored)
{
    for (char const* name : {"finder-2011", "finder-2014", "finder-2017", "finder-2020", "finder-site-2020s"})
    {
        SCOPED_TRACE(name);
        std::string const path = std::string(KILNPACK_SOURCE_DIR "/tests/data/") + name + ".DS_Store";
        CStoredKeys const stored = ReadStoredKeys(ReadWholeFile(path));
        ASSERT_GE(stored.size(), 5u);
        CDesktopDatabase database;
        database.ReadFromDisk(path.c_str());
        EXPECT_EQ(DumpedKeys(database), stored);
        EXPECT_EQ(ReadStoredKeys(database.BuildFileImage()), stored);
    }
    // The website folder is the one whose names tell the orders apart: `_` before the letters,
    // Gemfile among the lower-case names.
    CStoredKeys const site =
        ReadStoredKeys(ReadWholeFile(KILNPACK_SOURCE_DIR "/tests/data/finder-site-2020s.DS_Store"));
    std::vector<std::string> names;
    for (auto const& key : site)
        if (key.second == "Iloc")
            names.push_back(key.first);
    EXPECT_EQ(names,
              (std::vector<std::string>{
                  "404.html",    "_config.yml", "_data",     "_includes",  "_layouts",
                  "_posts",      "_sass",       "about.md",  "assets",     "categories.md",
                  "docs.md",     "faq.md",      "Gemfile",   "index.html", "jekyll-theme-hamilton.gemspec",
                  "LICENSE.txt", "logo.png",    "README.md", "scripts",    "tags.md",
                  "years.md"}));
}

TEST(RecordOrder, WrittenFilesStoreAnInstallerFoldersNamesAsTheFinderOrdersThem)
{
    CDesktopDatabase database;
    unsigned char const position[16] = {};
    for (char const* name :
         {"MyApp Help.pdf", "My_App.app", "Applications", "[Read first].txt", "~notes", "^1"})
        database.SetBlob(name, MakeFourCharCode("Iloc"), 16, position);
    database.SetLong(".", MakeFourCharCode("vSrn"), 1);
    // Enough records for an internal node, so the order holds across nodes too.
    for (int i = 0; i < 300; ++i)
        database.SetBlob(("_item " + std::to_string(1000 + i)).c_str(), MakeFourCharCode("Iloc"), 16,
                         position);

    CStoredKeys const stored = ReadStoredKeys(database.BuildFileImage());
    ASSERT_EQ(stored.size(), 307u);
    EXPECT_EQ(stored.front(), (std::pair<std::string, std::string>{".", "vSrn"}));
    EXPECT_EQ(stored[1].first, "[Read first].txt");
    EXPECT_EQ(stored[2].first, "^1");
    EXPECT_EQ(stored[3].first, "_item 1000");
    EXPECT_EQ(stored[302].first, "_item 1299");
    std::vector<std::string> last;
    for (size_t i = 303; i < stored.size(); ++i)
        last.push_back(stored[i].first);
    EXPECT_EQ(last, (std::vector<std::string>{"Applications", "My_App.app", "MyApp Help.pdf", "~notes"}));
}
