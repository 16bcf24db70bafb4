// Writes UDZO images from raw disks built here and reads them back with independent tools.
#include "udif/UdifWriter.h"

#include "io/ByteOrder.h"
#include "udif/UdifResourceEditor.h"

#include "support/ShellCommand.h"
#include "support/FileBytes.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
constexpr uint64_t kSector = 512;

struct CCommandResult
{
    int status = -1;
    std::string output;
};

CCommandResult RunCommand(std::string const& command)
{
    CCommandResult result;
    result.status = RunCapturing(command, &result.output);
    return result;
}

// A raw disk under construction: a sparse file whose sectors are filled piece by piece.
class CRawDiskBuilder
{
public:
    CRawDiskBuilder(std::string path, uint64_t sectors) : m_path(std::move(path))
    {
        FILE* file = fopen(m_path.c_str(), "wb");
        EXPECT_NE(file, nullptr);
        EXPECT_EQ(ftruncate(fileno(file), static_cast<off_t>(sectors * kSector)), 0);
        fclose(file);
    }

    void FillRandom(uint64_t sector, uint64_t count)
    {
        std::string bytes(count * kSector, '\0');
        for (char& c : bytes)
            c = static_cast<char>(m_random());
        Put(sector, bytes);
    }
    void FillText(uint64_t sector, uint64_t count)
    {
        std::string bytes;
        for (int line = 0; bytes.size() < count * kSector; ++line)
            bytes += "line " + std::to_string(line) + " of a very compressible file\n";
        bytes.resize(count * kSector);
        Put(sector, bytes);
    }
    // Writes zeros as data, so the range is not a hole of the sparse file.
    void FillZeros(uint64_t sector, uint64_t count) { Put(sector, std::string(count * kSector, '\0')); }

    void Put(uint64_t sector, std::string const& bytes)
    {
        FILE* file = fopen(m_path.c_str(), "r+b");
        ASSERT_NE(file, nullptr);
        fseeko(file, static_cast<off_t>(sector * kSector), SEEK_SET);
        fwrite(bytes.data(), 1, bytes.size(), file);
        fclose(file);
    }

private:
    std::string m_path;
    std::mt19937 m_random{42};
};

// Regions named and numbered the way a GUID partition map disk with one partition at sector 40 is.
std::vector<CUdifRegion> MakeGptRegions(uint64_t sectors)
{
    return {
        {"Protective Master Boot Record (MBR : 0)", -1, 0, 1, {}},
        {"GPT Header (Primary GPT Header : 1)", 0, 1, 1, {}},
        {"GPT Partition Data (Primary GPT Table : 2)", 1, 2, 32, {}},
        {" (Apple_Free : 3)", 2, 34, 6, {}},
        {"disk image (Apple_HFS : 4)", 3, 40, sectors - 80, {}},
        {" (Apple_Free : 5)", 4, sectors - 40, 7, {}},
        {"GPT Partition Data (Backup GPT Table : 6)", 5, sectors - 33, 32, {}},
        {"GPT Header (Backup GPT Header : 7)", 6, sectors - 1, 1, {}},
    };
}

class UdzoRoundTripTest : public ::testing::Test
{
protected:
    void SetUp() override { m_dir = m_folder.path; }

    std::string PathOf(std::string const& name) const { return m_dir + "/" + name; }

