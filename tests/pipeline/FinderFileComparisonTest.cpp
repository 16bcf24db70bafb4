// Our icon view settings and background alias against the ones the Finder itself wrote into an
// installer window's desktop database (tests/data/finder-2020.DS_Store, see docs/finder-records.md).
#include "support/ImageTestSupport.h"
#include "support/PlistReading.h"
#include "finder/ModernViewRecords.h"
#include "finder/AliasRecord.h"

#include <plist/plist.h>

namespace
{
using CEntries = std::map<std::string, CPlistEntry>;

std::unique_ptr<CDesktopDatabase> ReadFinderFile()
{
    auto database = std::make_unique<CDesktopDatabase>();
    database->ReadFromDisk(KILNPACK_SOURCE_DIR "/tests/data/finder-2020.DS_Store");
    return database;
}

std::vector<unsigned char> DataOfKey(std::vector<unsigned char> const& binaryPlist, char const* key)
{
    plist_t root = nullptr;
    plist_from_bin(reinterpret_cast<char const*>(binaryPlist.data()), uint32_t(binaryPlist.size()), &root);
    std::vector<unsigned char> bytes;
    plist_t item = root ? plist_dict_get_item(root, key) : nullptr;
    char* data = nullptr;
    uint64_t length = 0;
    if (item)
        plist_get_data_val(item, &data, &length);
    if (data)
        bytes.assign(data, data + length);
    free(data);
    plist_free(root);
    return bytes;
}

// The alias without the given extra tags, its size field set to its new length.
std::vector<unsigned char> WithoutTags(std::vector<unsigned char> const& alias, std::vector<int> const& tags)
{
    std::vector<unsigned char> kept(alias.begin(), alias.begin() + 150);
    size_t at = 150;
    while (at + 4 <= alias.size())
    {
        int tag = int16_t((alias[at] << 8) | alias[at + 1]);
        size_t length = (alias[at + 2] << 8) | alias[at + 3];
        size_t next = at + 4 + length + (length % 2);
        if (std::find(tags.begin(), tags.end(), tag) == tags.end())
            kept.insert(kept.end(), alias.begin() + long(at), alias.begin() + long(next));
        at = next;
        if (tag == -1)
            break;
    }
    kept[4] = static_cast<unsigned char>(kept.size() >> 8);
    kept[5] = static_cast<unsigned char>(kept.size() & 0xFF);
    return kept;
}
} // namespace

TEST(FinderFileComparison, IconViewSettingsAreTheFindersOwn)
{
    auto finder = ReadFinderFile();
    std::vector<unsigned char> theirBytes = BlobOf(*finder, ".", MakeFourCharCode("icvp"));
    CEntries theirs = ReadNormalizedPlist(theirBytes);
    ASSERT_EQ(theirs.count("backgroundImageAlias"), 1u);

    CConfigSnippet snippet("<view type='icon' icon_size='120'/>");
    std::vector<unsigned char> alias = DataOfKey(theirBytes, "backgroundImageAlias");
    ASSERT_FALSE(alias.empty());
    std::vector<unsigned char> ourBytes;
    std::string error;
    ASSERT_TRUE(
        BuildIconViewSettings(ReadViewAttributes(GetTreeNode(snippet.Root())), &alias, &ourBytes, &error))
        << error;
    CEntries ours = ReadNormalizedPlist(ourBytes);
    // Every key and value, the alias included; ours says nothing else.
    EXPECT_EQ(ours, theirs);
}

TEST(FinderFileComparison, BackgroundAliasIsTheFindersOwnByteForByte)
{
    auto finder = ReadFinderFile();
    std::vector<unsigned char> theirs =
        DataOfKey(BlobOf(*finder, ".", MakeFourCharCode("icvp")), "backgroundImageAlias");
    ASSERT_GT(theirs.size(), 150u);

    // The facts of the Finder's picture: /.background/background.png on the volume, the Finder
    // two hours ahead of GMT.
    CAliasFacts facts;
    facts.volumeName = "KLatexFormula-4.1.0";
    facts.volumeCreateDate = 0xDAE8A1D2;
    facts.volumeCreateDateGmt = 0xDAE885B2;
    facts.pathNames = {".background", "background.png"};
    facts.folderIds = {27};
    facts.targetId = 28;
    facts.targetCreateDate = 0xDAE885B9;
    facts.targetCreateDateLocal = 0xDAE8A1D9;
    std::vector<uint8_t> ours = BuildAliasRecord(facts);

    // Tag 20 names the image file on the Mac that mounted it and tag 21 that user's home folder;
    // an image built here has neither.
    EXPECT_EQ(std::vector<unsigned char>(ours.begin(), ours.end()), WithoutTags(theirs, {20, 21}));
}
