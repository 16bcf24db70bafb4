// The bytes of written volumes: volume headers, allocation bitmap and space handling.
#include "HfsTestSupport.h"

#include "io/ByteOrder.h"

#include <algorithm>
#include <vector>

namespace
{

std::vector<uint8_t> ReadBytes(std::string const& path, uint64_t offset, size_t size)
{
    std::vector<uint8_t> bytes(size);
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(pread(fd, bytes.data(), size, off_t(offset)), ssize_t(size));
    close(fd);
    return bytes;
}

bool IsBlockUsed(std::vector<uint8_t> const& bitmap, uint32_t block)
{
    return (bitmap[block / 8] >> (7 - block % 8)) & 1;
}

} // namespace

TEST(HfsVolumeLayout, EmptyVolumeHeaderFields)
{
    CTempFolder dir;
    std::string const image = dir.Join("empty.img");
    uint64_t const size = 8 << 20;
    CHfsVolumeSettings settings = MakeSettings("Install Me", size);
    settings.openFolderId = 2;
    std::string error;
    ASSERT_TRUE(WriteVolumeFile(image, 0, settings, "", &error)) << error;

    std::vector<uint8_t> h = ReadBytes(image, 1024, 512);
    EXPECT_EQ(h[0], 'H');
    EXPECT_EQ(h[1], '+');
    EXPECT_EQ(GetBe16(&h[2]), 4);           // version
    EXPECT_EQ(GetBe32(&h[4]), 0x80000100u); // unmounted cleanly, no journal, spare nodes zero
    EXPECT_EQ(GetBe32(&h[8]), 0x31302E30u); // '10.0'
    EXPECT_EQ(GetBe32(&h[12]), 0u);         // no journal info block
    EXPECT_EQ(GetBe32(&h[16]), settings.createDate);
    EXPECT_EQ(GetBe32(&h[32]), 0u); // files
    EXPECT_EQ(GetBe32(&h[36]), 0u); // folders besides the root
    EXPECT_EQ(GetBe32(&h[40]), 4096u);
    EXPECT_EQ(GetBe32(&h[44]), 2048u);      // total blocks
    EXPECT_EQ(GetBe32(&h[64]), 16u);        // next catalog ID: the first user ID
    EXPECT_EQ(GetBe32(&h[80 + 4 * 0]), 0u); // no blessed system folder
    EXPECT_EQ(GetBe32(&h[80 + 4 * 2]), 2u); // open folder
    EXPECT_NE(GetBe64(&h[80 + 4 * 6]), 0u); // volume identifier
    // Catalog file: 8 KiB nodes, its fork in the header's catalogFile fork data.
    uint32_t catalogStart = GetBe32(&h[272 + 16]);
    std::vector<uint8_t> catalogHeader = ReadBytes(image, uint64_t(catalogStart) * 4096, 512);
    EXPECT_EQ(GetBe16(&catalogHeader[32]), 8192);
    EXPECT_EQ(GetBe16(&catalogHeader[34]), 516);
    EXPECT_EQ(GetBe32(&catalogHeader[20]), 2u); // root folder record and its thread
    EXPECT_EQ(GetBe64(&h[272]), uint64_t(GetBe32(&catalogHeader[36])) * 8192);
    uint32_t extentsStart = GetBe32(&h[192 + 16]);
    std::vector<uint8_t> extentsHeader = ReadBytes(image, uint64_t(extentsStart) * 4096, 512);
    EXPECT_EQ(GetBe16(&extentsHeader[32]), 4096);
    EXPECT_EQ(GetBe16(&extentsHeader[34]), 10);

    // The alternate header, 1024 bytes before the end, is the same.
    EXPECT_EQ(ReadBytes(image, size - 1024, 512), h);

    // The bitmap agrees with the free block count; the first block and the last are in use.
    uint32_t bitmapStart = GetBe32(&h[112 + 16]);
    std::vector<uint8_t> bitmap = ReadBytes(image, uint64_t(bitmapStart) * 4096, 2048 / 8);
    uint32_t free = 0;
    for (uint32_t b = 0; b < 2048; ++b)
        free += IsBlockUsed(bitmap, b) ? 0 : 1;
    EXPECT_EQ(GetBe32(&h[48]), free);
    EXPECT_TRUE(IsBlockUsed(bitmap, 0));
    EXPECT_TRUE(IsBlockUsed(bitmap, 2047));
    EXPECT_GT(free, 1900u);

    CHfsVolumeInfo info;
    int fd = open(image.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_TRUE(ReadHfsVolumeInfo(fd, 0, &info, &error)) << error;
    close(fd);
    EXPECT_EQ(info.volumeName, "Install Me");
    EXPECT_EQ(info.createDate, settings.createDate);
    EXPECT_EQ(info.openFolderId, 2u);
    EXPECT_EQ(info.freeBlocks, free);
}

TEST(HfsVolumeLayout, OddSizedPartitionKeepsAlternateHeaderOutsideFreeSpace)
{
    // A partition one sector past a block boundary: the alternate header starts inside the last
    // whole block, which must then be marked in use.
    CTempFolder dir;
    std::string const image = dir.Join("odd.img");
    uint64_t const size = (2u << 20) + 512;
    std::string error;
    ASSERT_TRUE(WriteVolumeFile(image, 0, MakeSettings("Odd", size), "", &error)) << error;
    std::vector<uint8_t> h = ReadBytes(image, 1024, 512);
    EXPECT_EQ(GetBe32(&h[44]), 512u);
    EXPECT_EQ(ReadBytes(image, size - 1024, 512), h);
    std::vector<uint8_t> bitmap = ReadBytes(image, uint64_t(GetBe32(&h[112 + 16])) * 4096, 64);
    EXPECT_TRUE(IsBlockUsed(bitmap, 511));
}

TEST(HfsVolumeLayout, RewriteLeavesNoStaleDataAndStaysSparse)
{
    CTempFolder dir;
    std::string const image = dir.Join("stale.img");
    uint64_t const offset = 40 * 512;
    uint64_t const size = 16 << 20;
    {
        // An image full of old bytes, with bytes after the partition that must survive.
        std::string junk(offset + size + 4096, '\xAA');
        WriteWholeFile(image, junk);
    }
    WriteWholeFile(dir.Join("tree/small.txt"), "small");
    std::string error;
    ASSERT_TRUE(WriteVolumeFile(image, offset, MakeSettings("Fresh", size), dir.Join("tree"), &error))
        << error;

    int fd = open(image.c_str(), O_RDONLY | O_CLOEXEC);
    std::vector<std::pair<uint64_t, uint64_t>> ranges;
    ASSERT_TRUE(ReadHfsFreeRanges(fd, offset, &ranges, &error)) << error;
    close(fd);
    ASSERT_FALSE(ranges.empty());
    uint64_t freeBytes = 0;
    for (auto const& [start, length] : ranges)
    {
        std::vector<uint8_t> bytes = ReadBytes(image, offset + start, size_t(length));
        EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 0), ptrdiff_t(length)) << start;
        freeBytes += length;
    }
    EXPECT_GT(freeBytes, size - (1 << 20));
    // The reserved first 1024 bytes are zero, the bytes before and after the partition untouched.
    std::vector<uint8_t> reserved = ReadBytes(image, offset, 1024);
    EXPECT_EQ(std::count(reserved.begin(), reserved.end(), 0), 1024);
    EXPECT_EQ(ReadBytes(image, offset - 1, 1)[0], 0xAA);
    EXPECT_EQ(ReadBytes(image, offset + size, 1)[0], 0xAA);
    // Free space is a hole: far less than the partition is allocated on disk.
    struct stat st;
    ASSERT_EQ(stat(image.c_str(), &st), 0);
    EXPECT_LT(uint64_t(st.st_blocks) * 512, uint64_t(4) << 20);
}