    // Writes the image and checks it with 7-Zip (test, extract) and dmg2img; `expected` is the raw
    // disk as it must read back (unused space as zeros).
    void WriteAndCheck(std::vector<CUdifRegion> const& regions, std::string const& expected, int level = 9,
                       EUdifFormat format = EUdifFormat::Udzo)
    {
        std::string const dmg = PathOf("out.dmg");
        std::string error;
        ASSERT_TRUE(WriteUdifImage(PathOf("raw.img"), regions, dmg, format, level, &error)) << error;
        EXPECT_EQ(ListFolder(m_dir), (std::vector<std::string>{"out.dmg", "raw.img"}));

        CCommandResult test = RunCommand("7zz t -tdmg '" + dmg + "'");
        EXPECT_EQ(test.status, 0) << test.output;
        EXPECT_NE(test.output.find("Everything is Ok"), std::string::npos) << test.output;
        // 7-Zip reports a bad master or data fork checksum only as a warning, with exit status 0.
        for (char const* complaint :
             {"Warning", "WARNING", "CRC Failed", "CRC Error", "CRC error", "Error", "ERROR"})
            EXPECT_EQ(test.output.find(complaint), std::string::npos) << test.output;

        // 7-Zip extracts one file per region, in order, named after the region.
        std::string const extracted = PathOf("x");
        CCommandResult extract = RunCommand("7zz x -tdmg -y -o'" + extracted + "' '" + dmg + "'");
        ASSERT_EQ(extract.status, 0) << extract.output;
        std::vector<std::string> files = ListFolder(extracted);
        ASSERT_EQ(files.size(), regions.size());
        std::sort(files.begin(), files.end(),
                  [](std::string const& a, std::string const& b) { return std::stoi(a) < std::stoi(b); });
        for (size_t i = 0; i < regions.size(); ++i)
        {
            std::string const bytes = ReadWholeFile(extracted + "/" + files[i]);
            EXPECT_TRUE(bytes ==
                        expected.substr(regions[i].startSector * kSector, regions[i].sectorCount * kSector))
                << "region " << i << " (" << files[i] << ") differs";
        }

        // Debian's dmg2img has no LZMA decoder (it writes a short disk without complaint).
        if (format == EUdifFormat::Ulmo)
        {
            RunCommand("rm -rf '" + extracted + "'");
            return;
        }
        std::string const converted = PathOf("raw2.img");
        CCommandResult dmg2img = RunCommand("dmg2img -i '" + dmg + "' -o '" + converted + "'");
        ASSERT_EQ(dmg2img.status, 0) << dmg2img.output;
        EXPECT_TRUE(ReadWholeFile(converted) == expected) << "dmg2img gives back a different disk";
        RunCommand("rm -rf '" + extracted + "' '" + converted + "'");
    }

    CTempFolder m_folder;
    std::string m_dir;
};
} // namespace

TEST_F(UdzoRoundTripTest, MixedContentAcrossGptRegionsReadsBackExactly)
{
    uint64_t const sectors = 6 * 2048 + 300; // not a whole number of chunks
    CRawDiskBuilder disk(PathOf("raw.img"), sectors);
    disk.FillRandom(0, 1);       // protective MBR
    disk.FillText(1, 33);        // primary GPT header and table
    disk.FillText(40, 3000);     // spans a chunk boundary inside the partition
    disk.FillRandom(3040, 2100); // incompressible: stored as is
    disk.FillZeros(5140, 2048);  // zeros written as data, not a hole
    disk.FillText(8000, 10);     // a lone sector in a mostly empty chunk
    disk.FillRandom(sectors - 33, 33);
    WriteAndCheck(MakeGptRegions(sectors), ReadWholeFile(PathOf("raw.img")));
}

TEST_F(UdzoRoundTripTest, EveryFormatReadsBackExactlyAndStoresItsOwnChunkType)
{
    uint64_t const sectors = 6 * 2048 + 300;
    CRawDiskBuilder disk(PathOf("raw.img"), sectors);
    disk.FillRandom(0, 1);
    disk.FillText(1, 33);
    disk.FillText(40, 3000);
    disk.FillRandom(3040, 2100); // stored as is in every format
    disk.FillZeros(5140, 2048);
    disk.FillText(8000, 10);
    disk.FillRandom(sectors - 33, 33);
    std::vector<CUdifRegion> regions = MakeGptRegions(sectors);
    regions[4].unusedSectors = {{9000, 1000}};
    std::string expected = ReadWholeFile(PathOf("raw.img"));
    std::fill_n(expected.begin() + 9000 * kSector, 1000 * kSector, '\0');
    // 7-Zip names each region's methods: its name for the format's stream, Copy for stored runs.
    struct
    {
        EUdifFormat format;
        char const* method;
    } const formats[] = {{EUdifFormat::Udzo, "ZLIB"},
                         {EUdifFormat::Udbz, "BZip2"},
                         {EUdifFormat::Ulmo, "XZ"},
                         {EUdifFormat::Udro, "Copy"}};
    std::map<std::string, size_t> sizes;
    for (auto const& [format, method] : formats)
    {
        SCOPED_TRACE(method);
        WriteAndCheck(regions, expected, 9, format);
        CCommandResult list = RunCommand("7zz l -slt -tdmg '" + PathOf("out.dmg") + "'");
        ASSERT_EQ(list.status, 0) << list.output;
        EXPECT_NE(list.output.find(" " + std::string(method) + " CRC"), std::string::npos) << list.output;
        for (char const* other : {"ZLIB", "BZip2", "XZ"})
        {
            if (std::string(other) != method)
            {
                EXPECT_EQ(list.output.find(other), std::string::npos) << list.output;
            }
        }
        struct stat info;
        ASSERT_EQ(stat(PathOf("out.dmg").c_str(), &info), 0);
        sizes[method] = static_cast<size_t>(info.st_size);
    }
    // The text compresses in all three; UDRO stores every sector that holds data.
    EXPECT_GT(sizes["Copy"], (1 + 33 + 3000 + 2100 + 10 + 33) * kSector);
    for (char const* method : {"ZLIB", "BZip2", "XZ"})
        EXPECT_LT(sizes[method], sizes["Copy"] / 2) << method;
}

