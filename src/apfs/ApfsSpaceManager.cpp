// The space manager and its internal pool.
//
// Space manager (spaceman_phys_t): 32 block size, 36 blocks per chunk, 40 chunks per chunk info
// block, 44 chunk info blocks per address block; 48 the main device (block, chunk, info block and
// address block counts, free blocks, offset of the info block addresses); 148 the internal pool's
// transaction multiplier, 152 its blocks, 160 its bitmap's size and 164 blocks, 168 bitmap base,
// 176 pool base; 200 the three free queues (count, tree, oldest transaction, node limit); 320 free
// bitmap list head and tail, 324 offsets of the bitmap transactions, the bitmap offsets and the free
// list within this object, 336 version.
// Chunk info block (chunk_info_block_t): 32 index, 36 count, 40 entries of 32 bytes: transaction,
// first block, block count, free count, bitmap block (0 for a chunk with nothing allocated).
// Bitmaps (one block per chunk of 32768 blocks, a set bit an allocated block) have no header.
#include "apfs/ApfsSpaceManager.h"

#include "io/ByteOrder.h"

#include <algorithm>

namespace
{
constexpr uint64_t kBlocksPerChunk = kApfsBlockSize * 8;
constexpr uint64_t kChunksPerCib = (kApfsBlockSize - 40) / 32;
constexpr uint64_t kPoolBitmapBlocks = 16;

uint64_t DivideUp(uint64_t a, uint64_t b)
{
    return (a + b - 1) / b;
}

// The node limits of the free queues, which Apple's tools take from the container's size: the
// internal pool's from its chunks, the main one's linear in the blocks within (0, 1 GiB),
// [1 GiB, 4 GiB) and fixed above; a limit of 2 becomes 3, to leave room for a new root.
uint16_t GetPoolQueueLimit(uint64_t chunks)
{
    uint16_t const limit = uint16_t(3 * (chunks + 751) / 1127 - 1);
    return limit == 2 ? 3 : limit;
}

uint16_t GetMainQueueLimit(uint64_t blocks)
{
    uint16_t limit = 512;
    if (blocks < 0x40000)
        limit = uint16_t(1 + (blocks - 1) / 4544);
    else if (blocks < 0x100000)
        limit = uint16_t(116 + (blocks - 261281) / 2272);
    return limit == 2 ? 3 : limit;
}

uint64_t GetChunksInUse(CApfsSpace const& space)
{
    return DivideUp(space.used, kBlocksPerChunk);
}

uint64_t GetCibBlock(CApfsSpace const& space, uint64_t index)
{
    return space.poolBase + GetChunksInUse(space) + index;
}

CApfsBlock MakeSpaceman(CApfsSpace const& space, uint64_t xid)
{
    CApfsBlock b(kApfsBlockSize, 0);
    uint8_t* p = b.data();
    PutApfsHeader(p, kApfsSpacemanOid, xid, kApfsEphemeral | kApfsTypeSpaceman, 0);
    PutLe32(p + 32, kApfsBlockSize);
    PutLe32(p + 36, uint32_t(kBlocksPerChunk));
    PutLe32(p + 40, uint32_t(kChunksPerCib));
    PutLe32(p + 44, (kApfsBlockSize - 40) / 8);
    PutLe64(p + 48, space.blockCount);
    PutLe64(p + 56, space.chunks);
    PutLe32(p + 64, uint32_t(space.cibs));
    PutLe64(p + 72, space.blockCount - space.used);
    uint32_t const addressOffset = 384;
    PutLe32(p + 80, addressOffset);
    PutLe32(p + 128, addressOffset + uint32_t(8 * space.cibs)); // the second tier's, unused
    PutLe32(p + 148, 16);
    PutLe64(p + 152, space.poolBlocks);
    PutLe32(p + 160, 1);
    PutLe32(p + 164, uint32_t(kPoolBitmapBlocks));
    PutLe64(p + 168, space.poolBitmapBase);
    PutLe64(p + 176, space.poolBase);
    PutLe64(p + 208, kApfsPoolQueueOid);
    PutLe16(p + 224, GetPoolQueueLimit(space.chunks));
    PutLe64(p + 248, kApfsMainQueueOid);
    PutLe16(p + 264, GetMainQueueLimit(space.blockCount));
    PutLe16(p + 320, 1);
    PutLe16(p + 322, uint16_t(kPoolBitmapBlocks - 1));
    PutLe32(p + 324, 336);
    PutLe32(p + 328, 344);
    PutLe32(p + 332, 352);
    PutLe32(p + 336, 1);
    // Bitmap block 0 holds the pool's bitmap; the others are free, each naming the next.
    PutLe16(p + 352, 0xFFFF);
    for (uint64_t i = 1; i < kPoolBitmapBlocks; ++i)
        PutLe16(p + 352 + 2 * i, i + 1 < kPoolBitmapBlocks ? uint16_t(i + 1) : uint16_t(0xFFFF));
    for (uint64_t c = 0; c < space.cibs; ++c)
        PutLe64(p + addressOffset + 8 * c, GetCibBlock(space, c));
    SealApfsBlock(p);
    return b;
}
} // namespace

