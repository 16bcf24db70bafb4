// The builtin engine end to end: a volume filled in memory from host sources and its own files,
// planned at detach and streamed into the image at convert, read back by independent tools (7-Zip,
// dmg2img, sgdisk, fshfsinfo, fsck_hfs).
#include "engine/Engines.h"
#include "io/MacTime.h"

#include "support/FileBytes.h"
#include "support/FsckHfs.h"
#include "support/TempFolder.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
constexpr char kVolumeOffset[] = "20480"; // the partition starts at sector 40

uint32_t ReadBigEndian32(std::string const& bytes, size_t at)
{
    return (uint32_t(uint8_t(bytes[at])) << 24) | (uint32_t(uint8_t(bytes[at + 1])) << 16) |
           (uint32_t(uint8_t(bytes[at + 2])) << 8) | uint8_t(bytes[at + 3]);
}

// The catalog node ID fshfsinfo reports for a path on the volume of a raw disk; 0 if it finds none.
uint32_t LookUpCatalogId(std::string const& disk, std::string const& path)
{
    std::string output;
    if (RunCapturing(std::string("fshfsinfo -o ") + kVolumeOffset + " -F '" + path + "' '" + disk + "'", &output) != 0)
        return 0;
    size_t at = output.find("Identifier");
    if (at == std::string::npos || (at = output.find(':', at)) == std::string::npos)
        return 0;
    return static_cast<uint32_t>(std::strtoul(output.c_str() + at + 1, nullptr, 10));
}

class BuiltinEngine : public testing::Test
{
protected:
    // Runs the request, capturing what the engine prints.
    int Run(CEngineRequest const& request)
    {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        int const status = engine->Run(request);
        out = testing::internal::GetCapturedStdout();
        err = testing::internal::GetCapturedStderr();
        return status;
    }
    void CreateAndAttach(int megabytes = 32)
    {
        ASSERT_EQ(Run(CCreateRequest{"Kiln Test", megabytes, image}), 0) << err;
        ASSERT_EQ(Run(CAttachRequest{image, mount}), 0) << err;
        EXPECT_EQ(out, "attached: " + image + " at " + mount + "\n");
    }
    void Put(std::string const& relative, std::string const& contents)
    {
        std::string error;
        ASSERT_TRUE(engine->WriteFile(mount + "/" + relative, std::vector<uint8_t>(contents.begin(), contents.end()),
                                      &error))
            << error;
    }
    // The image extracted by 7-Zip; the volume's root folder.
    std::string Extract(std::string const& dmg)
    {
        std::string output;
        EXPECT_EQ(RunCapturing("7zz t -tdmg " + dmg, &output), 0) << output;
        EXPECT_EQ(output.find("WARNING"), std::string::npos) << output;
        std::string const extracted = dir + "/x";
        EXPECT_EQ(RunCapturing("7zz x -snl -o" + extracted + " " + dmg, &output), 0) << output;
        return std::filesystem::exists(extracted + "/Kiln Test") ? extracted + "/Kiln Test" : extracted;
    }

    std::unique_ptr<CDiskImageEngine> engine = MakeBuiltinDiskImageEngine();
    CTempFolder folder;
    std::string dir = folder.path;
    std::string image = dir + "/work.sparseimage";
    std::string mount = dir + "/mnt.test";
    std::string out, err;
};
} // namespace

