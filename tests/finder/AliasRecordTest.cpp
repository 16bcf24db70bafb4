#include "finder/AliasRecord.h"

#include "support/PlatformTestSupport.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace
{
CAliasFacts MakeNestedPictureFacts()
{
    CAliasFacts facts;
    facts.volumeName = "Kiln Test";
    facts.volumeCreateDate = 0xE1234567; // local time, two hours ahead of GMT
    facts.volumeCreateDateGmt = 0xE1232947;
    facts.pathNames = {"Folder", ".background", "bg.png"};
    facts.folderIds = {16, 17};
    facts.targetId = 18;
    facts.targetCreateDate = 0xE0000000;
    facts.targetCreateDateLocal = 0xE0001C20;
    facts.fileType = 0x504E4766;    // 'PNGf'
    facts.fileCreator = 0x3842494D; // '8BIM'
    return facts;
}

std::vector<uint8_t> Slice(std::vector<uint8_t> const& bytes, size_t from, size_t count)
{
    return std::vector<uint8_t>(bytes.begin() + from, bytes.begin() + from + count);
}
} // namespace

// The layout and field values of the Finder's own alias of a background picture on a disk image
// (cpack-template-2020.DS_Store, docs/finder-records.md): levels -1/-1, volume attributes 0x0D02,
// local dates in the fixed part and GMT ones in tags 16 and 17 right after tag 0, an empty tag 1
// in the root, and a NUL after each ':' below the first name of the Carbon path.
TEST(AliasRecordTest, FixedPartMatchesTheDocumentedLayout)
{
    std::vector<uint8_t> record = BuildAliasRecord(MakeNestedPictureFacts());
    ASSERT_GE(record.size(), 150u);
    std::vector<uint8_t> expected =
        ParseHex("00000000 0156 0002 0000" // creator, size 342, version, file
                 "09 4B696C6E2054657374 000000000000000000000000000000000000" // Str27 volume name
                 "E1234567 482B 0005 00000011" // volume date, 'H+', ejectable, parent
                 "06 62672E706E67" +
                 std::string(57 * 2, '0') +                      // Str63 name
                 "00000012 E0001C20 504E4766 3842494D FFFF FFFF" // ID, local date, type, creator, levels
                 "00000D02 0000 00000000000000000000");          // attributes, fs ID, reserved
    EXPECT_EQ(Slice(record, 0, 150), expected);
    EXPECT_EQ(record.size(), 342u);
}

TEST(AliasRecordTest, ExtrasFollowInTagOrderPaddedToEvenLengths)
{
    std::vector<uint8_t> record = BuildAliasRecord(MakeNestedPictureFacts());
    std::vector<uint8_t> expected = ParseHex(
        "0000 000B 2E6261636B67726F756E64 00" // parent name, padded
        "0010 0008 0000 E1232947 0000"        // volume date, GMT
        "0011 0008 0000 E0000000 0000"        // target date, GMT
        "0001 0008 00000011 00000010"         // folder IDs, parent first
        "0002 0025 4B696C6E2054657374 3A 466F6C646572 3A00 2E6261636B67726F756E64 3A00 62672E706E67 00"
        "000E 000E 0006 0062 0067 002E 0070 006E 0067"                   // Unicode name
        "000F 0014 0009 004B 0069 006C 006E 0020 0054 0065 0073 0074"    // Unicode volume name
        "0012 001A 2F466F6C6465722F2E6261636B67726F756E642F62672E706E67" // POSIX path
        "0013 0012 2F566F6C756D65732F4B696C6E2054657374"                 // mount point
        "FFFF 0000");
    EXPECT_EQ(Slice(record, 150, record.size() - 150), expected);
}

