// Writing a raw disk as a read-only UDIF image (UDZO, UDBZ, ULMO or UDRO).
#pragma once

#include "udif/ChunkCodec.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// One region of the partition map; each becomes one blkx table.
struct CUdifRegion
{
    std::string name;         // e.g. "disk image (Apple_HFS : 4)"
    int32_t id = 0;           // blkx ID: -1 for the protective MBR, then 0, 1, 2, ...
    uint64_t startSector = 0; // 512-byte sectors of the raw disk
    uint64_t sectorCount = 0;
    // Absolute sector ranges (start, count) inside this region that hold no data (free space of a
    // volume); they are stored as runs that read back as zeros and are never compressed.
    std::vector<std::pair<uint64_t, uint64_t>> unusedSectors;
};

// Writes the raw disk image at `rawPath` as a `format` image at `outPath`; UDZO is compressed with zlib
// level `level` (1..9), which the other formats ignore.
// The regions must cover the disk from sector 0 in order; each becomes one blkx table. Chunks are
// compressed on every core; unused sectors are never read, and holes of a sparse raw file are not read
// either. Writes a temporary file beside outPath and renames it into place (replacing a file there):
// on failure the temporary file is removed, outPath is not created (nor changed), and `error` says why.
// `error` may be null.
// `progress`, when set, is told the sectors done and in all as chunks are stored; giving false stops
// the write with the reason "interrupted" (and the temporary file is removed as on any failure).
// With SOURCE_DATE_EPOCH set the image's identifier is derived from its content, not drawn at random.
using CUdifProgress = std::function<bool(uint64_t done, uint64_t total)>;
[[nodiscard]] bool WriteUdifImage(std::string const& rawPath, std::vector<CUdifRegion> const& regions,
                                  std::string const& outPath, EUdifFormat format, int level,
                                  std::string* error, CUdifProgress const& progress = {});

[[nodiscard]] inline bool WriteUdzoImage(std::string const& rawPath, std::vector<CUdifRegion> const& regions,
                                         std::string const& outPath, int level, std::string* error,
                                         CUdifProgress const& progress = {})
{
    return WriteUdifImage(rawPath, regions, outPath, EUdifFormat::Udzo, level, error, progress);
}
