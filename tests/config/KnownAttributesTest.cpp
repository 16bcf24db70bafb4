// The table of known attributes: typos and values outside a set are named in a warning, everything
// the documentation shows passes without one.
#include "support/XmlTestSupport.h"

#include "config/KnownAttributes.h"

#include <gtest/gtest.h>

namespace
{
std::string WarningsFor(std::string const& xml)
{
    std::unique_ptr<CXmlTree> document = ParseText(xml);
    EXPECT_TRUE(document);
    testing::internal::CaptureStderr();
    if (document)
        CheckTreeAttributes(document.get());
    return testing::internal::GetCapturedStderr();
}
} // namespace

TEST(KnownAttributes, EveryDocumentedAttributePassesQuietly)
{
    EXPECT_EQ(WarningsFor("<kilnpack version='0.1'>"
                          "<image file='a.dmg' name='A' open_folder='.' template_size='16' finder_records='Both'>"
                          "<folder name='f' x='1' y='2'><file source='s' name='n' required='no' x='1' y='2'/></folder>"
                          "<link target='/Applications' name='l' x='1' y='2'/>"
                          "<view type='icon' x='1' y='2' width='3' height='4' show_toolbar='true' grid='1'"
                          " icon_size='96' text_position='Right' toolbar_width='5' font_size='13' background='b.png'/>"
                          "<view type='icon' text_position='bottom'/>"
                          "</image></kilnpack>"),
              "");
}

TEST(KnownAttributes, TyposAndValuesOutsideTheSetAreNamed)
{
    EXPECT_EQ(WarningsFor("<kilnpack verison='0.1'><image file='a.dmg' name='A' finder_records='modrn'>"
                          "<view type='icon' icon_sise='96' text_position='top'/>"
                          "<folder name='f'><file source='s' name='n' requried='false'/></folder>"
                          "<unknown whatever='1'/>"
                          "</image></kilnpack>"),
              "Warning: 'kilnpack' tag has unknown attribute 'verison' (value '0.1'). Skipping.\n"
              "Warning: 'view' tag has unknown attribute 'icon_sise' (value '96'). Skipping.\n"
              "Warning: 'view' tag attribute 'text_position' has unknown value 'top'.\n"
              "Warning: 'file' tag has unknown attribute 'requried' (value 'false'). Skipping.\n");
}

TEST(KnownAttributes, EveryWordAttributeListsItsValues)
{
    for (CKnownAttribute const& row : GetKnownAttributes())
        EXPECT_EQ(row.kind == EAttributeKind::Word, row.values.size() > 0) << row.element << " " << row.attribute;
}