TEST_F(UdzoRoundTripTest, UnusedSectorsAreNotStoredAndReadBackAsZeros)
{
    uint64_t const sectors = 5 * 2048;
    CRawDiskBuilder disk(PathOf("raw.img"), sectors);
    disk.FillText(0, sectors); // every sector holds data, including the unused ones
    std::vector<CUdifRegion> regions = MakeGptRegions(sectors);
    // Unused ranges at the start and end of the partition, overlapping and adjacent ones, one inside a
    // chunk, and one spanning chunk boundaries.
    regions[4].unusedSectors = {{40, 8}, {100, 50}, {120, 60}, {180, 20}, {1000, 5000}, {sectors - 48, 8}};
    regions[3].unusedSectors = {{34, 6}};

    std::string expected = ReadWholeFile(PathOf("raw.img"));
    for (auto const& region : regions)
        for (auto const& range : region.unusedSectors)
            std::fill_n(expected.begin() + static_cast<long>(range.first * kSector), range.second * kSector,
                        '\0');
    WriteAndCheck(regions, expected);
}

TEST_F(UdzoRoundTripTest, SparseDiskWithWholeVolumeUnusedAtEveryLevel)
{
    // A disk that is mostly a hole, as a fresh sparse image is; its free space given as unused.
    uint64_t const sectors = 24 * 2048;
    CRawDiskBuilder disk(PathOf("raw.img"), sectors);
    disk.FillText(40, 100);
    disk.FillRandom(30000, 3000);
    std::vector<CUdifRegion> regions = MakeGptRegions(sectors);
    regions[4].unusedSectors = {{200, 20000}, {40000, sectors - 40 - 40000}};
    std::string const expected = ReadWholeFile(PathOf("raw.img"));
    for (int level : {1, 6})
        WriteAndCheck(regions, expected, level);
}

TEST_F(UdzoRoundTripTest, SingleRegionDisk)
{
    CRawDiskBuilder disk(PathOf("raw.img"), 3000);
    disk.FillText(0, 3000);
    WriteAndCheck({{"whole disk (Apple_HFS : 0)", 0, 0, 3000, {}}}, ReadWholeFile(PathOf("raw.img")), 1);
}

TEST_F(UdzoRoundTripTest, ReplacesAnEarlierImage)
{
    CRawDiskBuilder disk(PathOf("raw.img"), 100);
    disk.FillText(0, 100);
    std::ofstream(PathOf("out.dmg")) << "an old image";
    WriteAndCheck({{"whole disk (Apple_HFS : 0)", 0, 0, 100, {}}}, ReadWholeFile(PathOf("raw.img")), 1);
}

TEST_F(UdzoRoundTripTest, FailuresLeaveNoImageAndNoTemporaryFile)
{
    CRawDiskBuilder disk(PathOf("raw.img"), 100);
    disk.FillText(0, 100);
    std::vector<CUdifRegion> const regions{{"whole disk (Apple_HFS : 0)", 0, 0, 100, {}}};
    std::string const dmg = PathOf("out.dmg");
    std::string error;

    EXPECT_FALSE(WriteUdzoImage(PathOf("missing.img"), regions, dmg, 9, &error));
    EXPECT_NE(error.find("missing.img"), std::string::npos) << error;
    EXPECT_FALSE(WriteUdzoImage(PathOf("raw.img"), regions, PathOf("no/such/dir/out.dmg"), 9, &error));
    EXPECT_NE(error.find("no/such/dir"), std::string::npos) << error;
    // The partition map claims more sectors than the raw disk holds.
    EXPECT_FALSE(
        WriteUdzoImage(PathOf("raw.img"), {{"whole disk (Apple_HFS : 0)", 0, 0, 101, {}}}, dmg, 9, &error));
    EXPECT_NE(error.find("smaller"), std::string::npos) << error;
    EXPECT_FALSE(WriteUdzoImage(PathOf("raw.img"), regions, dmg, 0, &error));
    EXPECT_FALSE(WriteUdzoImage(PathOf("raw.img"), regions, dmg, 10, &error));
    EXPECT_FALSE(WriteUdzoImage(PathOf("raw.img"), {}, dmg, 9, &error));
    EXPECT_EQ(ListFolder(m_dir), std::vector<std::string>{"raw.img"});

    // Fails only at the final rename, after the whole image was written: the temporary file goes, and
    // what stood at the output path is left as it was.
    ASSERT_EQ(mkdir(dmg.c_str(), 0755), 0);
    std::ofstream(dmg + "/keep") << "kept";
    EXPECT_FALSE(WriteUdzoImage(PathOf("raw.img"), regions, dmg, 9, &error));
    EXPECT_NE(error.find("out.dmg"), std::string::npos) << error;
    EXPECT_EQ(ListFolder(m_dir), (std::vector<std::string>{"out.dmg", "raw.img"}));
    EXPECT_EQ(ListFolder(dmg), std::vector<std::string>{"keep"});
}