TEST_F(BuiltinEngine, FilledTreeBecomesTheImageWithItsModesLinksIdsAndLicence)
{
    CTempFolder source;
    std::mt19937 random(7);
    std::string noise(3 << 20, '\0');
    for (char& c : noise)
        c = static_cast<char>(random());
    std::filesystem::create_directories(source.path + "/App/Contents/MacOS");
    WriteWholeFile(source.path + "/App/Contents/MacOS/tool", "#!/bin/sh\n");
    chmod((source.path + "/App/Contents/MacOS/tool").c_str(), 04755);
    WriteWholeFile(source.path + "/App/noise.bin", noise);
    ASSERT_EQ(link((source.path + "/App/noise.bin").c_str(), (source.path + "/App/hard.bin").c_str()), 0);
    std::filesystem::create_symlink("Contents/MacOS/tool", source.path + "/App/tool link");

    CreateAndAttach();
    EXPECT_FALSE(std::filesystem::exists(mount)); // only a name
    ASSERT_EQ(Run(CMakeFolderRequest{mount + "/.background"}), 0) << err;
    ASSERT_EQ(Run(CCopyRequest{source.path + "/App", mount + "/App.app", true}), 0) << err;
    ASSERT_EQ(Run(CLinkRequest{"App.app/noise.bin", mount + "/link"}), 0) << err;
    Put(".background/bg.png", "\x89PNG picture");
    CFinderInfo info{};
    info[8] = 0x00;
    info[9] = 0x10;
    ASSERT_EQ(Run(CFinderInfoRequest{info, mount + "/App.app"}), 0) << err;
    EXPECT_EQ(engine->ReadFinderInfo(mount + "/App.app"), info);
    ASSERT_EQ(Run(CBlessRequest{mount + "/App.app"}), 0) << err;
    EXPECT_EQ(engine->LookUp(mount + "/App.app/tool link"), EVolumeEntry::Link);
    EXPECT_EQ(engine->LookUp(mount + "/App.app/tool link/x"), EVolumeEntry::None); // never followed

    std::string reason;
    CAliasHandle alias;
    ASSERT_TRUE(engine->MakeAlias(mount, mount + "/.background/bg.png", &alias, &reason)) << reason;
    std::string const record(alias->bytes.begin(), alias->bytes.end());
    EXPECT_EQ(ReadBigEndian32(record, 130), 0xFFFFFFFFu); // no relative path, as the Finder writes

    std::string const before = ReadWholeFile(image);
    ASSERT_EQ(Run(CDetachRequest{mount, false}), 0) << err;
    EXPECT_EQ(out, "\"" + mount + "\" ejected.\n");
    EXPECT_EQ(ReadWholeFile(image), before); // the volume is never written into the sparse image
    EXPECT_NE(Run(CDetachRequest{mount, false}), 0);

    std::vector<CUdifResource> licence = {{"LPic", 5000, "", {0, 0, 0, 1, 0, 0}}};
    engine->SetLicence(licence);
    std::string const dmg = dir + "/out.dmg";
    ASSERT_EQ(Run(CConvertRequest{image, FindImageFormat("UDZO"), dmg}), 0) << err;
    EXPECT_EQ(out, "created: " + dmg + "\n");
    EXPECT_NE(ReadWholeFile(dmg).find("LPic"), std::string::npos); // in before the one rename

    std::string const root = Extract(dmg);
    EXPECT_EQ(ReadWholeFile(root + "/App.app/noise.bin"), noise);
    EXPECT_EQ(ReadWholeFile(root + "/App.app/hard.bin"), noise);
    EXPECT_EQ(ReadWholeFile(root + "/.background/bg.png"), "\x89PNG picture");
    EXPECT_EQ(std::filesystem::read_symlink(root + "/link"), "App.app/noise.bin");
    EXPECT_EQ(std::filesystem::read_symlink(root + "/App.app/tool link"), "Contents/MacOS/tool");

    std::string output;
    std::string const raw = dir + "/raw.img";
    ASSERT_EQ(RunCapturing("dmg2img " + dmg + " " + raw, &output), 0) << output;
    EXPECT_EQ(RunCapturing("sgdisk -v " + raw, &output), 0) << output;
    EXPECT_NE(output.find("No problems found"), std::string::npos) << output;
    ExpectDiskVolumeSound(raw);
    // The IDs promised while attached are the ones the catalog holds; the open folder is the bless's.
    uint32_t const appId = LookUpCatalogId(raw, "/App.app");
    EXPECT_NE(appId, 0u);
    EXPECT_EQ(ReadBigEndian32(record, 46), LookUpCatalogId(raw, "/.background"));
    EXPECT_EQ(ReadBigEndian32(record, 114), LookUpCatalogId(raw, "/.background/bg.png"));
    std::string const header = ReadWholeFile(raw).substr(20480 + 1024, 512);
    EXPECT_EQ(ReadBigEndian32(header, 80 + 8), appId);
    // The modes are the source's, set-id bits included, whatever the umask.
    EXPECT_EQ(RunCapturing(std::string("fshfsinfo -o ") + kVolumeOffset + " -F '/App.app/Contents/MacOS/tool' '" +
                               raw + "'",
                           &output),
              0);
    EXPECT_NE(output.find("(0104755)"), std::string::npos) << output;
}

