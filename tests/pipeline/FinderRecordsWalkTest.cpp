// The record set chosen on the image reaches every view of every folder, and the legacy choice
// leaves the written desktop databases exactly as they were.
#include "support/ImageTestSupport.h"
#include "support/FsckHfs.h"
#include "support/PlistReading.h"
#include "pipeline/ContainerContent.h"
#include "pipeline/ImagePipeline.h"
#include "pipeline/ViewSettings.h"
#include "support/ConfigSchema.h"

#include <fstream>
#include <sstream>

namespace
{
using CEntries = std::map<std::string, CPlistEntry>;

// Every code that only the legacy set writes.
std::vector<unsigned int> const kLegacyCodes = {MakeFourCharCode("fwi0"),
                                                MakeFourCharCode("icsp"),
                                                MakeFourCharCode("icgo"),
                                                MakeFourCharCode("icvo"),
                                                MakeFourCharCode("ICVO"),
                                                MakeFourCharCode("fwsw"),
                                                MakeFourCharCode("icvt"),
                                                kPicture,
                                                kBackground};

struct CWalk
{
    bool result;
    std::string errors;
};

CWalk Walk(std::string const& xml, std::string const& containerPath, EFinderRecordSet recordSet)
{
    CConfigSnippet snippet(xml);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    bool result = ProcessContainer(snippet.Root(), containerPath.c_str(), nullptr, nullptr, recordSet);
    std::string errors = testing::internal::GetCapturedStderr();
    testing::internal::GetCapturedStdout();
    return {result, errors};
}

std::unique_ptr<CDesktopDatabase> ReadStore(std::string const& folder)
{
    auto database = std::make_unique<CDesktopDatabase>();
    database->ReadFromDisk((folder + "/.DS_Store").c_str());
    return database;
}

bool HasAnyLegacyRecord(CDesktopDatabase const& database, char const* name)
{
    for (unsigned int code : kLegacyCodes)
    {
        if (HasRecord(database, name, code))
            return true;
    }
    return false;
}

// The view style, the icon view settings and, beside them under the same name, the version.
bool HasModernViewRecords(CDesktopDatabase const& database, char const* name)
{
    return HasRecord(database, name, kViewStyle) && HasRecord(database, name, kIconViewSettings) &&
           HasRecord(database, name, kVersion);
}

std::string const kNestedViews =
    "<image><view type='icon' x='10' y='20' width='640' height='480' icon_size='96'/>"
    "<folder name='Outer' x='5' y='6'><view type='icon' font_size='14' grid='1'/>"
    "<folder name='Inner'><view type='icon'/></folder>"
    "<folder name='Plain'><folder name='Deep' x='1'/></folder></folder></image>";
} // namespace

TEST(FinderRecordsWalk, ModernRecordsReachEveryFolderWithVersionWhereTheyAre)
{
    CTempFolder volume;
    CWalk walk = Walk(kNestedViews, volume.path, EFinderRecordSet::Modern);
    ASSERT_TRUE(walk.result) << walk.errors;
    EXPECT_EQ(walk.errors, "");

    auto root = ReadStore(volume.path);
    EXPECT_TRUE(HasModernViewRecords(*root, "."));
    EXPECT_TRUE(HasRecord(*root, ".", kWindowSettings));
    EXPECT_TRUE(HasModernViewRecords(*root, "Outer"));
    EXPECT_FALSE(HasRecord(*root, "Outer", kWindowSettings));
    EXPECT_FALSE(HasAnyLegacyRecord(*root, "."));
    EXPECT_FALSE(HasAnyLegacyRecord(*root, "Outer"));
    CEntries rootView = ReadNormalizedPlist(BlobOf(*root, ".", kIconViewSettings));
    EXPECT_EQ(rootView["iconSize"], Real(96));
    CEntries outerView = ReadNormalizedPlist(BlobOf(*root, "Outer", kIconViewSettings));
    EXPECT_EQ(outerView["textSize"], Real(14));
    EXPECT_EQ(outerView["arrangeBy"], String("grid"));

    auto outer = ReadStore(volume.path + "/Outer");
    EXPECT_TRUE(HasModernViewRecords(*outer, "Inner"));
    // The sub-folder's version goes with its view, not under the parent's ".".
    EXPECT_FALSE(HasRecord(*outer, ".", kVersion));
    EXPECT_EQ(outer->records.size(), 4u); // Inner's icvl, icvp, vSrn; QRVL

    // Icon positions alone are no modern records.
    auto plain = ReadStore(volume.path + "/Outer/Plain");
    EXPECT_FALSE(HasRecord(*plain, ".", kVersion));
    EXPECT_TRUE(HasRecord(*plain, ".", kMarker));
    EXPECT_EQ(plain->records.size(), 2u); // Deep's Iloc, QRVL
    EXPECT_FALSE(std::filesystem::exists(volume.path + "/Outer/Inner/.DS_Store"));
}

