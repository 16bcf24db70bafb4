// GUID partition map, the fields read here (little-endian): sector 1 header: 0 "EFI PART",
//   72 first sector of the entries, 80 entry count, 84 entry size; each entry: 0 type GUID,
//   32 first sector, 40 last sector.
#include "gpt/PartitionFinder.h"

#include "gpt/GuidPartitionMap.h"
#include "io/ByteOrder.h"

#include <cstring>
#include <vector>

namespace
{
// Partition tables with more entries than this are taken as damage.
constexpr uint32_t kMaxPartitionEntries = 1024;
} // namespace

bool FindMacPartition(CReadAt const& read, uint64_t diskSize, CPartitionPlace* place, std::string* error)
{
    *place = {0, diskSize};
    uint8_t header[kSectorBytes];
    if (diskSize < 2 * kSectorBytes)
    {
        *error = "the image's disk is empty";
        return false;
    }
    if (!read(kSectorBytes, header, kSectorBytes, error))
        return false;
    if (std::memcmp(header, "EFI PART", 8) != 0)
        return true;
    uint64_t const entriesAt = GetLe64(header + 72);
    uint32_t const count = GetLe32(header + 80);
    uint32_t const entrySize = GetLe32(header + 84);
    uint64_t const diskSectors = diskSize / kSectorBytes;
    if (count > kMaxPartitionEntries || entrySize < 128 || entrySize > 4096 || entriesAt > diskSectors)
    {
        *error = "the image's partition map is damaged";
        return false;
    }
    std::vector<uint8_t> entry(entrySize);
    for (uint32_t i = 0; i < count; ++i)
    {
        if (!read(entriesAt * kSectorBytes + uint64_t(i) * entrySize, entry.data(), entrySize, error))
            return false;
        if (!FindMacPartitionType(entry.data()))
            continue;
        uint64_t const first = GetLe64(&entry[32]);
        uint64_t const last = GetLe64(&entry[40]);
        if (last < first || last >= diskSectors)
        {
            *error = "the image's partition map is damaged";
            return false;
        }
        *place = {first * kSectorBytes, (last - first + 1) * kSectorBytes};
        return true;
    }
    *error = "the image holds no HFS+ or APFS partition";
    return false;
}
