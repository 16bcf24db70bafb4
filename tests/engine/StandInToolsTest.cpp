// The stand-in hdiutil, bless, xattr, tiffutil and alias manager end to end, with the results read by
// independent tools: sgdisk, fshfsinfo, 7-Zip and dmg2img.
#include "hfsplus/HfsVolume.h"
#include "io/MacTime.h"
#include "engine/builtin/BuiltinDiskImageTools.h"

#include "support/PlatformTestSupport.h"
#include "support/FsckHfs.h"
#include "support/FileBytes.h"
#include "support/TempFolder.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
constexpr char kVolumeOffset[] = "20480"; // the partition starts at sector 40

struct CToolResult
{
    int status = -1;
    std::string out;
    std::string err;
};

// The operation a tool's words name, as the image builder names it.
EToolOperation FindOperation(std::vector<std::string> const& argv)
{
    std::string const tool = argv.empty() ? std::string() : argv[0];
    std::string const verb = argv.size() > 1 ? argv[1] : std::string();
    if (tool == "bless")
        return EToolOperation::BlessOpenFolder;
    if (tool == "xattr")
        return EToolOperation::SetFinderInfo;
    if (tool == "tiffutil")
        return EToolOperation::JoinRetinaPictures;
    if (verb == "attach")
        return EToolOperation::AttachImage;
    if (verb == "detach")
        return EToolOperation::DetachImage;
    if (verb == "convert")
        return EToolOperation::ConvertImage;
    if (verb == "resize")
        return EToolOperation::ResizeImage;
    return EToolOperation::CreateSparseImage; // also a bare "hdiutil", which create refuses
}

// Runs a stand-in of `tools` with the words given, capturing what it prints.
CToolResult RunTool(CBuiltinDiskImageTools* tools, std::vector<std::string> const& argv)
{
    CToolResult result;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    result.status = tools->RunStandIn(FindOperation(argv), argv);
    std::fflush(stdout);
    std::fflush(stderr);
    result.out = testing::internal::GetCapturedStdout();
    result.err = testing::internal::GetCapturedStderr();
    return result;
}

uint32_t ReadBigEndian32(std::string const& bytes, size_t at)
{
    return (uint32_t(uint8_t(bytes[at])) << 24) | (uint32_t(uint8_t(bytes[at + 1])) << 16) |
           (uint32_t(uint8_t(bytes[at + 2])) << 8) | uint8_t(bytes[at + 3]);
}

// The catalog node ID fshfsinfo reports for a path on the volume; 0 if it finds none.
uint32_t LookUpCatalogId(std::string const& image, std::string const& path)
{
    std::string output;
    if (RunCapturing(std::string("fshfsinfo -o ") + kVolumeOffset + " -F '" + path + "' '" + image + "'",
                     &output) != 0)
        return 0;
    size_t at = output.find("Identifier");
    if (at == std::string::npos)
        return 0;
    at = output.find(':', at);
    return at == std::string::npos
               ? 0
               : static_cast<uint32_t>(std::strtoul(output.c_str() + at + 1, nullptr, 10));
}

class StandInToolsTest : public testing::Test
{
protected:
    void SetUp() override
    {
        dir = folder.path;
        image = dir + "/work.sparseimage";
        mount = dir + "/mnt.test";
    }
    void TearDown() override
    {
        // Leave nothing attached for the next test.
        if (std::filesystem::exists(mount))
            RunTool({"hdiutil", "detach", mount, "-force"});
    }

    CToolResult RunTool(std::vector<std::string> const& argv) { return ::RunTool(&tools, argv); }

    CToolResult Create(std::string const& size, std::string const& name = "Kiln Test")
    {
        return RunTool(
            {"hdiutil", "create", "-type", "SPARSE", "-fs", "HFS+", "-volname", name, "-size", size, image});
    }
    CToolResult Attach()
    {
        return RunTool({"hdiutil", "attach", image, "-noverify", "-noautoopen", "-mountpoint", mount});
    }

    CBuiltinDiskImageTools tools;
    CTempFolder folder;
    std::string dir;
    std::string image;
    std::string mount;
};
} // namespace