TEST(AliasRecordTest, PictureInTheRootNamesTheRootAsParent)
{
    CAliasFacts facts;
    facts.volumeName = "V";
    facts.pathNames = {"p.png"};
    facts.targetId = 16;
    std::vector<uint8_t> record = BuildAliasRecord(facts);
    ASSERT_GE(record.size(), 150u);
    EXPECT_EQ(Slice(record, 46, 4), ParseHex("00000002"));
    EXPECT_EQ(Slice(record, 130, 4), ParseHex("FFFFFFFF")); // no relative path
    // The parent's name is the volume's, and the folder ID list is empty.
    EXPECT_EQ(Slice(record, 150, 6), ParseHex("0000 0001 5600"));
    EXPECT_EQ(Slice(record, 180, 8), ParseHex("0001 0000 0002 0007"));
}

TEST(AliasRecordTest, NamesAreSpelledForEachPathConvention)
{
    CAliasFacts facts;
    facts.volumeName = "V";
    facts.pathNames = {"a:b\xC3\xA9"}; // "a:bé"
    facts.targetId = 16;
    std::vector<uint8_t> record = BuildAliasRecord(facts);
    // Str63 in Mac Roman: ':' is Carbon's separator and becomes '/', é is 0x8E.
    EXPECT_EQ(Slice(record, 50, 5), ParseHex("04 612F628E"));
    // Carbon path "V:a/bé", the Unicode name decomposed as HFS+ stores it (e U+0301), the POSIX
    // path keeping ':' in decomposed UTF-8.
    std::vector<uint8_t> tail = Slice(record, 184, record.size() - 184);
    std::vector<uint8_t> expected = ParseHex("0002 0006 563A612F628E"
                                             "000E 000C 0005 0061 002F 0062 0065 0301"
                                             "000F 0004 0001 0056"
                                             "0012 0007 2F613A6265CC81 00"
                                             "0013 000A 2F566F6C756D65732F56"
                                             "FFFF 0000");
    EXPECT_EQ(tail, expected);
}

TEST(AliasRecordTest, LongNamesAreCutInTheFixedPartOnly)
{
    CAliasFacts facts;
    facts.volumeName = std::string(40, 'v');
    facts.pathNames = {std::string(70, 'n')};
    std::vector<uint8_t> record = BuildAliasRecord(facts);
    EXPECT_EQ(record[10], 27);
    EXPECT_EQ(record[50], 63);
    EXPECT_EQ(record[114], 0); // the field after the name is untouched
    // The Unicode name keeps all 70 characters.
    // parent name (volume), dates, empty folder IDs, Carbon path "v..:n.." padded
    size_t unicode = 150 + 4 + 40 + 24 + 4 + 4 + 112;
    EXPECT_EQ(Slice(record, unicode, 6), ParseHex("000E 008E 0046"));
}

TEST(AliasRecordTest, RecordsThatCannotBeStoredAreRefused)
{
    CAliasFacts facts;
    EXPECT_TRUE(BuildAliasRecord(facts).empty());
    facts.pathNames = std::vector<std::string>(200, std::string(200, 'x'));
    EXPECT_TRUE(BuildAliasRecord(facts).empty()); // longer than a 16-bit size can say
}

TEST(AliasRecordTest, NamesBeyondMacRomanAreWholeInTheUnicodeTagsOnly)
{
    CAliasFacts facts;
    facts.volumeName = "Caf\xC3\xA9 \xED\x95\x9C"; // "Café 한", 한 decomposes into three jamo
    facts.pathNames = {"\xF0\x9F\x98\x80.png"};    // U+1F600, a surrogate pair in UTF-16
    std::vector<uint8_t> record = BuildAliasRecord(facts);
    EXPECT_EQ(Slice(record, 10, 7), ParseHex("06 436166 8E 20 3F"));
    EXPECT_EQ(Slice(record, 50, 6), ParseHex("05 3F 2E706E67"));
    std::vector<uint8_t> unicodeName = ParseHex("000E 000E 0006 D83D DE00 002E 0070 006E 0067");
    std::vector<uint8_t> unicodeVolume =
        ParseHex("000F 0014 0009 0043 0061 0066 0065 0301 0020 1112 1161 11AB");
    EXPECT_NE(std::search(record.begin(), record.end(), unicodeName.begin(), unicodeName.end()),
              record.end());
    EXPECT_NE(std::search(record.begin(), record.end(), unicodeVolume.begin(), unicodeVolume.end()),
              record.end());
}
