#include "pipeline/ViewSettings.h"
#include "support/ImageTestSupport.h"
#include "engine/DiskImageTools.h"

#include <fstream>

namespace
{
struct CViewRun
{
    bool result;
    std::string errors;
};

CViewRun RunView(std::string const& attributes, CDesktopDatabase* database,
                 std::string const& container = "/nowhere")
{
    CConfigSnippet snippet("<view " + attributes + "/>");
    testing::internal::CaptureStderr();
    bool result = ProcessView(snippet.Root(), "Sub", database, container.c_str());
    return {result, testing::internal::GetCapturedStderr()};
}

int ShortOf(CDesktopDatabase const& database, char const* name, unsigned int code)
{
    auto found = database.records.find(CDesktopDatabase::CDatabaseKey(name, code));
    EXPECT_NE(found, database.records.end());
    if (found == database.records.end())
        return -1;
    EXPECT_EQ(found->second.type, MakeFourCharCode("shor"));
    return found->second.value;
}

std::vector<unsigned char> const kIconSpacingBytes = Bytes({0, 0, 0, 0, 0, 0, 0, 0});
std::vector<unsigned char> const kIconGridBytes = Bytes({0, 0, 0, 0, 0, 0, 0, 4});

std::vector<unsigned char> IconOptions(int sizeByte, char const* arrangement, char const* label)
{
    return Concat({Text("icv4"), Bytes({0, sizeByte}), Text(arrangement), Text(label),
                   Bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0})});
}
} // namespace

TEST(ViewSettings, TypeAloneWritesNothing)
{
    CDesktopDatabase database;
    CViewRun run = RunView("type='icon'", &database);
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.errors, "");
    EXPECT_TRUE(database.IsEmpty());
}

TEST(ViewSettings, MissingOrUnknownTypeIsRefusedWithoutRecords)
{
    CDesktopDatabase database;
    CViewRun missing = RunView("x='1' icon_size='64'", &database);
    EXPECT_FALSE(missing.result);
    EXPECT_EQ(missing.errors, "Error: Missing required type attribute in view tag.\n");

    CViewRun capital = RunView("type='Icon' x='1'", &database);
    EXPECT_FALSE(capital.result);
    EXPECT_EQ(capital.errors, "Error: Unknown view type 'Icon'.\n");

    CViewRun list = RunView("type='list' font_size='12'", &database);
    EXPECT_EQ(list.errors, "Error: Unknown view type 'list'.\n");
    EXPECT_TRUE(database.IsEmpty());
}

TEST(ViewSettings, ToolbarAloneWritesZeroRectangleAndCompanions)
{
    CDesktopDatabase database;
    EXPECT_TRUE(RunView("type='icon' show_toolbar='Yes'", &database).result);
    EXPECT_EQ(BlobOf(database, "Sub", kWindow),
              Concat({Bytes({0, 0, 0, 0, 0, 0, 0, 0}), Text("icnv"), Bytes({0, 1, 0, 0})}));
    EXPECT_EQ(BlobOf(database, "Sub", kIconSpacing), kIconSpacingBytes);
    EXPECT_EQ(BlobOf(database, "Sub", kIconGrid), kIconGridBytes);
    EXPECT_EQ(database.records.size(), 3u);
}

TEST(ViewSettings, WindowRectangleFromPositionAndSize)
{
    CDesktopDatabase database;
    EXPECT_TRUE(RunView("type='icon' x='100' y='200' width='400' height='300'", &database).result);
    // top 200, left 100, bottom 500, right 500, toolbar off
    EXPECT_EQ(
        BlobOf(database, "Sub", kWindow),
        Concat({Bytes({0x00, 0xC8, 0x00, 0x64, 0x01, 0xF4, 0x01, 0xF4}), Text("icnv"), Bytes({0, 0, 0, 0})}));
    EXPECT_FALSE(HasRecord(database, "Sub", kIconOptions));
}

