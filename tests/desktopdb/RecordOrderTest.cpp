// Record order as the Finder keeps it: files the Finder wrote list their records, in the dump and
// when written again, in exactly the order their B-trees store them, read here straight from the
// bytes by a walk of the tree that shares nothing with the reader.
#include "DatabaseTestSupport.h"
#include "support/FileBytes.h"

#include <unicode/unistr.h>

namespace
{
// One record's name (UTF-8) and code, in the order a walk meets them.
using CStoredKeys = std::vector<std::pair<std::string, std::string>>;

// In-order walk of a file's B-tree. Allocator offsets count from file byte 4: the directory at D
// holds the block count at D+4 and block k's address at D+12+4k, the table of contents after the
// table's 256-entry granules; a node at address A holds, from file byte (A & ~15) + 4, its
// rightmost child (0 for a leaf), its record count, then records with a child before each in
// internal nodes.
class CStoredOrder
{
public:
    explicit CStoredOrder(std::string const& file) : file(file)
    {
        directory = WordAt(file, 8);
        unsigned int const blocks = WordAt(file, directory + 4);
        size_t at = directory + 12 + 4 * ((blocks + 255) / 256 * 256);
        unsigned int const entries = WordAt(file, at);
        at += 4;
        for (unsigned int i = 0; i < entries; ++i)
        {
            size_t const length = static_cast<unsigned char>(file.at(at));
            std::string const name = file.substr(at + 1, length);
            unsigned int const number = WordAt(file, at + 1 + length);
            at += 5 + length;
            if (name == "DSDB")
                Walk(WordAt(file, NodeStart(number)));
        }
    }

    CStoredKeys keys;

private:
    size_t NodeStart(unsigned int number) const
    {
        return (WordAt(file, directory + 12 + 4 * size_t(number)) & ~15u) + 4;
    }

    void Walk(unsigned int number)
    {
        size_t at = NodeStart(number);
        unsigned int const rightmost = WordAt(file, at);
        unsigned int const count = WordAt(file, at + 4);
        at += 8;
        for (unsigned int i = 0; i < count; ++i)
        {
            if (rightmost != 0)
            {
                Walk(WordAt(file, at));
                at += 4;
            }
            at = ReadRecord(at);
        }
        if (rightmost != 0)
            Walk(rightmost);
    }

    size_t ReadRecord(size_t at)
    {
        unsigned int const units = WordAt(file, at);
        std::u16string name;
        for (unsigned int i = 0; i < units; ++i)
            name.push_back(char16_t(static_cast<unsigned char>(file.at(at + 4 + 2 * i)) << 8 |
                                    static_cast<unsigned char>(file.at(at + 5 + 2 * i))));
        at += 4 + 2 * size_t(units);
        std::string utf8;
        icu::UnicodeString(name.data(), int32_t(name.size())).toUTF8String(utf8);
        keys.emplace_back(utf8, file.substr(at, 4));
        std::string const type = file.substr(at + 4, 4);
        at += 8;
        if (type == "bool")
            return at + 1;
        if (type == "shor" || type == "long" || type == "type")
            return at + 4;
        if (type == "comp" || type == "dutc")
            return at + 8;
        if (type == "blob")
            return at + 4 + WordAt(file, at);
        EXPECT_EQ(type, "ustr");
        return at + 4 + 2 * size_t(WordAt(file, at));
    }

    std::string const& file;
    size_t directory = 0;
};

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
        CStoredKeys const stored = CStoredOrder(ReadWholeFile(path)).keys;
        ASSERT_GE(stored.size(), 5u);
        CDesktopDatabase database;
        database.ReadFromDisk(path.c_str());
        EXPECT_EQ(DumpedKeys(database), stored);
        EXPECT_EQ(CStoredOrder(database.BuildFileImage()).keys, stored);
    }
    // The website folder is the one whose names tell the orders apart: `_` before the letters,
    // Gemfile among the lower-case names.
    CStoredKeys const site =
        CStoredOrder(ReadWholeFile(KILNPACK_SOURCE_DIR "/tests/data/finder-site-2020s.DS_Store")).keys;
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

    CStoredKeys const stored = CStoredOrder(database.BuildFileImage()).keys;
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
