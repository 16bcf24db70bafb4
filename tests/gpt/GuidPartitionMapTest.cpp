#include "gpt/GuidPartitionMap.h"

#include "support/PlatformTestSupport.h"
#include "support/TempFolder.h"

#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace
{
constexpr uint64_t kHundredMegabytes = 100 * 2048; // sectors

// A sparse disk file holding only the partition map, removed at the end of the test.
class CMapFile
{
public:
    explicit CMapFile(uint64_t totalSectors)
    {
        path = folder.Join("disk");
        fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        layout = ComputePartitionLayout(totalSectors);
        EXPECT_EQ(ftruncate(fd, static_cast<off_t>(totalSectors * kSectorBytes)), 0);
    }
    ~CMapFile() { close(fd); }
    CTempFolder folder;
    std::string path;
    int fd = -1;
    CPartitionLayout layout;
};
} // namespace

TEST(GuidPartitionMapTest, PartitionSitsWhereHdiutilPutsIt)
{
    CPartitionLayout layout = ComputePartitionLayout(kHundredMegabytes);
    EXPECT_EQ(layout.partitionStart, 40u);
    EXPECT_EQ(layout.partitionSectors, kHundredMegabytes - 80); // 7 free sectors, 33 of backup map
    EXPECT_EQ(layout.partitionSectors % 8, 0u);                 // whole 4 KiB blocks
}

TEST(GuidPartitionMapTest, ProtectiveMbrCoversTheDisk)
{
    std::vector<uint8_t> mbr = BuildProtectiveMbr(kHundredMegabytes);
    ASSERT_EQ(mbr.size(), 512u);
    std::vector<uint8_t> entry(mbr.begin() + 446, mbr.begin() + 462);
    EXPECT_EQ(entry, ParseHex("00 000200 EE FFFFFF 01000000 FF1F0300"));
    EXPECT_EQ(mbr[510], 0x55);
    EXPECT_EQ(mbr[511], 0xAA);
    for (size_t i = 462; i < 510; ++i)
        EXPECT_EQ(mbr[i], 0) << i;
    // Disks beyond 2 TiB are covered as far as 32 bits reach.
    std::vector<uint8_t> big = BuildProtectiveMbr(0x200000000ull);
    EXPECT_EQ(std::vector<uint8_t>(big.begin() + 458, big.begin() + 462), ParseHex("FFFFFFFF"));
}

TEST(GuidPartitionMapTest, EntryNamesTheAppleHfsPartition)
{
    CGuid guid{};
    std::vector<uint8_t> entries = BuildPartitionEntries(ComputePartitionLayout(kHundredMegabytes), guid);
    ASSERT_EQ(entries.size(), 128u * 128u);
    EXPECT_EQ(std::vector<uint8_t>(entries.begin(), entries.begin() + 16),
              ParseHex("00534648 0000 AA11 AA11 00306543ECAC"));
    EXPECT_EQ(std::vector<uint8_t>(entries.begin() + 32, entries.begin() + 56),
              ParseHex("2800000000000000 D71F030000000000 0000000000000000"));
    EXPECT_EQ(std::vector<uint8_t>(entries.begin() + 56, entries.begin() + 78),
              ParseHex("6400690073006B00200069006D00610067006500 0000"));
}

TEST(GuidPartitionMapTest, RandomGuidsAreVersionFour)
{
    CGuid a = MakeRandomGuid();
    CGuid b = MakeRandomGuid();
    EXPECT_NE(a, b);
    EXPECT_EQ(a[7] >> 4, 4);
    EXPECT_EQ(a[8] & 0xC0, 0x80);
}

TEST(GuidPartitionMapTest, SgdiskFindsTheWrittenMapSound)
{
    CMapFile file(kHundredMegabytes);
    std::string error;
    ASSERT_TRUE(WritePartitionMap(file.fd, file.layout, &error)) << error;
    std::string output;
    EXPECT_EQ(RunCapturing("sgdisk -v " + file.path, &output), 0) << output;
    EXPECT_NE(output.find("No problems found"), std::string::npos) << output;
    EXPECT_EQ(RunCapturing("sgdisk -i 1 " + file.path, &output), 0) << output;
    EXPECT_NE(output.find("48465300-0000-11AA-AA11-00306543ECAC"), std::string::npos) << output;
    EXPECT_NE(output.find("First sector: 40 "), std::string::npos) << output;
    EXPECT_NE(output.find("Last sector: 204759 "), std::string::npos) << output;
    EXPECT_NE(output.find("'disk image'"), std::string::npos) << output;
}

