// What the user is told about the installer's looks: a volume icon that can't be read, a colour
// that isn't one, a picture and a colour together, a double-size picture of the wrong size, and
// Finder flags that can't be set.
#include "support/ImageTestSupport.h"
#include "pipeline/ContainerContent.h"
#include "pipeline/ImagePipeline.h"
#include "pipeline/ViewSettings.h"

#include <algorithm>
#include <fstream>

namespace
{
struct CRun
{
    bool result;
    std::string errors;
};

CRun RunView(std::string const& attributes, CDesktopDatabase* database, std::string const& container)
{
    CConfigSnippet snippet("<view " + attributes + "/>");
    testing::internal::CaptureStderr();
    bool result = ProcessView(snippet.Root(), ".", database, container.c_str(), EFinderRecordSet::Both);
    return {result, testing::internal::GetCapturedStderr()};
}

bool Holds(std::vector<unsigned char> const& bytes, std::string const& text)
{
    return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
}
} // namespace

TEST(AppearanceMessages, UnreadableVolumeIconStopsTheImageBeforeAnyCommand)
{
    CFakeRunner runner;
    CConfigSnippet snippet("<image icon='/no/such/Disk.icns'/>");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(ProcessImage(snippet.Root(), "/out/Disk.dmg", "Vol", "", 20));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error: Unable to read the volume icon '/no/such/Disk.icns': No such file or directory.\n");
    EXPECT_TRUE(runner.commands.empty());
}

TEST(AppearanceMessages, VolumeIconThatIsNoIconFamilyIsCopiedWithAWarning)
{
    CTemporaryDirectoryScope temporary;
    CTempFolder work;
    std::ofstream(work.path + "/icon.png") << "\x89PNG";
    CFakeRunner runner;
    CConfigSnippet snippet("<image icon='" + work.path + "/icon.png'/>");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_TRUE(ProcessImage(snippet.Root(), "/out/Disk.dmg", "Vol", "", 20));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Warning: The volume icon '" + work.path +
                  "/icon.png' is not an .icns file; the Finder will not "
                  "show it.\n");
    auto copy = std::find_if(runner.commands.begin(), runner.commands.end(),
                             [](std::string const& text) { return text.rfind("cp ", 0) == 0; });
    ASSERT_NE(copy, runner.commands.end());
    EXPECT_NE(copy->find("/.VolumeIcon.icns\""), std::string::npos) << *copy;
    ASSERT_NE(copy + 1, runner.commands.end());
    EXPECT_EQ((copy + 1)->rfind("xattr -s -x -w com.apple.FinderInfo 00000000000000000400", 0), 0u)
        << copy[1];
}

TEST(AppearanceMessages, MalformedColourIsRefusedBeforeAnyRecord)
{
    for (char const* colour : {"#12345", "#1234567", "123456", "#12345G", "red", ""})
    {
        CDesktopDatabase database;
        CRun run = RunView(std::string("type='icon' x='5' background_color='") + colour + "'", &database,
                           "/nowhere");
        EXPECT_FALSE(run.result) << colour;
        EXPECT_EQ(run.errors, std::string("Error: 'view' tag attribute 'background_color' value '") + colour +
                                  "' is not a colour of the form #RRGGBB.\n");
        EXPECT_TRUE(database.IsEmpty()) << colour;
    }
    CDesktopDatabase database;
    EXPECT_TRUE(RunView("type='icon' background_color='#a0B1c2'", &database, "/nowhere").result);
    EXPECT_EQ(BlobOf(database, ".", MakeFourCharCode("BKGD")),
              Concat({Text("ClrB"), Bytes({0xA0, 0xA0, 0xB1, 0xB1, 0xC2, 0xC2, 0, 0})}));
}

TEST(AppearanceMessages, PictureWinsOverColourAndMismatchedDoubleIsNotUsed)
{
    CStandInVolume volume;
    ASSERT_TRUE(volume.attached);
    WritePng(volume.mountPoint + "/back.png", 40, 30);
    WritePng(volume.mountPoint + "/back@2x.png", 81, 60);

    CDesktopDatabase database;
    testing::internal::CaptureStdout();
    CRun run =
        RunView("type='icon' background='back.png' background_color='#000000'", &database, volume.mountPoint);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), ""); // no TIFF is made
    EXPECT_TRUE(run.result) << run.errors;
    EXPECT_EQ(run.errors,
              "Warning: The view has both a background picture and a background colour; the colour '#000000' "
              "is not used.\n"
              "Warning: The picture '" +
                  volume.mountPoint + "/back@2x.png' (81x60) is not twice the size of '" + volume.mountPoint +
                  "/back.png' (40x30); it is not used.\n");
    EXPECT_FALSE(std::filesystem::exists(volume.mountPoint + "/back.tiff"));
    EXPECT_EQ(BlobOf(database, ".", MakeFourCharCode("BKGD")).size(), 12u);
    EXPECT_TRUE(Holds(BlobOf(database, ".", MakeFourCharCode("BKGD")), "PctB"));
    EXPECT_TRUE(Holds(BlobOf(database, ".", MakeFourCharCode("pict")), "back.png"));
}

TEST(AppearanceMessages, FinderFlagsThatCannotBeSetFailTheItem)
{
    CFakeRunner runner;
    runner.FailWhen("xattr ");
    CConfigSnippet snippet("<file source='a' name='A.app' hide_extension='true'/>");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(ProcessFile(snippet.Root(), "/vol"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error: Unable to set the Finder flags of '/vol/A.app'.\n");
    ASSERT_EQ(runner.commands.size(), 2u);
    EXPECT_EQ(runner.commands[1], "xattr -s -x -w com.apple.FinderInfo "
                                  "0000000000000000001000000000000000000000000000000000000000000000 "
                                  "\"/vol/A.app\"");
}