TEST_F(BuiltinEngine, ItemsNoVolumeHoldsFailTheDetachNamingThemOnTheVolume)
{
    CTempFolder source;
    std::filesystem::create_directories(source.path + "/app/sub");
    ASSERT_EQ(mkfifo((source.path + "/app/sub/fifo").c_str(), 0644), 0);
    CreateAndAttach();
    // cp would copy the FIFO; the volume can't hold it, which the detach says.
    ASSERT_EQ(Run(CCopyRequest{source.path + "/app", mount + "/app", true}), 0) << err;
    ASSERT_EQ(Run(CFinderInfoRequest{CFinderInfo{}, mount + "/app"}), 0) << err;
    EXPECT_NE(Run(CDetachRequest{mount, false}), 0);
    EXPECT_EQ(err, "hdiutil: detach failed - cannot put " + mount + "/app/sub/fifo on an HFS+ volume: it is a FIFO "
                   "(named pipe)\n");
    ASSERT_EQ(Run(CDetachRequest{mount, true}), 0) << err;
    EXPECT_NE(Run(CConvertRequest{image, FindImageFormat("UDZO"), dir + "/out.dmg"}), 0);
    EXPECT_FALSE(std::filesystem::exists(dir + "/out.dmg"));

    // A missing source is cp's complaint, at the copy.
    std::filesystem::remove(image);
    CreateAndAttach();
    EXPECT_NE(Run(CCopyRequest{source.path + "/gone", mount + "/gone", true}), 0);
    EXPECT_EQ(err, "cp: cannot stat '" + source.path + "/gone': No such file or directory\n");
    EXPECT_EQ(engine->LookUp(mount + "/gone"), EVolumeEntry::None);
}

TEST_F(BuiltinEngine, SourceChangedAfterTheDetachFailsTheConvertAndLeavesNothing)
{
    CTempFolder source;
    WriteWholeFile(source.path + "/file", "first");
    CreateAndAttach();
    ASSERT_EQ(Run(CCopyRequest{source.path + "/file", mount + "/file", true}), 0) << err;
    ASSERT_EQ(Run(CDetachRequest{mount, false}), 0) << err;
    WriteWholeFile(source.path + "/file", "second, longer");
    EXPECT_NE(Run(CConvertRequest{image, FindImageFormat("UDBZ"), dir + "/out.dmg"}), 0);
    EXPECT_NE(err.find("changed while the volume was being written"), std::string::npos) << err;
    for (auto const& entry : std::filesystem::directory_iterator(dir))
        EXPECT_EQ(entry.path().filename().string().find("out.dmg"), std::string::npos) << entry.path();
}

TEST_F(BuiltinEngine, ResizeShrinksThePlannedDiskAndFilesKilnpackWritesNeverGoThroughALink)
{
    CreateAndAttach(64);
    ASSERT_EQ(Run(CLinkRequest{dir + "/victim", mount + "/.DS_Store"}), 0) << err;
    ASSERT_EQ(Run(CMakeFolderRequest{mount + "/Folder"}), 0) << err;
    std::string error;
    // A link is replaced, never written through; a folder is never replaced.
    ASSERT_TRUE(engine->WriteFile(mount + "/.DS_Store", {1, 2, 3}, &error)) << error;
    EXPECT_FALSE(std::filesystem::exists(dir + "/victim"));
    EXPECT_EQ(engine->LookUp(mount + "/.DS_Store"), EVolumeEntry::File);
    EXPECT_FALSE(engine->WriteFile(mount + "/Folder", {1}, &error));
    EXPECT_EQ(engine->LookUp(mount + "/Folder"), EVolumeEntry::Folder);
    ASSERT_EQ(Run(CDetachRequest{mount, false}), 0) << err;
    ASSERT_EQ(Run(CResizeRequest{image}), 0) << err;
    std::string const dmg = dir + "/small.dmg";
    ASSERT_EQ(Run(CConvertRequest{image, FindImageFormat("UDRO"), dmg}), 0) << err;
    std::string output;
    std::string const raw = dir + "/raw.img";
    ASSERT_EQ(RunCapturing("dmg2img " + dmg + " " + raw, &output), 0) << output;
    EXPECT_LT(std::filesystem::file_size(raw), 8u << 20);
    ExpectDiskVolumeSound(raw);
}
