#include "config/FinderRecordSet.h"
#include "support/ImageTestSupport.h"

namespace
{
struct CRecordSetRead
{
    EFinderRecordSet recordSet;
    std::string errors;
};

CRecordSetRead ReadFrom(std::string const& imageElement)
{
    CConfigSnippet snippet(imageElement);
    testing::internal::CaptureStderr();
    EFinderRecordSet recordSet = ReadFinderRecordSet(GetTreeNode(snippet.Root()));
    return {recordSet, testing::internal::GetCapturedStderr()};
}
} // namespace

TEST(FinderRecordSet, AbsentMeansLegacyWithoutAWord)
{
    CRecordSetRead read = ReadFrom("<image file='a.dmg' name='A'/>");
    EXPECT_EQ(read.recordSet, EFinderRecordSet::Legacy);
    EXPECT_EQ(read.errors, "");
}

TEST(FinderRecordSet, KnownValuesIgnoringLetterCase)
{
    EXPECT_EQ(ReadFrom("<image finder_records='legacy'/>").recordSet, EFinderRecordSet::Legacy);
    EXPECT_EQ(ReadFrom("<image finder_records='modern'/>").recordSet, EFinderRecordSet::Modern);
    EXPECT_EQ(ReadFrom("<image finder_records='both'/>").recordSet, EFinderRecordSet::Both);
    CRecordSetRead upper = ReadFrom("<image finder_records='Modern'/>");
    EXPECT_EQ(upper.recordSet, EFinderRecordSet::Modern);
    EXPECT_EQ(upper.errors, "");
    EXPECT_EQ(ReadFrom("<image finder_records='BOTH'/>").recordSet, EFinderRecordSet::Both);
}

TEST(FinderRecordSet, UnknownValueWarnsAndFallsBackToLegacy)
{
    for (char const* value : {"current", "", " modern", "modern,legacy"})
    {
        CRecordSetRead read = ReadFrom(std::string("<image finder_records='") + value + "'/>");
        EXPECT_EQ(read.recordSet, EFinderRecordSet::Legacy) << value;
        EXPECT_EQ(read.errors,
                  std::string("Warning: 'image' tag attribute 'finder_records' has unknown value '") + value +
                      "'. Using 'legacy'.\n");
    }
}

TEST(FinderRecordSet, WhichSetsAreWritten)
{
    EXPECT_TRUE(WritesLegacyRecords(EFinderRecordSet::Legacy));
    EXPECT_FALSE(WritesModernRecords(EFinderRecordSet::Legacy));
    EXPECT_FALSE(WritesLegacyRecords(EFinderRecordSet::Modern));
    EXPECT_TRUE(WritesModernRecords(EFinderRecordSet::Modern));
    EXPECT_TRUE(WritesLegacyRecords(EFinderRecordSet::Both));
    EXPECT_TRUE(WritesModernRecords(EFinderRecordSet::Both));
}
