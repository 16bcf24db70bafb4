#include "udif/BlkxTable.h"

#include "io/ByteOrder.h"

namespace
{
constexpr size_t kHeaderSize = 204;
constexpr size_t kRunSize = 40;
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

std::vector<uint8_t> SerializeBlkxTable(CBlkxTable const& table)
{
    size_t const runCount = table.runs.size() + 1;
    std::vector<uint8_t> bytes(kHeaderSize + runCount * kRunSize, 0);
    uint8_t* p = bytes.data();
    PutBe32(p, 0x6D697368); // 'mish'
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

    uint8_t* run = p + kHeaderSize;
    uint64_t dataEnd = 0;
    for (CBlkxRun const& r : table.runs)
    {
        PutRun(run, r.type, r.sectorNumber, r.sectorCount, r.compressedOffset, r.compressedLength);
        run += kRunSize;
        dataEnd = r.compressedOffset + r.compressedLength;
    }
    PutRun(run, kBlkxTerminator, table.sectorCount, 0, dataEnd, 0);
    return bytes;
}