TEST(GuidPartitionMapTest, ReadsBackWhatItWrote)
{
    CMapFile file(kHundredMegabytes);
    std::string error;
    ASSERT_TRUE(WritePartitionMap(file.fd, file.layout, &error)) << error;
    CPartitionLayout layout;
    ASSERT_TRUE(ReadPartitionMap(file.fd, &layout, &error)) << error;
    EXPECT_EQ(layout.totalSectors, kHundredMegabytes);
    EXPECT_EQ(layout.partitionStart, 40u);
    EXPECT_EQ(layout.partitionSectors, kHundredMegabytes - 80);
}

TEST(GuidPartitionMapTest, RefusesDamagedOrForeignDisks)
{
    CMapFile file(kHundredMegabytes);
    CPartitionLayout layout;
    std::string error;
    EXPECT_FALSE(ReadPartitionMap(file.fd, &layout, &error)); // all zeros
    EXPECT_NE(error.find("hdiutil create"), std::string::npos) << error;

    ASSERT_TRUE(WritePartitionMap(file.fd, file.layout, &error)) << error;
    uint8_t flipped = 0x01;
    ASSERT_EQ(pwrite(file.fd, &flipped, 1, 2 * 512 + 100), 1); // inside the primary entries
    EXPECT_FALSE(ReadPartitionMap(file.fd, &layout, &error));
    EXPECT_NE(error.find("entries are damaged"), std::string::npos) << error;

    ASSERT_TRUE(WritePartitionMap(file.fd, file.layout, &error)) << error;
    ASSERT_EQ(pwrite(file.fd, &flipped, 1, 512 + 40), 1); // inside the primary header
    EXPECT_FALSE(ReadPartitionMap(file.fd, &layout, &error));
    EXPECT_NE(error.find("primary"), std::string::npos) << error;
}

TEST(GuidPartitionMapTest, RegionsAreNamedAndNumberedAsHdiutilDoes)
{
    std::vector<CUdifRegion> regions = ListPartitionRegions(ComputePartitionLayout(kHundredMegabytes));
    struct
    {
        char const* name;
        int id;
        uint64_t start;
        uint64_t count;
    } const expected[] = {
        {"Protective Master Boot Record (MBR : 0)", -1, 0, 1},
        {"GPT Header (Primary GPT Header : 1)", 0, 1, 1},
        {"GPT Partition Data (Primary GPT Table : 2)", 1, 2, 32},
        {" (Apple_Free : 3)", 2, 34, 6},
        {"disk image (Apple_HFS : 4)", 3, 40, 204720},
        {" (Apple_Free : 5)", 4, 204760, 7},
        {"GPT Partition Data (Backup GPT Table : 6)", 5, 204767, 32},
        {"GPT Header (Backup GPT Header : 7)", 6, 204799, 1},
    };
    ASSERT_EQ(regions.size(), 8u);
    for (size_t i = 0; i < regions.size(); ++i)
    {
        EXPECT_EQ(regions[i].name, expected[i].name);
        EXPECT_EQ(regions[i].id, expected[i].id);
        EXPECT_EQ(regions[i].startSector, expected[i].start) << i;
        EXPECT_EQ(regions[i].sectorCount, expected[i].count) << i;
    }
    // The free gaps hold nothing; everything else is data.
    EXPECT_EQ(regions[3].unusedSectors, (std::vector<std::pair<uint64_t, uint64_t>>{{34, 6}}));
    EXPECT_EQ(regions[5].unusedSectors, (std::vector<std::pair<uint64_t, uint64_t>>{{204760, 7}}));
    EXPECT_TRUE(regions[4].unusedSectors.empty());
}
