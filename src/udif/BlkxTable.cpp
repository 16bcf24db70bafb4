// Serialising a 'mish' block table with its runs and terminator.
#include "udif/BlkxTable.h"

#include "io/ByteOrder.h"

namespace
{
constexpr uint32_t kChecksumCrc32 = 2;

void PutRun(uint8_t* out, uint32_t type, uint64_t sector, uint64_t count, uint64_t offset, uint64_t length)
{
    PutBe32(out, type);
    PutBe32(out + 4, 0); // comment
    PutBe64(out + 8, sector);
    PutBe64(out + 16, count);
    PutBe64(out + 24, offset);
    PutBe64(out + 32, length);
}
} // namespace

// The block table ('mish', the "blkx" resources' data; BLKXTable in the public UDIF write-ups),
// big-endian:
//   offset size meaning
//        0    4 signature 'mish'
//        4    4 version, 1
//        8    8 first sector of the region on the disk
//       16    8 sector count of the region
//       24    8 data offset (0: run offsets are data fork offsets)
//       32    4 buffers needed, in sectors
//       36    4 block descriptor (the region's number in the partition list)
//       40   24 reserved
//       64    4 checksum type: 2 CRC-32
//       68    4 checksum size in bits, 32
//       72  128 checksum value (the first word used)
//      200    4 number of runs, the terminator included
//      204 40*n runs
// Run (block chunk), 40 bytes:
//        0    4 type (kBlkx* in BlkxTable.h)
//        4    4 comment (0)
//        8    8 first sector, relative to the region
//       16    8 sector count
//       24    8 offset of the stored bytes in the data fork
//       32    8 length of the stored bytes
std::vector<uint8_t> SerializeBlkxTable(CBlkxTable const& table)
{
    size_t const runCount = table.runs.size() + 1;
    std::vector<uint8_t> bytes(kMishHeaderSize + runCount * kMishRunSize, 0);
    uint8_t* p = bytes.data();
    PutBe32(p, kMishSignature);
    PutBe32(p + 4, 1);
    PutBe64(p + 8, table.firstSector);
    PutBe64(p + 16, table.sectorCount);
    PutBe64(p + 24, 0); // run offsets are data fork offsets
    // Sectors a reader needs in buffers: one chunk plus a little slack, as the platform writes it.
    PutBe32(p + 32, static_cast<uint32_t>(kBlkxChunkSectors + 8));
    PutBe32(p + 36, table.descriptor);
    // 24 reserved bytes, then the checksum: type, size in bits, 128 bytes of value.
    PutBe32(p + 64, kChecksumCrc32);
    PutBe32(p + 68, 32);
    PutBe32(p + 72, table.crc32);
    PutBe32(p + 200, static_cast<uint32_t>(runCount));

    uint8_t* run = p + kMishHeaderSize;
    uint64_t dataEnd = 0;
    for (CBlkxRun const& r : table.runs)
    {
        PutRun(run, r.type, r.sectorNumber, r.sectorCount, r.compressedOffset, r.compressedLength);
        run += kMishRunSize;
        dataEnd = r.compressedOffset + r.compressedLength;
    }
    PutRun(run, kBlkxTerminator, table.sectorCount, 0, dataEnd, 0);
    return bytes;
}