TEST_F(StandInToolsTest, CreateWritesASparseDiskWithTheNamedVolume)
{
    CToolResult created = Create("64m");
    ASSERT_EQ(created.status, 0) << created.err;
    EXPECT_EQ(created.out, "created: " + image + "\n");
    struct stat info;
    ASSERT_EQ(stat(image.c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 64 << 20);
    EXPECT_LT(info.st_blocks * 512, 8 << 20); // sparse: only the metadata is stored
    EXPECT_EQ(ListFolder(dir), std::vector<std::string>{"work.sparseimage"});

    std::string output;
    EXPECT_EQ(RunCapturing("sgdisk -v " + image, &output), 0) << output;
    EXPECT_NE(output.find("No problems found"), std::string::npos) << output;
    EXPECT_EQ(RunCapturing(std::string("fshfsinfo -o ") + kVolumeOffset + " " + image, &output), 0) << output;
    EXPECT_NE(output.find("Kiln Test"), std::string::npos) << output;
    ExpectDiskVolumeSound(image);
}

TEST_F(StandInToolsTest, CreateRefusesSizesThatHoldNoVolume)
{
    for (char const* size : {"0m", "-5m", "1k", "ten"})
    {
        CToolResult created = Create(size);
        EXPECT_NE(created.status, 0) << size;
        EXPECT_NE(created.err.find("hdiutil: create failed - "), std::string::npos) << created.err;
        EXPECT_NE(created.err.find(size), std::string::npos) << created.err;
    }
    EXPECT_TRUE(ListFolder(dir).empty()); // nothing left behind
}

TEST_F(StandInToolsTest, CreateLeavesAnExistingFileAlone)
{
    WriteWholeFile(image, "precious");
    CToolResult created = Create("10m");
    EXPECT_NE(created.status, 0);
    EXPECT_EQ(created.err, "hdiutil: create failed - File exists\n");
    EXPECT_EQ(ReadWholeFile(image), "precious");
    EXPECT_EQ(ListFolder(dir), std::vector<std::string>{"work.sparseimage"});
}

TEST_F(StandInToolsTest, UnknownFormsAreRefusedWithAMessage)
{
    std::vector<std::vector<std::string>> forms = {
        {"hdiutil"},
        {"hdiutil", "resize", image},
        {"hdiutil", "create", "-type", "UDIF", "-fs", "HFS+", "-size", "10m", image},
        {"hdiutil", "create", "-type", "SPARSE", "-fs", "FAT32", "-size", "10m", image},
        {"hdiutil", "create", "-type", "SPARSE", "-fs", "HFS+", "-size", "10m", "-srcfolder", dir, image},
        {"hdiutil", "attach", image, "-readonly", "-mountpoint", mount},
        {"hdiutil", "detach"},
        {"hdiutil", "convert", image, "-format", "UDBZ", "-o", dir + "/out.dmg"},
        {"hdiutil", "convert", image, "-format", "UDZO", "-imagekey", "zlib-level=0", "-o", dir + "/out.dmg"},
        {"bless", "--folder", dir},
        {"bless", dir},
    };
    for (auto const& form : forms)
    {
        CToolResult result = RunTool(form);
        EXPECT_NE(result.status, 0) << form.size();
        EXPECT_FALSE(result.err.empty()) << form.size();
        EXPECT_TRUE(result.out.empty()) << result.out;
    }
    EXPECT_TRUE(ListFolder(dir).empty());
}

TEST_F(StandInToolsTest, AttachWantsAnEmptyFolderAndADiskFromCreate)
{
    WriteWholeFile(image, std::string(1 << 20, 'x'));
    CToolResult attached = Attach();
    EXPECT_NE(attached.status, 0);
    EXPECT_NE(attached.err.find("hdiutil: attach failed - "), std::string::npos) << attached.err;
    EXPECT_FALSE(std::filesystem::exists(mount));

    std::filesystem::remove(image);
    ASSERT_EQ(Create("10m").status, 0);
    std::filesystem::create_directory(mount);
    WriteWholeFile(mount + "/keep.txt", "mine");
    attached = Attach();
    EXPECT_NE(attached.status, 0);
    EXPECT_NE(attached.err.find("not empty"), std::string::npos) << attached.err;
    EXPECT_EQ(ReadWholeFile(mount + "/keep.txt"), "mine");

    std::filesystem::remove_all(mount);
    attached = Attach(); // an absent folder is made
    EXPECT_EQ(attached.status, 0) << attached.err;
    EXPECT_TRUE(std::filesystem::is_directory(mount));
    EXPECT_NE(Attach().status, 0); // already attached
}

TEST_F(StandInToolsTest, FilledVolumeSurvivesDetachAndConvert)
{
    ASSERT_EQ(Create("32m").status, 0);
    ASSERT_EQ(Attach().status, 0);
    std::mt19937 random(7);
    std::string noise(3 << 20, '\0');
    for (char& c : noise)
        c = static_cast<char>(random());
    std::filesystem::create_directories(mount + "/Folder/Inner");
    std::filesystem::create_directories(mount + "/.background");
    WriteWholeFile(mount + "/Folder/noise.bin", noise);
    WriteWholeFile(mount + "/Folder/Inner/read me.txt", "hello\n");
    WriteWholeFile(mount + "/empty", "");
    WriteWholeFile(mount + "/.background/bg.png", "\x89PNG picture");
    std::filesystem::create_symlink("Folder/Inner/read me.txt", mount + "/link");

    CFileRef folderRef, pictureRef;
    std::string reason;
    bool isDirectory = false;
    ASSERT_TRUE(FSPathMakeRef(mount.c_str(), &folderRef, &isDirectory, &reason)) << reason;
    EXPECT_TRUE(isDirectory);
    ASSERT_TRUE(FSPathMakeRef((mount + "/.background/bg.png").c_str(), &pictureRef, nullptr, &reason))
        << reason;
    CAliasHandle alias;
    ASSERT_TRUE(tools.FSNewAlias(&folderRef, pictureRef, &alias, &reason)) << reason;
    std::string record(alias->bytes.begin(), alias->bytes.end());
    ASSERT_EQ(GetAliasSize(alias), record.size());
    EXPECT_EQ((uint8_t(record[4]) << 8) | uint8_t(record[5]), int(record.size()));
    EXPECT_EQ(ReadBigEndian32(record, 130), 0xFFFFFFFFu); // no relative path, as the Finder writes

    CToolResult blessed = RunTool({"bless", "--openfolder", mount + "/Folder"});
    ASSERT_EQ(blessed.status, 0) << blessed.err;
    CToolResult detached = RunTool({"hdiutil", "detach", mount});
    ASSERT_EQ(detached.status, 0) << detached.err;
    EXPECT_FALSE(std::filesystem::exists(mount));
    // Its files would be lost in a fresh live folder, so the volume can't be attached again.
    CToolResult reattached = Attach();
    EXPECT_NE(reattached.status, 0);
    EXPECT_NE(reattached.err.find("already holds files"), std::string::npos) << reattached.err;
    EXPECT_FALSE(std::filesystem::exists(mount));

    // The IDs promised while attached are the ones the catalog holds.
    uint32_t folderId = LookUpCatalogId(image, "/Folder");
    uint32_t backgroundId = LookUpCatalogId(image, "/.background");
    uint32_t pictureId = LookUpCatalogId(image, "/.background/bg.png");
    EXPECT_NE(folderId, 0u);
    EXPECT_EQ(ReadBigEndian32(record, 46), backgroundId);
    EXPECT_EQ(ReadBigEndian32(record, 114), pictureId);
    std::string header = ReadWholeFile(image).substr(20480 + 1024, 512);
    EXPECT_EQ(ReadBigEndian32(header, 80 + 8), folderId); // finder info word 2: the open folder
    EXPECT_EQ(ReadBigEndian32(record, 38), ReadBigEndian32(header, 16)); // the volume's creation date
    // Tag 16 right after the parent's name (".background", 11 bytes padded to 12): the same moment
    // in GMT, seconds in the middle of the UTCDateTime.
    EXPECT_EQ(ReadBigEndian32(record, 150 + 4 + 12), 0x00100008u);
    EXPECT_EQ(ReadBigEndian32(record, 150 + 4 + 12 + 6),
              ConvertLocalMacTimeToGmt(ReadBigEndian32(header, 16)));
    ExpectDiskVolumeSound(image);

    std::string dmg = dir + "/out.dmg";
    CToolResult converted =
        RunTool({"hdiutil", "convert", image, "-format", "UDZO", "-imagekey", "zlib-level=9", "-o", dmg});
    ASSERT_EQ(converted.status, 0) << converted.err;
    EXPECT_EQ(converted.out, "created: " + dmg + "\n");

    std::string output;
    EXPECT_EQ(RunCapturing("7zz t -tdmg " + dmg, &output), 0) << output;
    EXPECT_EQ(output.find("WARNING"), std::string::npos) << output;
    EXPECT_EQ(output.find("Warning"), std::string::npos) << output;
    std::string extracted = dir + "/x";
    ASSERT_EQ(RunCapturing("7zz x -snl -o" + extracted + " " + dmg, &output), 0) << output;
    std::string root = extracted + "/Kiln Test";
    if (!std::filesystem::exists(root))
        root = extracted;
    EXPECT_EQ(ReadWholeFile(root + "/Folder/noise.bin"), noise);
    EXPECT_EQ(ReadWholeFile(root + "/Folder/Inner/read me.txt"), "hello\n");
    EXPECT_EQ(ReadWholeFile(root + "/.background/bg.png"), "\x89PNG picture");
    EXPECT_TRUE(std::filesystem::exists(root + "/empty"));
    EXPECT_EQ(std::filesystem::read_symlink(root + "/link"), "Folder/Inner/read me.txt");

    std::string raw = dir + "/raw.img";
    EXPECT_EQ(RunCapturing("dmg2img " + dmg + " " + raw, &output), 0) << output;
    EXPECT_EQ(RunCapturing("sgdisk -v " + raw, &output), 0) << output;
    EXPECT_NE(output.find("No problems found"), std::string::npos) << output;
    ExpectDiskVolumeSound(raw);
}

TEST_F(StandInToolsTest, DetachOfAnUnstorableTreeKeepsTheFolderUntilForced)
{
    ASSERT_EQ(Create("10m").status, 0);
    ASSERT_EQ(Attach().status, 0);
    WriteWholeFile(mount + "/kept.txt", "data");
    ASSERT_EQ(mkfifo((mount + "/pipe").c_str(), 0644), 0);
    CToolResult detached = RunTool({"hdiutil", "detach", mount});
    EXPECT_NE(detached.status, 0);
    EXPECT_EQ(detached.err.rfind("hdiutil: detach failed - ", 0), 0u) << detached.err;
    EXPECT_NE(detached.err.find("pipe"), std::string::npos) << detached.err;
    EXPECT_EQ(ReadWholeFile(mount + "/kept.txt"), "data");

    CToolResult forced = RunTool({"hdiutil", "detach", mount, "-force"});
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_FALSE(std::filesystem::exists(mount));
    // The disk still holds a sound, empty volume that can be attached again.
    std::string output;
    EXPECT_EQ(RunCapturing("sgdisk -v " + image, &output), 0) << output;
    ExpectDiskVolumeSound(image);
    EXPECT_EQ(Attach().status, 0);
}

TEST_F(StandInToolsTest, DetachOfATreeTooLargeForTheVolumeSaysSo)
{
    ASSERT_EQ(Create("10m").status, 0);
    ASSERT_EQ(Attach().status, 0);
    WriteWholeFile(mount + "/big.bin", std::string(12 << 20, 'b'));
    CToolResult detached = RunTool({"hdiutil", "detach", mount});
    EXPECT_NE(detached.status, 0);
    EXPECT_EQ(detached.err.rfind("hdiutil: detach failed - ", 0), 0u) << detached.err;
    EXPECT_TRUE(std::filesystem::exists(mount + "/big.bin"));
}

TEST_F(StandInToolsTest, DetachAndConvertRefuseWhatTheyDoNotKnow)
{
    CToolResult detached = RunTool({"hdiutil", "detach", dir + "/nowhere"});
    EXPECT_NE(detached.status, 0);
    EXPECT_NE(detached.err.find("hdiutil: detach failed - "), std::string::npos);
    detached = RunTool({"hdiutil", "detach", dir, "-force"});
    EXPECT_NE(detached.status, 0);
    EXPECT_TRUE(std::filesystem::exists(dir)); // -force removes only live folders

    std::string dmg = dir + "/out.dmg";
    WriteWholeFile(image, std::string(1 << 20, '\0'));
    EXPECT_NE(RunTool({"hdiutil", "convert", image, "-format", "UDZO", "-o", dmg}).status, 0);
    std::filesystem::remove(image);
    ASSERT_EQ(Create("10m").status, 0);
    ASSERT_EQ(Attach().status, 0);
    CToolResult converted = RunTool({"hdiutil", "convert", image, "-format", "UDZO", "-o", dmg});
    EXPECT_NE(converted.status, 0);
    EXPECT_NE(converted.err.find("attached"), std::string::npos) << converted.err;
    ASSERT_EQ(RunTool({"hdiutil", "detach", mount}).status, 0);
    WriteWholeFile(dmg, "old");
    converted = RunTool({"hdiutil", "convert", image, "-format", "UDZO", "-o", dmg});
    EXPECT_NE(converted.status, 0);
    EXPECT_EQ(ReadWholeFile(dmg), "old");
    std::filesystem::remove(dmg);
    converted = RunTool({"hdiutil", "convert", image, "-format", "UDZO", "-o", dmg}); // level 1
    EXPECT_EQ(converted.status, 0) << converted.err;
    EXPECT_EQ(ListFolder(dir), (std::vector<std::string>{"out.dmg", "work.sparseimage"}));
}

TEST_F(StandInToolsTest, BlessWantsAFolderOnAnAttachedVolume)
{
    ASSERT_EQ(Create("10m").status, 0);
    ASSERT_EQ(Attach().status, 0);
    WriteWholeFile(mount + "/file", "x");
    EXPECT_NE(RunTool({"bless", "--openfolder", mount + "/missing"}).status, 0);
    EXPECT_NE(RunTool({"bless", "--openfolder", mount + "/file"}).status, 0);
    EXPECT_NE(RunTool({"bless", "--openfolder", dir}).status, 0);
    CToolResult blessed = RunTool({"bless", "--openfolder", mount + "/"});
    EXPECT_EQ(blessed.status, 0) << blessed.err;
    ASSERT_EQ(RunTool({"hdiutil", "detach", mount}).status, 0);
    std::string header = ReadWholeFile(image).substr(20480 + 1024, 512);
    EXPECT_EQ(ReadBigEndian32(header, 80 + 8), 2u); // the root folder
}

TEST_F(StandInToolsTest, AliasManagerFindsOnlyWhatExistsOnAnAttachedVolume)
{
    CFileRef ref;
    std::string reason;
    EXPECT_FALSE(FSPathMakeRef((dir + "/missing").c_str(), &ref, nullptr, &reason));
    EXPECT_NE(reason.find("No such file"), std::string::npos) << reason;
    WriteWholeFile(dir + "/outside.png", "x");
    ASSERT_TRUE(FSPathMakeRef((dir + "/outside.png").c_str(), &ref, nullptr, &reason)) << reason;
    CAliasHandle alias;
    EXPECT_FALSE(tools.FSNewAlias(nullptr, ref, &alias, &reason));
    EXPECT_EQ(GetAliasSize(alias), 0u);

    ASSERT_EQ(Create("10m").status, 0);
    ASSERT_EQ(Attach().status, 0);
    WriteWholeFile(mount + "/p.png", "x");
    ASSERT_TRUE(FSPathMakeRef((mount + "/p.png").c_str(), &ref, nullptr, &reason)) << reason;
    ASSERT_TRUE(tools.FSNewAlias(nullptr, ref, &alias, &reason)) << reason;
    CAliasHandle again;
    ASSERT_TRUE(tools.FSNewAlias(nullptr, ref, &again, &reason)) << reason;
    EXPECT_EQ(alias->bytes, again->bytes); // the same item keeps its ID

    // The file a relative path starts from must be on the same volume.
    CFileRef outside;
    ASSERT_TRUE(FSPathMakeRef(dir.c_str(), &outside, nullptr, &reason)) << reason;
    CAliasHandle relative;
    EXPECT_FALSE(tools.FSNewAlias(&outside, ref, &relative, &reason));
    EXPECT_EQ(GetAliasSize(relative), 0u);
}

TEST_F(StandInToolsTest, XattrSetsFinderFlagsOfTheItemItselfAndRefusesTheRest)
{
    std::string const hidden(64, '0');
    std::string const invisible = hidden.substr(0, 16) + "4000" + hidden.substr(20);
    ASSERT_EQ(Create("10m").status, 0);
    ASSERT_EQ(Attach().status, 0);
    std::filesystem::create_directory(mount + "/Folder");
    std::filesystem::create_directory_symlink("Folder", mount + "/Link");
    CToolResult set =
        RunTool({"xattr", "-s", "-x", "-w", "com.apple.FinderInfo", invisible, mount + "/Link"});
    EXPECT_EQ(set.status, 0) << set.err;
    // Another attribute, a value of the wrong length or in other characters, an item elsewhere.
    for (std::vector<std::string> const& refused :
         {std::vector<std::string>{"xattr", "-s", "-x", "-w", "com.apple.ResourceFork", invisible, mount},
          {"xattr", "-s", "-x", "-w", "com.apple.FinderInfo", "00", mount},
          {"xattr", "-s", "-x", "-w", "com.apple.FinderInfo", std::string(64, 'g'), mount},
          {"xattr", "-s", "-x", "-w", "com.apple.FinderInfo", invisible, dir},
          {"xattr", "-x", "-w", "com.apple.FinderInfo", invisible, mount}})
    {
        CToolResult result = RunTool(refused);
        EXPECT_NE(result.status, 0) << refused[5] << " " << refused.back();
        EXPECT_EQ(result.err.rfind("xattr: ", 0), 0u) << result.err;
    }
    ASSERT_EQ(RunTool({"hdiutil", "detach", mount}).status, 0);

    int fd = open(image.c_str(), O_RDONLY);
    uint16_t linkFlags = 0, folderFlags = 0, rootFlags = 0;
    std::string error;
    EXPECT_TRUE(ReadHfsFinderFlags(fd, 20480, "Link", &linkFlags, &error)) << error;
    EXPECT_TRUE(ReadHfsFinderFlags(fd, 20480, "Folder", &folderFlags, &error)) << error;
    EXPECT_TRUE(ReadHfsFinderFlags(fd, 20480, "", &rootFlags, &error)) << error;
    EXPECT_FALSE(ReadHfsFinderFlags(fd, 20480, "Missing", &rootFlags, &error));
    close(fd);
    EXPECT_EQ(linkFlags, 0x4000);
    EXPECT_EQ(folderFlags, 0);
    EXPECT_EQ(rootFlags, 0);
    ExpectDiskVolumeSound(image);
}

TEST_F(StandInToolsTest, TiffutilRefusesPicturesThatAreNotAPairAndWritesNothing)
{
    std::string const tiff = dir + "/out.tiff";
    WriteWholeFile(dir + "/one.png", "not a picture");
    CToolResult unreadable =
        RunTool({"tiffutil", "-cathidpicheck", dir + "/one.png", dir + "/one.png", "-out", tiff});
    EXPECT_NE(unreadable.status, 0);
    EXPECT_EQ(unreadable.err.rfind("tiffutil: " + dir + "/one.png: ", 0), 0u) << unreadable.err;
    EXPECT_NE(RunTool({"tiffutil", "-cathidpicheck", dir + "/one.png", "-out", tiff}).status, 0);
    EXPECT_NE(RunTool({"tiffutil", "-cat", dir + "/one.png", dir + "/one.png", "-out", tiff}).status, 0);
    EXPECT_FALSE(std::filesystem::exists(tiff));
}

TEST_F(StandInToolsTest, ResizeShrinksADetachedDiskToItsVolumeContent)
{
    ASSERT_EQ(Create("64m").status, 0);
    CToolResult refused = RunTool({"hdiutil", "resize", "-sectors", "4000", image});
    EXPECT_NE(refused.status, 0);
    EXPECT_NE(refused.err.find("only -sectors min"), std::string::npos) << refused.err;
    ASSERT_EQ(Attach().status, 0);
    refused = RunTool({"hdiutil", "resize", "-sectors", "min", image});
    EXPECT_NE(refused.err.find("attached"), std::string::npos) << refused.err;
    std::string const data(2 << 20, 'k');
    WriteWholeFile(mount + "/data.bin", data);
    ASSERT_EQ(RunTool({"hdiutil", "detach", mount}).status, 0);

    CToolResult resized = RunTool({"hdiutil", "resize", "-sectors", "min", image});
    ASSERT_EQ(resized.status, 0) << resized.err;
    uint64_t const size = std::filesystem::file_size(image);
    EXPECT_GT(size, data.size());
    EXPECT_LT(size, data.size() + (1 << 20)); // the bitmap of 64 MB is 2 KB; the catalog and the rest small
    ExpectDiskVolumeSound(image);
    std::string output;
    EXPECT_EQ(RunCapturing("sgdisk -v '" + image + "'", &output), 0) << output;
    EXPECT_NE(output.find("No problems found"), std::string::npos) << output;
    // Shrinking again changes nothing; the file still converts and reads back.
    ASSERT_EQ(RunTool({"hdiutil", "resize", "-sectors", "min", image}).status, 0);
    EXPECT_EQ(std::filesystem::file_size(image), size);
    std::string const dmg = dir + "/out.dmg";
    ASSERT_EQ(RunTool({"hdiutil", "convert", image, "-format", "ULMO", "-o", dmg}).status, 0);
    std::string const extracted = dir + "/x";
    ASSERT_EQ(RunCapturing("7zz x -y -o'" + extracted + "' '" + dmg + "'", &output), 0) << output;
    EXPECT_TRUE(ReadWholeFile(extracted + "/Kiln Test/data.bin") == data);

    std::filesystem::remove(dmg);
    CToolResult converted = RunTool({"hdiutil", "convert", image, "-format", "ULFO", "-o", dmg});
    EXPECT_NE(converted.status, 0);
    EXPECT_NE(converted.err.find("ULFO (LZFSE) is not supported here"), std::string::npos) << converted.err;
    converted =
        RunTool({"hdiutil", "convert", image, "-format", "UDBZ", "-imagekey", "zlib-level=9", "-o", dmg});
    EXPECT_NE(converted.err.find("applies to UDZO only"), std::string::npos) << converted.err;
    EXPECT_FALSE(std::filesystem::exists(dmg));
}

TEST_F(StandInToolsTest, SeparateToolSetsDoNotShareAttachedVolumes)
{
    ASSERT_EQ(Create("10m").status, 0);
    ASSERT_EQ(Attach().status, 0);
    WriteWholeFile(mount + "/kept.txt", "data");
    CBuiltinDiskImageTools other;
    CToolResult detached = ::RunTool(&other, {"hdiutil", "detach", mount});
    EXPECT_NE(detached.status, 0);
    EXPECT_EQ(detached.err, "hdiutil: detach failed - " + mount + ": no volume is attached there\n");
    EXPECT_NE(::RunTool(&other, {"bless", "--openfolder", mount}).status, 0);
    EXPECT_EQ(ReadWholeFile(mount + "/kept.txt"), "data");
    // The set that attached the volume still writes it.
    ASSERT_EQ(RunTool({"hdiutil", "detach", mount}).status, 0);
    EXPECT_FALSE(std::filesystem::exists(mount));
    ExpectDiskVolumeSound(image);
}
