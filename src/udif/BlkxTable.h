// The 'mish' block table that maps one region of the disk onto runs of the data fork.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Run types of a block table.
constexpr uint32_t kMishSignature = 0x6D697368; // 'mish'
constexpr size_t kMishHeaderSize = 204;
constexpr size_t kMishRunSize = 40;

constexpr uint32_t kBlkxZeroFill = 0x00000000;   // reads as zeros, nothing stored
constexpr uint32_t kBlkxRaw = 0x00000001;        // stored as is
constexpr uint32_t kBlkxIgnore = 0x00000002;     // unused space, reads as zeros, not checksummed
constexpr uint32_t kBlkxZlib = 0x80000005;       // one zlib stream (UDZO)
constexpr uint32_t kBlkxBzip2 = 0x80000006;      // one bzip2 stream (UDBZ)
constexpr uint32_t kBlkxLzfse = 0x80000007;      // one LZFSE stream (ULFO; not written here)
constexpr uint32_t kBlkxLzma = 0x80000008;       // one .xz stream of LZMA2 (ULMO)
constexpr uint32_t kBlkxTerminator = 0xFFFFFFFF; // ends the table

// Largest run that readers must buffer, in 512-byte sectors (1 MiB).
constexpr uint64_t kBlkxChunkSectors = 2048;

struct CBlkxRun
{
    uint32_t type = kBlkxZeroFill;
    uint64_t sectorNumber = 0; // relative to the table's first sector
    uint64_t sectorCount = 0;
    uint64_t compressedOffset = 0; // within the data fork; where the next data goes for unstored runs
    uint64_t compressedLength = 0;
};

struct CBlkxTable
{
    uint64_t firstSector = 0;
    uint64_t sectorCount = 0;
    uint32_t descriptor = 0;
    uint32_t crc32 = 0;         // over the bytes the table reads back as, ignored runs left out
    std::vector<CBlkxRun> runs; // without the terminator, which serialisation appends
};

// Serialises the table as the big-endian 'mish' structure (204-byte header, 40 bytes per run).
std::vector<uint8_t> SerializeBlkxTable(CBlkxTable const& table);