TEST(HfsVolumeLayout, RefusesSizesOutsideWhatHfsPlusHolds)
{
    CTempFolder dir;
    std::string error;
    EXPECT_FALSE(WriteVolumeFile(dir.Join("tiny.img"), 0,
                                 MakeSettings("Tiny", GetMinimumHfsVolumeSize() - 512), "", &error));
    EXPECT_NE(error.find("too small"), std::string::npos) << error;
    EXPECT_TRUE(
        WriteVolumeFile(dir.Join("min.img"), 0, MakeSettings("Min", GetMinimumHfsVolumeSize()), "", &error))
        << error;
    EXPECT_FALSE(WriteVolumeFile(dir.Join("noname.img"), 0, MakeSettings("", 1 << 20), "", &error));
}

TEST(HfsVolumeLayout, VolumeIdentifierSurvivesRewritesAndNameNormalization)
{
    CTempFolder dir;
    std::string const image = dir.Join("id.img");
    std::string error;
    auto const readIdentifier = [&](std::string const& name)
    {
        EXPECT_TRUE(WriteVolumeFile(image, 0, MakeSettings(name, 1 << 20), "", &error)) << error;
        return GetBe64(&ReadBytes(image, 1024 + 80 + 4 * 6, 8)[0]);
    };
    uint64_t const composed = readIdentifier("Caf\xC3\xA9");
    EXPECT_EQ(readIdentifier("Caf\xC3\xA9"), composed);
    EXPECT_EQ(readIdentifier("Cafe\xCC\x81"), composed);
    EXPECT_NE(readIdentifier("Cafe"), composed);
}
