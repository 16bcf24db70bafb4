#include "finder/ModernViewRecords.h"
#include "support/ImageTestSupport.h"
#include "support/PlistReading.h"
#include "finder/BinaryPlistReals.h"

#include <algorithm>
#include <climits>

namespace
{
using CEntries = std::map<std::string, CPlistEntry>;

// Attributes as a view element gives them; the reading warns about nothing here.
std::vector<unsigned char> WindowBytes(CViewAttributes const& view)
{
    std::vector<unsigned char> bytes;
    std::string error;
    EXPECT_TRUE(BuildWindowSettings(view, &bytes, &error)) << error;
    return bytes;
}

std::vector<unsigned char> IconViewBytes(CViewAttributes const& view, std::vector<unsigned char> const* alias)
{
    std::vector<unsigned char> bytes;
    std::string error;
    EXPECT_TRUE(BuildIconViewSettings(view, alias, &bytes, &error)) << error;
    return bytes;
}

CViewAttributes ViewOf(std::string const& attributes)
{
    CConfigSnippet snippet("<view type='icon' " + attributes + "/>");
    return ReadViewAttributes(GetTreeNode(snippet.Root()));
}

bool StartsWithMagic(std::vector<unsigned char> const& bytes)
{
    return bytes.size() > 8 && std::string(bytes.begin(), bytes.begin() + 8) == "bplist00";
}

// The first byte of each object, found through the trailer and the offset table.
std::vector<unsigned char> ObjectMarkers(std::vector<unsigned char> const& bytes)
{
    auto number = [&](size_t at, int size)
    {
        uint64_t value = 0;
        for (int k = 0; k < size; ++k)
            value = (value << 8) | bytes.at(at + size_t(k));
        return value;
    };
    size_t trailer = bytes.size() - 32;
    int offsetSize = bytes.at(trailer + 6);
    uint64_t count = number(trailer + 8, 8);
    uint64_t table = number(trailer + 24, 8);
    std::vector<unsigned char> markers;
    for (uint64_t i = 0; i < count; ++i)
        markers.push_back(bytes.at(number(table + i * uint64_t(offsetSize), offsetSize)));
    return markers;
}

// Markers 0x22 and 0x23: a real of four and of eight bytes.
size_t CountMarkers(std::vector<unsigned char> const& bytes, unsigned char marker)
{
    std::vector<unsigned char> markers = ObjectMarkers(bytes);
    return size_t(std::count(markers.begin(), markers.end(), marker));
}

CEntries const kBarsHidden = {{"ShowStatusBar", Flag(false)},        {"ShowPathbar", Flag(false)},
                              {"ShowSidebar", Flag(false)},          {"ShowTabView", Flag(false)},
                              {"ContainerShowSidebar", Flag(false)}, {"PreviewPaneVisibility", Flag(false)}};

CEntries With(CEntries entries, CEntries const& more)
{
    for (auto const& entry : more)
        entries[entry.first] = entry.second;
    return entries;
}

CEntries IconViewEntries(double iconSize, double textSize, bool labelOnBottom, char const* arrangement)
{
    return {{"viewOptionsVersion", Integer(1)}, {"iconSize", Real(iconSize)},
            {"textSize", Real(textSize)},       {"labelOnBottom", Flag(labelOnBottom)},
            {"arrangeBy", String(arrangement)}, {"gridSpacing", Real(100)},
            {"gridOffsetX", Real(0)},           {"gridOffsetY", Real(0)},
            {"showIconPreview", Flag(true)},    {"showItemInfo", Flag(false)},
            {"backgroundColorRed", Real(1)},    {"backgroundColorGreen", Real(1)},
            {"backgroundColorBlue", Real(1)},   {"backgroundType", Integer(0)}};
}
} // namespace

TEST(WindowSettings, EveryKeyThroughAnIndependentReader)
{
    std::vector<unsigned char> bytes = WindowBytes(
        ViewOf("x='100' y='200' width='400' height='300' show_toolbar='yes' toolbar_width='150'"));
    EXPECT_TRUE(StartsWithMagic(bytes));
    EXPECT_EQ(CountMarkers(bytes, 0x23), 1u); // SidebarWidthTenElevenOrLater
    EXPECT_EQ(CountMarkers(bytes, 0x22), 0u);
    // The whole window: 300 points of content, a 28-point title bar and a 24-point toolbar;
    // 900 - (200 + 352) = 348 from the bottom of the reference screen.
    EXPECT_EQ(ReadNormalizedPlist(bytes),
              With(kBarsHidden, {{"WindowBounds", String("{{100, 348}, {400, 352}}")},
                                 {"ShowToolbar", Flag(true)},
                                 {"SidebarWidth", Integer(150)},
                                 {"SidebarWidthTenElevenOrLater", Real(150)}}));
}

