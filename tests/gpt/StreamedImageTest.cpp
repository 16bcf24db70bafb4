// A disk image streamed from a volume tree (plan, stream, image sink) against the same image built
// through a raw disk file (volume written into a sparse disk, then converted): byte for byte, for
// every format, and read back by independent tools.
#include "gpt/GuidPartitionMap.h"
#include "hfsplus/HfsVolume.h"
#include "io/MacTime.h"
#include "udif/UdifImageSink.h"
#include "udif/UdifResourceEditor.h"
#include "volume/HostTree.h"

#include "support/EnvironmentSetting.h"
#include "support/FileBytes.h"
#include "support/FsckHfs.h"
#include "support/ShellCommand.h"
#include "support/TempFolder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace
{
constexpr uint64_t kVolumeBytes = 16 << 20;
constexpr uint32_t kCreateDate = 3786825600u;

struct CCase
{
    EUdifFormat format;
    int level;
    bool shrink;  // shrunk to its content, as template_size="auto" builds are
    bool licence; // with extra resources in the property list
    char const* name;
};

// Bytes that compress somewhat, as program code does.
std::string MakeBytes(size_t size, uint32_t seed)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
    {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = char("kilnpack"[(seed >> 16) % 8] + ((seed >> 24) & 3));
    }
    return bytes;
}

// The payload: files, an empty file, links, folders, and a file of 2.5 MiB with a MiB of zeros in it.
void MakePayload(std::string const& root)
{
    namespace fs = std::filesystem;
    WriteWholeFile(root + "/Read Me.txt", "Read me first.\n");
    WriteWholeFile(root + "/Empty", "");
    WriteWholeFile(root + "/App.app/Contents/MacOS/App",
                   MakeBytes(900 << 10, 1) + std::string(1 << 20, '\0') + MakeBytes(700 << 10, 2));
    WriteWholeFile(root + "/App.app/Contents/Info.plist", "<plist/>\n");
    fs::create_directories(root + "/App.app/Contents/Resources");
    fs::create_symlink("/Applications", root + "/Applications");
    fs::create_symlink("../Info.plist", root + "/App.app/Contents/MacOS/Info link");
    chmod((root + "/App.app/Contents/MacOS/App").c_str(), 0755);
}

CHfsVolumeSettings MakeVolumeSettings()
{
    CHfsVolumeSettings settings;
    settings.volumeName = "Stream Test";
    settings.sizeBytes = kVolumeBytes;
    settings.createDate = kCreateDate;
    settings.fixedDate = GetReproducibleMacTime();
    settings.fixedIds = {{"App.app", 40}, {"Gone", 41}};
    return settings;
}

std::vector<CUdifResource> MakeResources()
{
    std::string const text = "You agree.";
    return {{"TEXT", 5000, "English", std::vector<uint8_t>(text.begin(), text.end())}};
}

// Through a raw disk file: the disk made as create makes it, the volume written by WriteHfsVolume,
// shrunk and its map rewritten as resize does, then converted.
void BuildThroughRawDisk(CCase const& c, std::string const& payload, std::string const& raw, std::string const& dmg)
{
    CHfsVolumeSettings settings = MakeVolumeSettings();
    settings.finderFlags = {{"App.app", 0x0010}, {"", 0x0400}};
    CPartitionLayout layout = ComputePartitionLayout(kVolumeBytes / kSectorBytes + 80);
    int const fd = open(raw.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    std::string error;
    ASSERT_EQ(ftruncate(fd, off_t(layout.totalSectors * kSectorBytes)), 0);
    ASSERT_TRUE(WritePartitionMap(fd, layout, &error, settings.volumeName)) << error;
    uint64_t const offset = layout.partitionStart * kSectorBytes;
    ASSERT_TRUE(WriteHfsVolume(fd, offset, settings, payload, &error)) << error;
    if (c.shrink)
    {
        uint64_t shrunk = 0;
        ASSERT_TRUE(ShrinkHfsVolume(fd, offset, kVolumeBytes, &shrunk, &error)) << error;
        ASSERT_LT(shrunk, kVolumeBytes);
        layout = ComputePartitionLayout(shrunk / kSectorBytes + 80);
        ASSERT_EQ(ftruncate(fd, off_t(layout.totalSectors * kSectorBytes)), 0);
        ASSERT_TRUE(WritePartitionMap(fd, layout, &error)) << error;
    }
    std::vector<std::pair<uint64_t, uint64_t>> ranges;
    ASSERT_TRUE(ReadHfsFreeRanges(fd, offset, &ranges, &error)) << error;
    close(fd);
    std::vector<CUdifRegion> regions = ListPartitionRegions(layout);
    for (CUdifRegion& region : regions)
    {
        if (region.startSector != layout.partitionStart)
            continue;
        for (auto const& range : ranges)
        {
            uint64_t const first = (range.first + kSectorBytes - 1) / kSectorBytes;
            uint64_t const end = (range.first + range.second) / kSectorBytes;
            if (end > first)
                region.unusedSectors.push_back({layout.partitionStart + first, end - first});
        }
    }
    ASSERT_TRUE(WriteUdifImage(raw, regions, dmg, c.format, c.level, &error)) << error;
    if (c.licence)
    {
        ASSERT_TRUE(AddResourcesToUdifImage(dmg, MakeResources(), &error)) << error;
    }
}

// Streamed: the tree planned, the disk streamed into the image sink, finished with one rename.
void BuildStreamed(CCase const& c, std::string const& payload, std::string const& dmg)
{
    CVolumeTree tree;
    std::string error;
    ASSERT_TRUE(ReadHostTree(payload, &tree, &error)) << error;
    tree.Get(tree.FindPath("App.app")).finderFlags = 0x0010;
    tree.Get(CVolumeTree::kRoot).finderFlags = 0x0400;
    CHfsVolumePlan plan;
    ASSERT_TRUE(PlanHfsVolume(tree, MakeVolumeSettings(), &plan, &error)) << error;
    std::string seed = "Stream Test";
    if (c.shrink)
    {
        ShrinkHfsVolumePlan(&plan);
        seed.clear(); // resize writes the map again, without the volume's name
    }
    CPartitionLayout const layout = ComputePartitionLayout(plan.sizeBytes / kSectorBytes + 80);
    CUdifImageSink image(ListPartitionRegions(layout), c.format, c.level);
    ASSERT_TRUE(image.Open(dmg, &error)) << error;
    CPartitionStreamer const volume = [&plan](CDiskSink& sink, std::string* why)
    { return StreamHfsVolume(plan, sink, why); };
    ASSERT_TRUE(StreamGptDisk(layout, volume, image, &error, seed)) << error;
    ASSERT_TRUE(image.Finish(c.licence ? MakeResources() : std::vector<CUdifResource>(), &error)) << error;
}

class StreamedImageTest : public testing::TestWithParam<CCase>
{
};
} // namespace

