#include "platform/AliasRecord.h"

#include "PlatformTestSupport.h"

#include <gtest/gtest.h>

namespace
{
CAliasFacts MakeNestedPictureFacts()
{
    CAliasFacts facts;
    facts.volumeName = "Kiln Test";
    facts.volumeCreateDate = 0xE1234567;
    facts.pathNames = {"Folder", ".background", "bg.png"};
    facts.folderIds = {16, 17};
    facts.targetId = 18;
    facts.targetCreateDate = 0xE0000000;
    facts.fileType = 0x504E4766;    // 'PNGf'
    facts.fileCreator = 0x3842494D; // '8BIM'
    facts.levelsFrom = 0;
    facts.levelsTo = 2;
    return facts;
}

std::vector<uint8_t> Slice(std::vector<uint8_t> const& bytes, size_t from, size_t count)
{
    return std::vector<uint8_t>(bytes.begin() + from, bytes.begin() + from + count);
}
} // namespace

TEST(AliasRecordTest, FixedPartMatchesTheDocumentedLayout)
{
    std::vector<uint8_t> record = BuildAliasRecord(MakeNestedPictureFacts());
    ASSERT_GE(record.size(), 150u);
    std::vector<uint8_t> expected =
        ParseHex("00000000 013C 0002 0000" // creator, size 316, version, file
                 "09 4B696C6E2054657374 000000000000000000000000000000000000" // Str27 volume name
                 "E1234567 482B 0005 00000011" // volume date, 'H+', ejectable, parent
                 "06 62672E706E67" +
                 std::string(57 * 2, '0') +                      // Str63 name
                 "00000012 E0000000 504E4766 3842494D 0000 0002" // ID, date, type, creator, levels
                 "00000000 0000 00000000000000000000");          // attributes, fs ID, reserved
    EXPECT_EQ(Slice(record, 0, 150), expected);
    EXPECT_EQ(record.size(), 316u);
}

TEST(AliasRecordTest, ExtrasFollowInTagOrderPaddedToEvenLengths)
{
    std::vector<uint8_t> record = BuildAliasRecord(MakeNestedPictureFacts());
    std::vector<uint8_t> expected =
        ParseHex("0000 000B 2E6261636B67726F756E64 00" // parent name, padded
                 "0001 0008 00000011 00000010"         // folder IDs, parent first
                 "0002 0023 4B696C6E20546573743A466F6C6465723A2E6261636B67726F756E643A62672E706E67 00"
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
    // The parent's name is the volume's, and there is no folder ID list.
    EXPECT_EQ(Slice(record, 150, 6), ParseHex("0000 0001 5600"));
    EXPECT_EQ(Slice(record, 156, 4), ParseHex("0002 0007"));
}

TEST(AliasRecordTest, NamesAreSpelledForEachPathConvention)
{
    CAliasFacts facts;
    facts.volumeName = "V";
    facts.pathNames = {"a:b\xC3\xA9"}; // "a:bé"
    facts.targetId = 16;
    std::vector<uint8_t> record = BuildAliasRecord(facts);
    // Str63: ':' is Carbon's separator and becomes '/'; é has no single-byte form here.
    EXPECT_EQ(Slice(record, 50, 5), ParseHex("04 612F623F"));
    // Carbon path "V:a/b?", Unicode name with U+00E9, POSIX path keeping ':' and UTF-8.
    std::vector<uint8_t> tail = Slice(record, 156, record.size() - 156);
    std::vector<uint8_t> expected = ParseHex("0002 0006 563A612F623F"
                                             "000E 000A 0004 0061 002F 0062 00E9"
                                             "000F 0004 0001 0056"
                                             "0012 0006 2F613A62C3A9"
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
    size_t unicode = 150 + 4 + 40 + 4 + 112; // parent name (volume), Carbon path "v..:n.." padded
    EXPECT_EQ(Slice(record, unicode, 6), ParseHex("000E 008E 0046"));
}

TEST(AliasRecordTest, RecordsThatCannotBeStoredAreRefused)
{
    CAliasFacts facts;
    EXPECT_TRUE(BuildAliasRecord(facts).empty());
    facts.pathNames = std::vector<std::string>(200, std::string(200, 'x'));
    EXPECT_TRUE(BuildAliasRecord(facts).empty()); // longer than a 16-bit size can say
}
