// The space manager of a container whose allocated blocks are one run from block 0: where its
// internal pool goes (right after the volume's blocks), and its blocks' bytes. The container writer
// and the shrink both lay it out from the same two numbers.
#pragma once

#include "apfs/ApfsObjects.h"

#include <cstdint>
#include <utility>
#include <vector>

// Fixed places of the checkpoint areas and their ephemeral objects.
constexpr uint64_t kApfsDescBase = 1, kApfsDescBlocks = 8;
constexpr uint64_t kApfsDataBase = 9, kApfsDataBlocks = 1015;
constexpr uint64_t kApfsSpacemanBlock = 9, kApfsReaperBlock = 10, kApfsPoolQueueBlock = 11, kApfsMainQueueBlock = 12;
constexpr uint64_t kApfsSpacemanOid = 0x400, kApfsReaperOid = 0x401, kApfsPoolQueueOid = 0x402,
                   kApfsMainQueueOid = 0x403;
// Physical objects begin here: lower object IDs are reserved.
constexpr uint64_t kApfsFirstObjectBlock = 1024;
// Containers below 128 MiB are laid out differently by Apple's tools, and checkers refuse them.
constexpr uint64_t kApfsMinimumBlocks = (128ull << 20) / kApfsBlockSize;

struct CApfsSpace
{
    uint64_t blockCount = 0;
    uint64_t chunks = 0;
    uint64_t cibs = 0;
    uint64_t poolBitmapBase = 0; // 16 blocks, the first in use
    uint64_t poolBase = 0;
    uint64_t poolBlocks = 0;
    uint64_t used = 0; // blocks [0, used) are allocated
};

// The space manager of `blockCount` blocks whose volume ends at `dataEnd`.
CApfsSpace ComputeApfsSpace(uint64_t blockCount, uint64_t dataEnd);
// The fewest blocks (at least the minimum) that hold a volume ending at `dataEnd`.
CApfsSpace ComputeSmallestApfsSpace(uint64_t dataEnd);

// How many volumes a container of `blockCount` blocks may hold: one per 512 MiB begun, at most 100.
uint32_t GetApfsMostVolumes(uint64_t blockCount);

// The space manager object, the pool's bitmap, the chunk bitmaps and chunk info blocks, sealed.
void EmitApfsSpace(CApfsSpace const& space, uint64_t xid, std::vector<std::pair<uint64_t, CApfsBlock>>* blocks);
