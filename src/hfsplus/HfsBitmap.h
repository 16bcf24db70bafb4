// The allocation file: one bit per allocation block, most significant bit first, set when in use.
#pragma once

#include "hfsplus/HfsVolumeHeader.h"

#include <cstdint>
#include <vector>

class CHfsBitmap
{
public:
    explicit CHfsBitmap(uint32_t totalBlocks) : m_totalBlocks(totalBlocks), m_bytes((totalBlocks + 7) / 8) {}

    void MarkUsed(uint32_t first, uint32_t count);
    uint32_t CountFree() const;
    std::vector<uint8_t> const& GetBytes() const { return m_bytes; }

private:
    uint32_t m_totalBlocks;
    std::vector<uint8_t> m_bytes;
};

// Runs of free blocks in a bitmap of `totalBlocks` blocks, in block order.
std::vector<CHfsExtent> FindHfsFreeRuns(std::vector<uint8_t> const& bitmap, uint32_t totalBlocks);