TEST(ViewSettings, WindowEdgesKeepTheirLowSixteenBits)
{
    CDesktopDatabase database;
    EXPECT_TRUE(RunView("type='icon' x='30000' width='40000' y='-1' height='-2'", &database).result);
    // right = 70000 mod 65536 = 0x1170; top = -1; bottom = -3
    EXPECT_EQ(
        BlobOf(database, "Sub", kWindow),
        Concat({Bytes({0xFF, 0xFF, 0x75, 0x30, 0xFF, 0xFD, 0x11, 0x70}), Text("icnv"), Bytes({0, 0, 0, 0})}));
}

TEST(ViewSettings, UnparsableWindowValuesCountAsAbsent)
{
    CDesktopDatabase database;
    CViewRun run = RunView("type='icon' x='left' show_toolbar='on'", &database);
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.errors, "Warning: Attribute 'x' has unknown integer value 'left'. Skipping.\n"
                          "Warning: Attribute 'show_toolbar' has unknown boolean value 'on'. Skipping.\n");
    EXPECT_TRUE(database.IsEmpty());
}

TEST(ViewSettings, IconViewOptions)
{
    CDesktopDatabase right;
    EXPECT_TRUE(RunView("type='icon' text_position='Right'", &right).result);
    EXPECT_EQ(BlobOf(right, "Sub", kIconOptions), IconOptions(0x30, "none", "rght"));
    auto flag = right.records.find(CDesktopDatabase::CDatabaseKey("Sub", kIconOptionsFlag));
    ASSERT_NE(flag, right.records.end());
    EXPECT_EQ(flag->second.type, MakeFourCharCode("bool"));
    EXPECT_EQ(flag->second.value, 1);
    EXPECT_FALSE(HasRecord(right, "Sub", kWindow));

    CDesktopDatabase left;
    RunView("type='icon' text_position='left' grid='true' icon_size='128'", &left);
    EXPECT_EQ(BlobOf(left, "Sub", kIconOptions), IconOptions(0x80, "grid", "botm"));

    CDesktopDatabase large;
    RunView("type='icon' icon_size='300'", &large);
    EXPECT_EQ(BlobOf(large, "Sub", kIconOptions), IconOptions(0x2C, "none", "botm"));
}

TEST(ViewSettings, ToolbarWidthAndFontSizeKeepLowSixteenBits)
{
    CDesktopDatabase database;
    EXPECT_TRUE(RunView("type='icon' toolbar_width='70000' font_size='-1'", &database).result);
    EXPECT_EQ(ShortOf(database, "Sub", kToolbarWidth), 70000 - 65536);
    EXPECT_EQ(ShortOf(database, "Sub", kTextSize), 65535);
    EXPECT_EQ(database.records.size(), 2u);
}

TEST(ViewSettings, SecondViewReplacesOnlyTheRecordsItSets)
{
    CDesktopDatabase database;
    RunView("type='icon' x='1' font_size='10' icon_size='32'", &database);
    RunView("type='icon' y='7' font_size='14'", &database);
    EXPECT_EQ(BlobOf(database, "Sub", kWindow),
              Concat({Bytes({0, 7, 0, 0, 0, 7, 0, 0}), Text("icnv"), Bytes({0, 0, 0, 0})}));
    EXPECT_EQ(ShortOf(database, "Sub", kTextSize), 14);
    EXPECT_EQ(BlobOf(database, "Sub", kIconOptions), IconOptions(32, "none", "botm"));
}

// The picture must be on an attached volume for an alias to be made.
TEST(ViewSettings, BackgroundPictureGivesAliasAndDescriptor)
{
    CStandInVolume volume;
    ASSERT_TRUE(volume.attached);
    std::string const& folder = volume.mountPoint;
    std::ofstream(folder + "/back.png") << "picture";
    CDesktopDatabase database;
    CViewRun run = RunView("type='icon' background='back.png'", &database, folder);
    ASSERT_TRUE(run.result) << run.errors;

    CFileRef folderRef, pictureRef;
    std::string reason;
    ASSERT_TRUE(FSPathMakeRef(folder.c_str(), &folderRef, nullptr, &reason)) << reason;
    ASSERT_TRUE(FSPathMakeRef((folder + "/back.png").c_str(), &pictureRef, nullptr, &reason)) << reason;
    CAliasHandle alias;
    ASSERT_TRUE(GetDiskImageTools().FSNewAlias(&folderRef, pictureRef, &alias, &reason)) << reason;
    unsigned int size = GetAliasSize(alias);
    ASSERT_GT(size, 0u);

    EXPECT_EQ(BlobOf(database, "Sub", kPicture),
              std::vector<unsigned char>(alias->bytes.begin(), alias->bytes.begin() + size));
    EXPECT_EQ(
        BlobOf(database, "Sub", kBackground),
        Concat({Text("PctB"),
                Bytes({int(size >> 24), int((size >> 16) & 0xFF), int((size >> 8) & 0xFF), int(size & 0xFF)}),
                Bytes({0, 0, 0, 0xB4})}));
}

