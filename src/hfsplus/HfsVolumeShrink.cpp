// Shrinking a volume that WriteHfsVolume wrote to the blocks its contents use. That writer puts every
// structure and every fork in one run from block 0, so only free space at the end goes: nothing moves.
#include "hfsplus/HfsBitmap.h"
#include "hfsplus/HfsFileIo.h"
#include "hfsplus/HfsVolume.h"
#include "hfsplus/HfsVolumeHeader.h"

#include <algorithm>
#include <vector>

namespace
{
// Sets or clears one block's bit in the bitmap stored at `bitmapOffset`, touching only its byte.
bool SetUsed(int fd, uint64_t bitmapOffset, uint32_t block, bool used, std::string* error)
{
    uint8_t byte = 0;
    uint8_t const bit = static_cast<uint8_t>(0x80 >> (block % 8));
    uint64_t const at = bitmapOffset + block / 8;
    if (!ReadAllAt(fd, &byte, 1, at, error))
        return false;
    byte = static_cast<uint8_t>(used ? byte | bit : byte & ~bit);
    return WriteAllAt(fd, &byte, 1, at, error);
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
    uint64_t const bitmapOffset = offset + uint64_t(bitmapExtent.startBlock) * blockSize;
    std::vector<CHfsExtent> freeRuns;
    CHfsBitmapReadAt const read = [&](uint64_t position, uint8_t* data, size_t size, std::string* why)
    { return ReadAllAt(fd, data, size, bitmapOffset + position, why); };
    if (!FindHfsFreeRuns(read, oldTotal, &freeRuns, error))
        return false;

    // Everything from the start of the free run that holds the block before the last one goes.
    uint32_t usedEnd = oldTotal - 1;
    for (CHfsExtent const& run : freeRuns)
        if (usedEnd > 0 && run.startBlock < usedEnd && uint64_t(run.startBlock) + run.blockCount >= usedEnd)
            usedEnd = run.startBlock;
    uint32_t const minimumBlocks = uint32_t(GetMinimumHfsVolumeSize() / blockSize);
    uint32_t const newTotal = std::max(usedEnd + 1, minimumBlocks);
    *newSizeBytes = sizeBytes;
    if (newTotal >= oldTotal)
        return true;

    // The bitmap file keeps its length: bits past the end of the volume stay zero, as they must.
    // The new last block holds the alternate header.
    uint32_t freeBlocks = 0;
    for (CHfsExtent const& run : freeRuns)
    {
        uint64_t const end = std::min<uint64_t>(uint64_t(run.startBlock) + run.blockCount, newTotal);
        freeBlocks += end > run.startBlock ? uint32_t(end - run.startBlock) : 0;
        if (run.startBlock <= newTotal - 1 && newTotal - 1 < end)
            --freeBlocks;
    }
    header.totalBlocks = newTotal;
    header.freeBlocks = freeBlocks;
    uint8_t headerBytes[kHfsVolumeHeaderSize];
    PutHfsVolumeHeader(headerBytes, header);
    uint8_t const zeros[kHfsVolumeHeaderSize] = {};
    *newSizeBytes = uint64_t(newTotal) * blockSize;
    return SetUsed(fd, bitmapOffset, oldTotal - 1, false, error) &&
           SetUsed(fd, bitmapOffset, newTotal - 1, true, error) &&
           WriteAllAt(fd, zeros, sizeof zeros, offset + sizeBytes - 1024, error) &&
           WriteAllAt(fd, headerBytes, sizeof headerBytes, offset + *newSizeBytes - 1024, error) &&
           WriteAllAt(fd, headerBytes, sizeof headerBytes, offset + kHfsVolumeHeaderOffset, error);
}