TEST(FinderRecordsWalk, BothHoldsTheLegacyRecordsUnchangedBesideTheModernOnes)
{
    CTempFolder legacyVolume, bothVolume;
    ASSERT_TRUE(Walk(kNestedViews, legacyVolume.path, EFinderRecordSet::Legacy).result);
    ASSERT_TRUE(Walk(kNestedViews, bothVolume.path, EFinderRecordSet::Both).result);

    // A view with only its type gives no legacy record, so Outer has no legacy database at all.
    EXPECT_FALSE(std::filesystem::exists(legacyVolume.path + "/Outer/.DS_Store"));
    for (char const* folder : {"", "/Outer", "/Outer/Plain"})
    {
        auto legacy = std::filesystem::exists(legacyVolume.path + folder + "/.DS_Store")
                          ? ReadStore(legacyVolume.path + folder)
                          : std::make_unique<CDesktopDatabase>();
        auto both = ReadStore(bothVolume.path + folder);
        for (auto const& [key, value] : legacy->records)
        {
            auto found = both->records.find(key);
            ASSERT_NE(found, both->records.end()) << folder;
            EXPECT_EQ(found->second.type, value.type);
            EXPECT_EQ(found->second.value, value.value);
            EXPECT_EQ(std::vector<unsigned char>(found->second.data, found->second.data + found->second.size),
                      std::vector<unsigned char>(value.data, value.data + value.size));
        }
        bool modern = HasRecord(*both, ".", kVersion) || HasRecord(*both, "Outer", kVersion) ||
                      HasRecord(*both, "Inner", kVersion);
        EXPECT_EQ(modern, std::string(folder) != "/Outer/Plain") << folder;
        EXPECT_FALSE(HasRecord(*legacy, ".", kVersion)) << folder;
    }
    auto root = ReadStore(bothVolume.path);
    EXPECT_TRUE(HasModernViewRecords(*root, "."));
    EXPECT_TRUE(HasModernViewRecords(*root, "Outer"));
    // 480 points of content under a 28-point title bar: 900 - (20 + 508) = 372.
    EXPECT_EQ(ReadPlistWithTool(BlobOf(*root, ".", kWindowSettings))["WindowBounds"],
              String("{{10, 372}, {640, 508}}"));
}

TEST(FinderRecordsWalk, ModernWithoutViewsWritesWhatLegacyWrites)
{
    CTempFolder legacyVolume, modernVolume;
    std::string const xml = "<image><folder name='A' x='1' y='2'><folder name='B' x='3'/></folder></image>";
    ASSERT_TRUE(Walk(xml, legacyVolume.path, EFinderRecordSet::Legacy).result);
    ASSERT_TRUE(Walk(xml, modernVolume.path, EFinderRecordSet::Modern).result);
    for (char const* folder : {"", "/A"})
        EXPECT_EQ(ReadWholeFile(modernVolume.path + folder + "/.DS_Store"),
                  ReadWholeFile(legacyVolume.path + folder + "/.DS_Store"));
}

// The same alias record goes into "pict" and into the icon view list.
TEST(FinderRecordsWalk, BackgroundAliasIsSharedByBothSets)
{
    CStandInVolume volume;
    ASSERT_TRUE(volume.attached);
    CTempFolder source;
    std::ofstream(source.path + "/back.png") << "picture";
    CWalk walk =
        Walk("<image><folder name='Sub'><file source='" + source.path +
                 "/back.png' name='back.png'/><view type='icon' background='back.png'/></folder></image>",
             volume.mountPoint, EFinderRecordSet::Both);
    ASSERT_TRUE(walk.result) << walk.errors;
    auto root = ReadStore(volume.mountPoint);
    std::vector<unsigned char> alias = BlobOf(*root, "Sub", kPicture);
    ASSERT_FALSE(alias.empty());
    CEntries entries = ReadNormalizedPlist(BlobOf(*root, "Sub", kIconViewSettings));
    EXPECT_EQ(entries["backgroundType"], Integer(2));
    EXPECT_EQ(entries["backgroundImageAlias"], Data(alias));
    EXPECT_EQ(entries.count("pBBk"), 0u);
}