TEST_P(StreamedImageTest, GivesTheBytesOfTheRawDiskPathAndReadsBack)
{
    CEnvironmentSetting epoch("SOURCE_DATE_EPOCH", "1700000000");
    CTempFolder work;
    std::string const payload = work.Join("payload");
    MakePayload(payload);
    std::string const throughRaw = work.Join("raw.dmg"), streamed = work.Join("streamed.dmg");
    BuildThroughRawDisk(GetParam(), payload, work.Join("disk.raw"), throughRaw);
    BuildStreamed(GetParam(), payload, streamed);
    std::string const expected = ReadWholeFile(throughRaw);
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(expected == ReadWholeFile(streamed)) << "the streamed image differs";
    EXPECT_EQ(ListFolder(work.path), (std::vector<std::string>{"disk.raw", "payload", "raw.dmg", "streamed.dmg"}));

    std::string output;
    if (RunCapturing("7zz i", &output) != 0 || FsckHfsPath().empty())
        GTEST_SKIP() << "7zz or fsck_hfs missing: the image was not read back";
    // The disk's regions as 7-Zip reads them (Debian's dmg2img has no LZMA decoder); the largest is
    // the volume.
    std::string const regions = work.Join("regions");
    ASSERT_EQ(RunCapturing("7zz x -tdmg -y -o" + QuoteForShell(regions) + " " + QuoteForShell(streamed), &output), 0)
        << output;
    std::string volume;
    for (std::string const& name : ListFolder(regions))
        if (volume.empty() || std::filesystem::file_size(regions + "/" + name) > std::filesystem::file_size(volume))
            volume = regions + "/" + name;
    ExpectHfsVolumeSound(volume);
    std::string const out = work.Join("x");
    ASSERT_EQ(RunCapturing("7zz x -snld -y -o" + QuoteForShell(out) + " " + QuoteForShell(streamed), &output), 0)
        << output;
    std::string const root = out + "/Stream Test";
    EXPECT_EQ(ReadWholeFile(root + "/App.app/Contents/MacOS/App"),
              ReadWholeFile(payload + "/App.app/Contents/MacOS/App"));
    EXPECT_EQ(ReadWholeFile(root + "/Read Me.txt"), "Read me first.\n");
    EXPECT_TRUE(std::filesystem::is_regular_file(root + "/Empty"));
    EXPECT_TRUE(std::filesystem::is_directory(root + "/App.app/Contents/Resources"));
    // 7-Zip points an absolute link into the folder it extracts to: its text is read alone.
    ASSERT_EQ(RunCapturing("7zz x -so " + QuoteForShell(streamed) + " 'Stream Test/Applications'", &output), 0);
    EXPECT_EQ(output, "/Applications");
    EXPECT_EQ(std::filesystem::read_symlink(root + "/App.app/Contents/MacOS/Info link"), "../Info.plist");
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, StreamedImageTest,
                         testing::Values(CCase{EUdifFormat::Udzo, 9, true, true, "UdzoShrunkWithLicence"},
                                         CCase{EUdifFormat::Udzo, 1, false, false, "Udzo"},
                                         CCase{EUdifFormat::Udbz, 0, false, true, "Udbz"},
                                         CCase{EUdifFormat::Ulmo, 0, true, false, "Ulmo"},
                                         CCase{EUdifFormat::Udro, 0, false, false, "Udro"}),
                         [](testing::TestParamInfo<CCase> const& info) { return std::string(info.param.name); });