// Resources added to a finished image: the new image takes the old one's place whole, with the same
// data fork, still reads, and nothing is left beside it.
TEST_F(UdzoRoundTripTest, AddedResourcesReplaceTheImageWholeAndLeaveNothingBeside)
{
    CRawDiskBuilder disk(PathOf("raw.img"), 100);
    disk.FillText(0, 100);
    WriteAndCheck({{"whole disk (Apple_HFS : 0)", 0, 0, 100, {}}}, ReadWholeFile(PathOf("raw.img")), 1);
    std::string const before = ReadWholeFile(PathOf("out.dmg"));
    ASSERT_GT(before.size(), 512u);
    uint64_t const xmlOffset = GetBe64(reinterpret_cast<uint8_t const*>(before.data()) + before.size() - 512 + 216);
    ASSERT_LT(xmlOffset, before.size());

    std::string error;
    ASSERT_TRUE(AddResourcesToUdifImage(PathOf("out.dmg"), {{"TEXT", 5000, "", {'T', 'e', 'r', 'm', 's'}}}, &error))
        << error;
    std::string const after = ReadWholeFile(PathOf("out.dmg"));
    EXPECT_EQ(after.compare(0, xmlOffset, before, 0, xmlOffset), 0);
    EXPECT_NE(after.find("<key>TEXT</key>", xmlOffset), std::string::npos);
    EXPECT_EQ(ListFolder(m_dir), (std::vector<std::string>{"out.dmg", "raw.img"}));
    CCommandResult test = RunCommand("7zz t -tdmg '" + PathOf("out.dmg") + "'");
    EXPECT_EQ(test.status, 0) << test.output;
    EXPECT_NE(test.output.find("Everything is Ok"), std::string::npos) << test.output;

    // A file that is no image is refused and stays as it was.
    std::ofstream(PathOf("plain.txt")) << std::string(600, 'x');
    EXPECT_FALSE(AddResourcesToUdifImage(PathOf("plain.txt"), {{"TEXT", 5000, "", {'x'}}}, &error));
    EXPECT_EQ(ReadWholeFile(PathOf("plain.txt")), std::string(600, 'x'));
    EXPECT_EQ(ListFolder(m_dir), (std::vector<std::string>{"out.dmg", "plain.txt", "raw.img"}));
}

// Progress is reported as chunks are stored, and a "stop" from it ends the write like a failure:
// no image, no temporary file, while the worker threads are busy.
TEST_F(UdzoRoundTripTest, ProgressCountsSectorsAndCanStopTheWrite)
{
    uint64_t const sectors = 9000; // several chunks
    CRawDiskBuilder disk(PathOf("raw.img"), sectors);
    disk.FillText(0, sectors);
    std::vector<CUdifRegion> const regions{{"whole disk (Apple_HFS : 0)", 0, 0, sectors, {}}};
    std::string const dmg = PathOf("out.dmg");
    std::string error;
    std::vector<uint64_t> seen;
    CUdifProgress const record = [&seen](uint64_t done, uint64_t total)
    {
        EXPECT_EQ(total, 9000u);
        seen.push_back(done);
        return true;
    };
    ASSERT_TRUE(WriteUdzoImage(PathOf("raw.img"), regions, dmg, 1, &error, record)) << error;
    ASSERT_GT(seen.size(), 1u);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_EQ(seen.back(), sectors);
    ASSERT_EQ(std::remove(dmg.c_str()), 0);

    int calls = 0;
    CUdifProgress const stop = [&calls](uint64_t, uint64_t) { return ++calls < 2; };
    EXPECT_FALSE(WriteUdzoImage(PathOf("raw.img"), regions, dmg, 9, &error, stop));
    EXPECT_EQ(error, "interrupted");
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(ListFolder(m_dir), std::vector<std::string>{"raw.img"});
}

TEST_F(UdzoRoundTripTest, DiskOfZerosStillReadable)
{
    // A disk without a single stored byte; readers still need a data fork to accept the image.
    CRawDiskBuilder disk(PathOf("raw.img"), 5000);
    WriteAndCheck({{"whole disk (Apple_HFS : 0)", 0, 0, 5000, {}}}, std::string(5000 * kSector, '\0'));
}