uint32_t GetApfsMostVolumes(uint64_t blockCount)
{
    uint64_t const volumes = DivideUp(blockCount * kApfsBlockSize, 512ull << 20);
    return uint32_t(std::min<uint64_t>(100, std::max<uint64_t>(1, volumes)));
}

CApfsSpace ComputeApfsSpace(uint64_t blockCount, uint64_t dataEnd)
{
    CApfsSpace s;
    s.blockCount = blockCount;
    s.chunks = DivideUp(blockCount, kBlocksPerChunk);
    s.cibs = DivideUp(s.chunks, kChunksPerCib);
    s.poolBitmapBase = dataEnd;
    s.poolBase = dataEnd + kPoolBitmapBlocks;
    s.poolBlocks = (s.chunks + s.cibs) * 3;
    s.used = s.poolBase + s.poolBlocks;
    return s;
}

CApfsSpace ComputeSmallestApfsSpace(uint64_t dataEnd)
{
    uint64_t count = kApfsMinimumBlocks;
    for (;;)
    {
        CApfsSpace const space = ComputeApfsSpace(count, dataEnd);
        if (space.used <= count)
            return space;
        count = space.used;
    }
}

void EmitApfsSpace(CApfsSpace const& space, uint64_t xid, std::vector<std::pair<uint64_t, CApfsBlock>>* blocks)
{
    blocks->emplace_back(kApfsSpacemanBlock, MakeSpaceman(space, xid));
    uint64_t const chunksInUse = GetChunksInUse(space);
    CApfsBlock poolBitmap(kApfsBlockSize, 0);
    for (uint64_t i = 0; i < chunksInUse + space.cibs; ++i)
        poolBitmap[i / 8] |= uint8_t(1u << (i % 8));
    blocks->emplace_back(space.poolBitmapBase, poolBitmap);
    for (uint64_t c = 0; c < chunksInUse; ++c)
    {
        CApfsBlock bitmap(kApfsBlockSize, 0);
        uint64_t const first = c * kBlocksPerChunk;
        for (uint64_t i = 0; i < kBlocksPerChunk && first + i < space.used; ++i)
            bitmap[i / 8] |= uint8_t(1u << (i % 8));
        blocks->emplace_back(space.poolBase + c, bitmap);
    }
    for (uint64_t c = 0; c < space.cibs; ++c)
    {
        CApfsBlock cib(kApfsBlockSize, 0);
        uint8_t* p = cib.data();
        uint64_t const block = GetCibBlock(space, c);
        PutApfsHeader(p, block, xid, kApfsPhysical | kApfsTypeChunkInfo, 0);
        uint64_t const firstChunk = c * kChunksPerCib;
        uint64_t const count = std::min(kChunksPerCib, space.chunks - firstChunk);
        PutLe32(p + 32, uint32_t(c));
        PutLe32(p + 36, uint32_t(count));
        for (uint64_t i = 0; i < count; ++i)
        {
            uint64_t const chunk = firstChunk + i;
            uint64_t const start = chunk * kBlocksPerChunk;
            uint64_t const size = std::min(kBlocksPerChunk, space.blockCount - start);
            uint64_t const used = space.used > start ? std::min(size, space.used - start) : 0;
            uint8_t* e = p + 40 + 32 * i;
            PutLe64(e, xid);
            PutLe64(e + 8, start);
            PutLe32(e + 16, uint32_t(size));
            PutLe32(e + 20, uint32_t(size - used));
            PutLe64(e + 24, chunk < chunksInUse ? space.poolBase + chunk : 0);
        }
        SealApfsBlock(p);
        blocks->emplace_back(block, cib);
    }
}