TEST(WindowSettings, BoundsCountFromTheBottomOfTheReferenceScreen)
{
    // The 2020 Finder file's window: 607 x 334 points of content (without its path bar here).
    EXPECT_EQ(FormatWindowBounds(ViewOf("x='400' y='0' width='607' height='334'")),
              "{{400, 538}, {607, 362}}");
    EXPECT_EQ(FormatWindowBounds(ViewOf("x='10' y='0' width='500' height='872'")), "{{10, 0}, {500, 900}}");
    EXPECT_EQ(FormatWindowBounds(ViewOf("y='-50' height='100'")), "{{0, 822}, {0, 128}}");
    EXPECT_EQ(FormatWindowBounds(ViewOf("y='100' height='100' show_toolbar='1'")), "{{0, 648}, {0, 152}}");
    // A window reaching below the reference screen stays at its bottom edge.
    EXPECT_EQ(FormatWindowBounds(ViewOf("x='-20' y='700' width='300' height='400'")),
              "{{-20, 0}, {300, 428}}");
    EXPECT_EQ(FormatWindowBounds(ViewOf("x='5'")), "{{5, 872}, {0, 28}}");
}

TEST(WindowSettings, ExtremeValuesNeitherWrapNorGoNegative)
{
    EXPECT_EQ(FormatWindowBounds(ViewOf("y='2147483647' height='2147483647' width='-5'")),
              "{{0, 0}, {0, 2147483675}}");
    EXPECT_EQ(FormatWindowBounds(ViewOf("y='-2147483648' height='-10'")), "{{0, 2147484520}, {0, 28}}");
}

TEST(WindowSettings, NoRectangleMeansNoBounds)
{
    CViewAttributes toolbar = ViewOf("show_toolbar='no'");
    EXPECT_TRUE(HasWindowSettings(toolbar));
    EXPECT_EQ(ReadPlistWithTool(WindowBytes(toolbar)), With(kBarsHidden, {{"ShowToolbar", Flag(false)}}));

    CViewAttributes sidebar = ViewOf("toolbar_width='-3'");
    EXPECT_TRUE(HasWindowSettings(sidebar));
    EXPECT_EQ(ReadNormalizedPlist(WindowBytes(sidebar)),
              With(kBarsHidden, {{"ShowToolbar", Flag(false)},
                                 {"SidebarWidth", Integer(0)},
                                 {"SidebarWidthTenElevenOrLater", Real(0)}}));

    EXPECT_FALSE(HasWindowSettings(ViewOf("icon_size='64' font_size='14' grid='1'")));
}

TEST(IconViewSettings, DefaultsForATypeOnlyView)
{
    std::vector<unsigned char> bytes = IconViewBytes(ViewOf(""), nullptr);
    EXPECT_TRUE(StartsWithMagic(bytes));
    // Eight reals in five objects (equal values share one, as in the Finder's files), all stored
    // as 8-byte doubles although a float would hold each of them exactly.
    EXPECT_EQ(CountMarkers(bytes, 0x23), 5u);
    EXPECT_EQ(CountMarkers(bytes, 0x22), 0u);
    EXPECT_EQ(ReadNormalizedPlist(bytes), IconViewEntries(48, 12, true, "none"));
}

TEST(IconViewSettings, WideningRefusesWhatIsNoBinaryPropertyList)
{
    std::vector<unsigned char> good = IconViewBytes(ViewOf(""), nullptr);
    std::vector<unsigned char> wide = {1};
    std::string error;
    EXPECT_FALSE(WidenBinaryPlistReals(std::vector<unsigned char>(40, 'x'), &wide, &error));
    EXPECT_EQ(error, "Not a binary property list.");
    // An offset table that points past itself.
    std::vector<unsigned char> damaged = good;
    damaged[damaged.size() - 1] = 0xFF;
    EXPECT_FALSE(WidenBinaryPlistReals(damaged, &wide, &error));
    EXPECT_EQ(error, "Damaged binary property list.");
    EXPECT_EQ(wide, std::vector<unsigned char>{1}); // untouched on failure
    // Already wide: the same bytes again.
    ASSERT_TRUE(WidenBinaryPlistReals(good, &wide, &error)) << error;
    EXPECT_EQ(wide, good);
}

