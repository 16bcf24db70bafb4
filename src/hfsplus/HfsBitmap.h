// The allocation file: one bit per allocation block, most significant bit first, set when in use.
// It is handled in bounded pieces, never whole: a 16 TB volume's bitmap is 512 MB, nearly all zeros.
//
//   byte b, bit 7 - k (mask 0x80 >> k)   block 8 * b + k; 1 = in use
//   bytes past the last block            zero
#pragma once

#include "hfsplus/HfsVolumeHeader.h"
#include "io/ReadAt.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Reads or writes `size` bytes at byte `position` of the bitmap; false with a reason on failure.
using CHfsBitmapReadAt = CReadAt;
using CHfsBitmapWriteAt =
    std::function<bool(uint64_t position, uint8_t const* data, size_t size, std::string* error)>;

// A bitmap to be written, kept as its runs of used blocks.
class CHfsBitmap
{
public:
    explicit CHfsBitmap(uint32_t totalBlocks) : m_totalBlocks(totalBlocks) {}

    void MarkUsed(uint32_t first, uint32_t count);
    uint32_t CountFree() const;
    // Writes every byte that holds a used block, in ascending order and pieces of at most 64 KiB; the
    // other bytes are zeros and are not written (the target must already read as zeros).
    bool WriteUsedBytes(CHfsBitmapWriteAt const& write, std::string* error) const;

private:
    uint32_t m_totalBlocks;
    std::vector<CHfsExtent> m_used; // ascending, neither overlapping nor touching
};

// Runs of free blocks in a bitmap of `totalBlocks` blocks, in block order, read piece by piece.
bool FindHfsFreeRuns(CHfsBitmapReadAt const& read, uint32_t totalBlocks, std::vector<CHfsExtent>* runs,
                     std::string* error);
