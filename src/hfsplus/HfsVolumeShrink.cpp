// Shrinking a volume that WriteHfsVolume wrote to the blocks its contents use. That writer puts every
// structure and every fork in one run from block 0, so only free space at the end goes: nothing moves.
#include "hfsplus/HfsFileIo.h"
#include "hfsplus/HfsVolume.h"
#include "hfsplus/HfsVolumeHeader.h"

#include <algorithm>
#include <vector>

namespace
{
bool IsUsed(std::vector<uint8_t> const& bitmap, uint32_t block)
{
    return (bitmap[block / 8] & (0x80 >> (block % 8))) != 0;
}

void SetUsed(std::vector<uint8_t>* bitmap, uint32_t block, bool used)
{
    uint8_t const bit = static_cast<uint8_t>(0x80 >> (block % 8));
    (*bitmap)[block / 8] =
        static_cast<uint8_t>(used ? (*bitmap)[block / 8] | bit : (*bitmap)[block / 8] & ~bit);
}
} // namespace

bool ShrinkHfsVolume(int fd, uint64_t offset, uint64_t sizeBytes, uint64_t* newSizeBytes, std::string* error)
{
    CHfsVolumeHeader header;
    if (!ReadHfsVolumeHeader(fd, offset, &header, error))
        return false;
    uint32_t const blockSize = header.blockSize;
    uint32_t const oldTotal = header.totalBlocks;
    CHfsExtent const& bitmapExtent = header.allocationFile.extents[0];
    size_t const bitmapBytes = (oldTotal + 7) / 8;
    // The alternate header sits in the last block, which is marked in use for it.
    if (uint64_t(oldTotal) * blockSize != sizeBytes || header.allocationFile.extents[1].blockCount != 0 ||
        uint64_t(bitmapExtent.blockCount) * blockSize < bitmapBytes)
    {
        *error = "the volume is not laid out as this tool writes volumes; it can't be shrunk here";
        return false;
    }
    std::vector<uint8_t> bitmap(bitmapBytes);
    uint64_t const bitmapOffset = offset + uint64_t(bitmapExtent.startBlock) * blockSize;
    if (!ReadAllAt(fd, bitmap.data(), bitmap.size(), bitmapOffset, error))
        return false;

    uint32_t usedEnd = oldTotal - 1;
    while (usedEnd > 0 && !IsUsed(bitmap, usedEnd - 1))
        --usedEnd;
    uint32_t const minimumBlocks = uint32_t(GetMinimumHfsVolumeSize() / blockSize);
    uint32_t const newTotal = std::max(usedEnd + 1, minimumBlocks);
    *newSizeBytes = sizeBytes;
    if (newTotal >= oldTotal)
        return true;

    // The bitmap file keeps its length: bits past the end of the volume stay zero, as they must.
    SetUsed(&bitmap, oldTotal - 1, false);
    SetUsed(&bitmap, newTotal - 1, true);
    uint32_t freeBlocks = 0;
    for (uint32_t block = 0; block < newTotal; ++block)
        freeBlocks += IsUsed(bitmap, block) ? 0 : 1;
    header.totalBlocks = newTotal;
    header.freeBlocks = freeBlocks;
    uint8_t headerBytes[kHfsVolumeHeaderSize];
    PutHfsVolumeHeader(headerBytes, header);
    uint8_t const zeros[kHfsVolumeHeaderSize] = {};
    *newSizeBytes = uint64_t(newTotal) * blockSize;
    return WriteAllAt(fd, bitmap.data(), bitmap.size(), bitmapOffset, error) &&
           WriteAllAt(fd, zeros, sizeof zeros, offset + sizeBytes - 1024, error) &&
           WriteAllAt(fd, headerBytes, sizeof headerBytes, offset + *newSizeBytes - 1024, error) &&
           WriteAllAt(fd, headerBytes, sizeof headerBytes, offset + kHfsVolumeHeaderOffset, error);
}
