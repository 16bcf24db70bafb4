#include "hfsplus/HfsBitmap.h"

namespace
{

bool IsBitSet(std::vector<uint8_t> const& bitmap, uint32_t block)
{
    return (bitmap[block / 8] & (0x80 >> (block % 8))) != 0;
}

} // namespace

void CHfsBitmap::MarkUsed(uint32_t first, uint32_t count)
{
    for (uint32_t b = first; b < first + count && b < m_totalBlocks; ++b)
        m_bytes[b / 8] |= uint8_t(0x80 >> (b % 8));
}

uint32_t CHfsBitmap::CountFree() const
{
    uint32_t used = 0;
    for (uint8_t byte : m_bytes)
        used += uint32_t(__builtin_popcount(byte));
    return m_totalBlocks - used;
}

std::vector<CHfsExtent> FindHfsFreeRuns(std::vector<uint8_t> const& bitmap, uint32_t totalBlocks)
{
    std::vector<CHfsExtent> runs;
    uint32_t block = 0;
    while (block < totalBlocks)
    {
        // Whole bytes at once: a volume is mostly long runs of one kind.
        if (block % 8 == 0 && block + 8 <= totalBlocks && (bitmap[block / 8] == 0xFF))
        {
            block += 8;
            continue;
        }
        if (IsBitSet(bitmap, block))
        {
            ++block;
            continue;
        }
        uint32_t start = block;
        while (block < totalBlocks)
        {
            if (block % 8 == 0 && block + 8 <= totalBlocks && bitmap[block / 8] == 0)
                block += 8;
            else if (!IsBitSet(bitmap, block))
                ++block;
            else
                break;
        }
        runs.push_back({start, block - start});
    }
    return runs;
}
