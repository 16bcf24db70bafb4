// Shrinking a written container in place: everything it allocated is one run from block 0 with the
// space manager's internal pool last, so a smaller container keeps every block up to the pool and
// only the superblock, the space manager and the pool are written again.
#include "apfs/ApfsContainer.h"
#include "apfs/ApfsSpaceManager.h"

#include "hfsplus/HfsFileIo.h"
#include "io/ByteOrder.h"

#include <cstring>

bool ShrinkApfsContainer(int fd, uint64_t offset, uint64_t sizeBytes, uint64_t* newSizeBytes, std::string* error)
{
    CApfsBlock super(kApfsBlockSize), spaceman(kApfsBlockSize);
    if (!ReadAllAt(fd, super.data(), super.size(), offset, error) ||
        !ReadAllAt(fd, spaceman.data(), spaceman.size(), offset + kApfsSpacemanBlock * kApfsBlockSize, error))
        return false;
    uint64_t const blockCount = GetLe64(super.data() + 40);
    if (std::memcmp(super.data() + 32, "NXSB", 4) != 0 || GetLe32(super.data() + 36) != kApfsBlockSize ||
        GetLe32(spaceman.data() + 24) != (kApfsEphemeral | kApfsTypeSpaceman) || blockCount * kApfsBlockSize > sizeBytes)
    {
        *error = "the partition holds no APFS container this writer made";
        return false;
    }
    uint64_t const xid = GetLe64(super.data() + 16);
    uint64_t const dataEnd = GetLe64(spaceman.data() + 168);
    uint64_t const oldUsed = GetLe64(spaceman.data() + 176) + GetLe64(spaceman.data() + 152);
    CApfsSpace const space = ComputeSmallestApfsSpace(dataEnd);
    *newSizeBytes = sizeBytes;
    if (space.blockCount >= blockCount)
        return true;

    PutLe64(super.data() + 40, space.blockCount);
    PutLe32(super.data() + 180, GetApfsMostVolumes(space.blockCount));
    SealApfsBlock(super.data());
    std::vector<std::pair<uint64_t, CApfsBlock>> blocks;
    EmitApfsSpace(space, xid, &blocks);
    blocks.emplace_back(0, super);
    blocks.emplace_back(kApfsDescBase + 1, super);
    for (auto const& block : blocks)
        if (!WriteAllAt(fd, block.second.data(), block.second.size(), offset + block.first * kApfsBlockSize, error))
            return false;
    // What the larger pool held beyond the smaller one is free space now.
    uint64_t const end = std::min(oldUsed, space.blockCount);
    if (end > space.used &&
        !ZeroFileRange(fd, offset + space.used * kApfsBlockSize, (end - space.used) * kApfsBlockSize, error))
        return false;
    *newSizeBytes = space.blockCount * kApfsBlockSize;
    return true;
}