TEST(IconViewSettings, AttributesAreCarriedWhole)
{
    // 300 would be 44 in the legacy record's single byte.
    std::vector<unsigned char> bytes =
        IconViewBytes(ViewOf("icon_size='300' font_size='14' grid='true' text_position='RIGHT'"), nullptr);
    EXPECT_EQ(ReadNormalizedPlist(bytes), IconViewEntries(300, 14, false, "grid"));

    CEntries left = ReadNormalizedPlist(IconViewBytes(ViewOf("text_position='left' grid='no'"), nullptr));
    EXPECT_EQ(left["labelOnBottom"], Flag(true));
    EXPECT_EQ(left["arrangeBy"], String("none"));
}

TEST(IconViewSettings, SizesStayWithinTheFindersRange)
{
    auto sizes = [](std::string const& attributes)
    {
        CEntries entries = ReadNormalizedPlist(IconViewBytes(ViewOf(attributes), nullptr));
        return std::make_pair(entries["iconSize"], entries["textSize"]);
    };
    EXPECT_EQ(sizes("icon_size='8' font_size='2'"), std::make_pair(Real(16), Real(10)));
    EXPECT_EQ(sizes("icon_size='1000' font_size='40'"), std::make_pair(Real(512), Real(16)));
    EXPECT_EQ(sizes("icon_size='-48' font_size='-1'"), std::make_pair(Real(16), Real(10)));
    EXPECT_EQ(sizes("icon_size='512' font_size='16'"), std::make_pair(Real(512), Real(16)));
}

TEST(IconViewSettings, GridSpacingIsTheFindersOwn)
{
    CEntries entries = ReadNormalizedPlist(IconViewBytes(ViewOf("grid='yes'"), nullptr));
    EXPECT_EQ(entries["gridSpacing"], Real(100)); // every Finder-written icvp holds 100.0
}

TEST(IconViewSettings, BackgroundIsTheAliasRecordWithoutABookmark)
{
    std::vector<unsigned char> alias;
    for (int index = 0; index < 301; ++index)
        alias.push_back(static_cast<unsigned char>(index * 7));
    CEntries entries = ReadNormalizedPlist(IconViewBytes(ViewOf("icon_size='128'"), &alias));
    EXPECT_EQ(entries, With(IconViewEntries(128, 12, true, "none"),
                            {{"backgroundType", Integer(2)}, {"backgroundImageAlias", Data(alias)}}));
    EXPECT_EQ(entries.count("pBBk"), 0u);
    // Offsets beyond 255 once the reals are wider: the table still names every object.
    std::vector<unsigned char> bytes = IconViewBytes(ViewOf("icon_size='128'"), &alias);
    EXPECT_EQ(CountMarkers(bytes, 0x23), 5u);
    EXPECT_EQ(CountMarkers(bytes, 0x22), 0u);
    EXPECT_EQ(CountMarkers(bytes, 0x4F), 1u); // the alias: data of 15 bytes or more
}

TEST(ModernViewRecords, TypeOnlyViewGetsStyleIconViewAndVersionUnderItsName)
{
    CDesktopDatabase database;
    std::string error;
    ASSERT_TRUE(SetModernViewRecords(ViewOf(""), nullptr, "Sub", &database, &error)) << error;
    auto style = database.records.find(CDesktopDatabase::CDatabaseKey("Sub", kViewStyle));
    ASSERT_NE(style, database.records.end());
    EXPECT_EQ(style->second.type, MakeFourCharCode("type"));
    EXPECT_EQ(static_cast<unsigned int>(style->second.value), MakeFourCharCode("icnv"));
    EXPECT_EQ(ReadNormalizedPlist(BlobOf(database, "Sub", kIconViewSettings)),
              IconViewEntries(48, 12, true, "none"));
    auto version = database.records.find(CDesktopDatabase::CDatabaseKey("Sub", kVersion));
    ASSERT_NE(version, database.records.end());
    EXPECT_EQ(version->second.type, MakeFourCharCode("long"));
    EXPECT_EQ(version->second.value, 1);
    EXPECT_FALSE(HasRecord(database, "Sub", kWindowSettings));
    EXPECT_EQ(database.records.size(), 3u);
}

TEST(ModernViewRecords, WindowAttributesAddTheWindowList)
{
    CDesktopDatabase database;
    std::string error;
    ASSERT_TRUE(SetModernViewRecords(ViewOf("width='640' height='480'"), nullptr, ".", &database, &error))
        << error;
    EXPECT_EQ(ReadPlistWithTool(BlobOf(database, ".", kWindowSettings))["WindowBounds"],
              String("{{0, 392}, {640, 508}}"));
    EXPECT_TRUE(HasRecord(database, ".", kIconViewSettings));
    EXPECT_TRUE(HasRecord(database, ".", kViewStyle));
    EXPECT_TRUE(HasRecord(database, ".", kVersion));
    EXPECT_EQ(database.records.size(), 4u);
}