// Each failure of the background step is reported; the records set before it stay.
TEST(ViewSettings, BackgroundFailuresKeepEarlierRecords)
{
    CTempFolder folder;
    std::ofstream(folder.path + "/back.png") << "picture"; // not on an attached volume
    std::string const hint = "'. Make sure the view line appears after the file is copied to the image.\n";
    struct CCase
    {
        std::string container, background, error;
    } const cases[] = {
        {folder.path + "/gone", "back.png",
         "Error: Unable to link to current path '" + folder.path + "/gone'. This is odd.\n"},
        {folder.path, "images/back.png",
         "Error: Unable to link to image '" + folder.path + "/images/back.png" + hint},
        {folder.path, "back.png",
         "Error: Unable to create alias to image '" + folder.path + "/back.png" + hint},
    };
    for (CCase const& item : cases)
    {
        CDesktopDatabase database;
        CViewRun run = RunView("type='icon' font_size='12' background='" + item.background + "'", &database,
                               item.container);
        EXPECT_FALSE(run.result);
        EXPECT_EQ(run.errors, item.error);
        EXPECT_EQ(ShortOf(database, "Sub", kTextSize), 12);
        EXPECT_EQ(database.records.size(), 1u);
    }
}

TEST(ViewSettings, BackgroundOutsideTheFolderIsRefusedBeforeAnyRecord)
{
    CTempFolder folder;
    std::ofstream(folder.path + "/back.png") << "picture";
    for (char const* value : {"../back.png", "/etc/passwd", "", "a/../../b"})
    {
        CDesktopDatabase database;
        CViewRun run =
            RunView(std::string("type='icon' x='5' background='") + value + "'", &database, folder.path);
        EXPECT_FALSE(run.result) << value;
        EXPECT_EQ(run.errors, std::string("Error: 'view' tag attribute 'background' value '") + value +
                                  "' is not a relative path inside the folder.\n");
        EXPECT_TRUE(database.IsEmpty()) << value;
    }
}

TEST(ItemView, PositionRecordLayout)
{
    CConfigSnippet snippet("<folder><file name='A' x='10'/><file name='B' x='-10' y='70000'/>"
                           "<file name='C' x='ten'/><file name='D'/></folder>");
    CDesktopDatabase database;
    testing::internal::CaptureStderr();
    for (size_t index = 0; index < 4; ++index)
        EXPECT_TRUE(ProcessItemView(snippet.Child(index), &database));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Warning: Attribute 'x' has unknown integer value 'ten'. Skipping.\n");

    EXPECT_EQ(BlobOf(database, "A", kLocation),
              Bytes({0, 0, 0, 0x0A, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0}));
    EXPECT_EQ(BlobOf(database, "B", kLocation),
              Bytes({0xFF, 0xFF, 0xFF, 0xF6, 0, 1, 0x11, 0x70, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0}));
    EXPECT_EQ(database.records.size(), 2u);
}

TEST(ItemView, ItemWithoutUsableNameFailsSilently)
{
    CConfigSnippet snippet("<folder><file x='1'/><file name='..' x='1'/><link name='a/b' y='2'/></folder>");
    CDesktopDatabase database;
    testing::internal::CaptureStderr();
    for (size_t index = 0; index < 3; ++index)
        EXPECT_FALSE(ProcessItemView(snippet.Child(index), &database));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(database.IsEmpty());
}