TEST(FinderRecordsWalk, ModernBackgroundWithoutAliasKeepsTheSettingsWithoutPicture)
{
    CTempFolder folder;
    CConfigSnippet snippet("<view type='icon' icon_size='80' background='missing.png'/>");
    CDesktopDatabase database;
    testing::internal::CaptureStderr();
    bool result =
        ProcessView(snippet.Root(), "Sub", &database, folder.path.c_str(), EFinderRecordSet::Modern);
    std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(result);
    EXPECT_EQ(errors,
              "Error: Unable to link to image '" + folder.path +
                  "/missing.png'. Make sure the view line appears after the file is copied to the image.\n");
    CEntries entries = ReadNormalizedPlist(BlobOf(database, "Sub", kIconViewSettings));
    EXPECT_EQ(entries["iconSize"], Real(80));
    EXPECT_EQ(entries["backgroundType"], Integer(0));
    EXPECT_EQ(entries.count("backgroundImageAlias"), 0u);
    EXPECT_FALSE(HasAnyLegacyRecord(database, "Sub"));
}

TEST(FinderRecordsWalk, RefusedViewWritesNoModernRecords)
{
    CDesktopDatabase database;
    CConfigSnippet snippet(
        "<folder><view type='list' x='1'/><view x='1'/><view type='icon' background='../x'/>"
        "</folder>");
    testing::internal::CaptureStderr();
    for (size_t index = 0; index < 3; ++index)
        EXPECT_FALSE(ProcessView(snippet.Child(index), "Sub", &database, "/nowhere", EFinderRecordSet::Both));
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(database.IsEmpty());
}

TEST(FinderRecordsWalk, UnparsableValueWarnsOnceWithBothSets)
{
    CDesktopDatabase database;
    CConfigSnippet snippet("<view type='icon' x='left' icon_size='big' font_size='12'/>");
    testing::internal::CaptureStderr();
    EXPECT_TRUE(ProcessView(snippet.Root(), "Sub", &database, "/nowhere", EFinderRecordSet::Both));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Warning: Attribute 'x' has unknown integer value 'left'. Skipping.\n"
              "Warning: Attribute 'icon_size' has unknown integer value 'big'. Skipping.\n");
}

// Through the whole pipeline, with the databases copied away just before the volume goes.
class FinderRecordsImage : public testing::Test
{
protected:
    // The root's and Apps' desktop databases as the image would hold them.
    std::pair<std::string, std::string> Build(std::string const& imageAttributes)
    {
        CFakeRunner runner;
        std::string mountPoint;
        std::pair<std::string, std::string> stores;
        runner.onCommand = [&](std::string const& text)
        {
            if (!MountPointOf(text).empty())
                mountPoint = MountPointOf(text);
            if (text.rfind("mkdir ", 0) == 0)
                std::filesystem::create_directory(mountPoint + "/Apps");
            if (text.rfind("hdiutil detach ", 0) == 0)
                stores = {ReadWholeFile(mountPoint + "/.DS_Store"),
                          ReadWholeFile(mountPoint + "/Apps/.DS_Store")};
        };
        CConfigSnippet snippet(
            "<image " + imageAttributes +
            "><view type='icon' x='100' y='50' width='500' height='300' show_toolbar='1' "
            "grid='1' icon_size='300' text_position='right' toolbar_width='120' font_size='13'/>"
            "<folder name='Apps' x='40' y='50'><view type='icon'/>"
            "<folder name='Tools'><view type='icon' x='2'/></folder></folder></image>");
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        result = ProcessImage(snippet.Root(), "/out/Disk.dmg", "Kiln Vol", "", 20);
        errors = testing::internal::GetCapturedStderr();
        testing::internal::GetCapturedStdout();
        return stores;
    }

    CTemporaryDirectoryScope temporaryScope;
    CTempFolder& temporary = temporaryScope.folder;
    bool result = false;
    std::string errors;
};

TEST_F(FinderRecordsImage, LegacyAndUnknownValuesGiveTheBytesOfNoAttribute)
{
    auto plain = Build("");
    ASSERT_TRUE(result) << errors;
    ASSERT_FALSE(plain.first.empty());
    ASSERT_FALSE(plain.second.empty());
    EXPECT_EQ(errors, "");

    EXPECT_EQ(Build("finder_records='legacy'"), plain);
    EXPECT_EQ(errors, "");

    EXPECT_EQ(Build("finder_records='newest'"), plain);
    EXPECT_TRUE(result);
    EXPECT_EQ(errors, "Warning: 'image' tag attribute 'finder_records' has unknown value 'newest'. Using "
                      "'legacy'.\n");

    EXPECT_NE(Build("finder_records='both'"), plain);
}

