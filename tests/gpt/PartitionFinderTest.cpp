// Finding the Mac partition on disks of any make, damaged ones included.
#include "gpt/GuidPartitionMap.h"
#include "gpt/PartitionFinder.h"
#include "io/ByteOrder.h"

#include <gtest/gtest.h>

#include <cstring>

namespace
{
// A disk of `sectors` zeros with this program's map on it, in memory.
std::vector<uint8_t> MakeDisk(uint64_t sectors, CPartitionType const& type)
{
    CPartitionLayout const layout = ComputePartitionLayout(sectors);
    std::vector<uint8_t> disk(sectors * kSectorBytes);
    std::vector<uint8_t> const entries = BuildPartitionEntries(layout, MakeRandomGuid(), type);
    std::vector<uint8_t> const header = BuildGptHeader(layout, true, MakeRandomGuid(), 0);
    std::memcpy(&disk[kSectorBytes], header.data(), header.size());
    std::memcpy(&disk[2 * kSectorBytes], entries.data(), entries.size());
    return disk;
}

bool Find(std::vector<uint8_t> const& disk, CPartitionPlace* place, std::string* error)
{
    CReadAt const read = [&disk](uint64_t offset, uint8_t* data, size_t size, std::string* why)
    {
        if (offset > disk.size() || size > disk.size() - offset)
        {
            *why = "read past the end";
            return false;
        }
        std::memcpy(data, disk.data() + offset, size);
        return true;
    };
    return FindMacPartition(read, disk.size(), place, error);
}
} // namespace

TEST(PartitionFinder, FindsEitherMacPartitionTakesABareVolumeWholeAndRefusesDamage)
{
    CPartitionPlace place;
    std::string error;
    for (CPartitionType const* type : {&GetAppleHfsPartitionType(), &GetAppleApfsPartitionType()})
    {
        std::vector<uint8_t> const disk = MakeDisk(2048, *type);
        ASSERT_TRUE(Find(disk, &place, &error)) << error;
        EXPECT_EQ(place.offset, 40 * kSectorBytes); // where hdiutil puts it, 40 sectors before the end
        EXPECT_EQ(place.size, (2048 - 80) * kSectorBytes);
    }

    std::vector<uint8_t> bare(64 * kSectorBytes, 0);
    ASSERT_TRUE(Find(bare, &place, &error)) << error;
    EXPECT_EQ(place.offset, 0u);
    EXPECT_EQ(place.size, bare.size());

    EXPECT_FALSE(Find(std::vector<uint8_t>(kSectorBytes), &place, &error));
    EXPECT_EQ(error, "the image's disk is empty");

    std::vector<uint8_t> disk = MakeDisk(2048, GetAppleHfsPartitionType());
    std::vector<uint8_t> const good = disk;
    PutLe32(&disk[kSectorBytes + 80], 1u << 30); // an entry count no map has
    EXPECT_FALSE(Find(disk, &place, &error));
    EXPECT_EQ(error, "the image's partition map is damaged");

    disk = good;
    PutLe64(&disk[2 * kSectorBytes + 40], 4096); // the partition ends past the disk
    EXPECT_FALSE(Find(disk, &place, &error));
    EXPECT_EQ(error, "the image's partition map is damaged");

    disk = good;
    disk[2 * kSectorBytes] ^= 0xFF; // a type nobody mounts as a Mac volume
    EXPECT_FALSE(Find(disk, &place, &error));
    EXPECT_EQ(error, "the image holds no HFS+ or APFS partition");
}