TEST_F(FinderRecordsImage, BothReachesTheNestedFolders)
{
    auto stores = Build("finder_records='both'");
    ASSERT_TRUE(result) << errors;
    CDesktopDatabase root, apps;
    std::istringstream rootBytes(stores.first), appsBytes(stores.second);
    root.ReadFromStream(rootBytes);
    apps.ReadFromStream(appsBytes);

    EXPECT_TRUE(HasRecord(root, ".", MakeFourCharCode("fwi0")));
    EXPECT_TRUE(HasRecord(root, ".", kVersion));
    EXPECT_EQ(ReadNormalizedPlist(BlobOf(root, ".", kWindowSettings)),
              (CEntries{{"WindowBounds", String("{{100, 498}, {500, 352}}")},
                        {"ShowToolbar", Flag(true)},
                        {"ShowStatusBar", Flag(false)},
                        {"ShowPathbar", Flag(false)},
                        {"ShowSidebar", Flag(false)},
                        {"ShowTabView", Flag(false)},
                        {"ContainerShowSidebar", Flag(false)},
                        {"PreviewPaneVisibility", Flag(false)},
                        {"SidebarWidth", Integer(120)},
                        {"SidebarWidthTenElevenOrLater", Real(120)}}));
    EXPECT_EQ(ReadNormalizedPlist(BlobOf(root, ".", kIconViewSettings)),
              (CEntries{{"viewOptionsVersion", Integer(1)},
                        {"iconSize", Real(300)},
                        {"textSize", Real(13)},
                        {"labelOnBottom", Flag(false)},
                        {"arrangeBy", String("grid")},
                        {"gridSpacing", Real(100)},
                        {"gridOffsetX", Real(0)},
                        {"gridOffsetY", Real(0)},
                        {"showIconPreview", Flag(true)},
                        {"showItemInfo", Flag(false)},
                        {"backgroundColorRed", Real(1)},
                        {"backgroundColorGreen", Real(1)},
                        {"backgroundColorBlue", Real(1)},
                        {"backgroundType", Integer(0)}}));
    EXPECT_TRUE(HasModernViewRecords(root, "Apps"));
    EXPECT_TRUE(HasModernViewRecords(apps, "Tools"));
    EXPECT_TRUE(HasRecord(apps, "Tools", MakeFourCharCode("fwi0")));
}

// A real image built by the program with both sets, read back with 7-Zip.
TEST(FinderRecordsEndToEnd, ImageWithBothSetsHoldsReadablePropertyLists)
{
    CTempFolder work;
    std::filesystem::create_directories(work.path + "/tmp");
    std::ofstream(work.path + "/back.png", std::ios::binary) << "\x89PNG\r\n\x1a\nnot really a picture";
    std::string image = work.path + "/Out.dmg";
    std::ofstream(work.path + "/config.xml")
        << "<?xml version='1.0'?>\n<kilnpack version='0.1'>\n"
        << "<image file='" << image << "' name='Kiln Test' template_size='16' finder_records='both'>\n"
        << "  <file source='back.png' name='back.png' x='10' y='20'/>\n"
        << "  <view type='icon' x='100' y='200' width='400' height='300' icon_size='128' "
           "background='back.png'/>\n"
        << "  <folder name='Apps'><view type='icon' text_position='right'/></folder>\n"
        << "</image>\n</kilnpack>\n";
    ExpectValidConfiguration(work.path + "/config.xml");
    std::string shell = "cd " + QuoteArgument(work.path) + " && TMPDIR=" + QuoteArgument(work.path + "/tmp") +
                        " " + KILNPACK_BINARY + " config.xml > build.out 2> build.err && 7zz x -y -o" +
                        QuoteArgument(work.path + "/out") + " " + QuoteArgument(image) + " > /dev/null 2>&1";
    ASSERT_EQ(RunShell(shell), 0) << ReadWholeFile(work.path + "/build.err");
    ExpectDmgVolumeSound(image);

    auto root = ReadStore(work.path + "/out/Kiln Test");
    EXPECT_TRUE(HasRecord(*root, ".", MakeFourCharCode("fwi0")));
    EXPECT_TRUE(HasRecord(*root, ".", kVersion));
    EXPECT_TRUE(HasModernViewRecords(*root, "Apps"));
    CEntries window = ReadPlistWithTool(BlobOf(*root, ".", kWindowSettings));
    EXPECT_EQ(window["WindowBounds"], String("{{100, 372}, {400, 328}}"));
    CEntries iconView = ReadNormalizedPlist(BlobOf(*root, ".", kIconViewSettings));
    EXPECT_EQ(iconView["iconSize"], Real(128));
    EXPECT_EQ(iconView["backgroundType"], Integer(2));
    EXPECT_EQ(iconView["backgroundImageAlias"], Data(BlobOf(*root, ".", kPicture)));
    EXPECT_EQ(ReadNormalizedPlist(BlobOf(*root, "Apps", kIconViewSettings))["labelOnBottom"], Flag(false));
}
