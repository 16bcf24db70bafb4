// Reading the disk inside a UDIF image (.dmg) without trusting it: the 'koly' trailer, the block
// tables of its property list, and the runs they map, decompressed one at a time on demand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Reads `size` bytes at `offset` of the image file; false with a reason when they aren't there.
using CImageReadAt = std::function<bool(uint64_t offset, uint8_t* data, size_t size, std::string* error)>;

// Largest run the reader decompresses, in 512-byte sectors (16 MiB); images written by the
// platform's tools and by us use runs of 1 MiB or less.
constexpr uint64_t kUdifMaxRunSectors = 32768;

// True when the last 512 bytes of a file of `fileSize` bytes are a 'koly' trailer.
bool IsUdifImage(CImageReadAt const& read, uint64_t fileSize);

class CUdifImageReader
{
public:
    // Reads the trailer and every block table; false with a one-line reason when the image is
    // damaged or uses a run type this reader doesn't know.
    bool Open(CImageReadAt read, uint64_t fileSize, std::string* error);

    uint64_t GetDiskSize() const { return diskSectors * 512; }

    // Bytes of the disk the image holds; sectors no table maps read as zeros.
    bool ReadDisk(uint64_t offset, uint8_t* data, size_t size, std::string* error);

private:
    struct CRun
    {
        uint32_t type;
        uint64_t firstSector; // on the disk
        uint64_t sectorCount;
        uint64_t offset; // in the image file
        uint64_t length;
    };

    bool AddBlockTable(std::vector<uint8_t> const& table, std::string* error);
    bool LoadRun(size_t index, std::string* error);

    CImageReadAt read;
    uint64_t diskSectors = 0;
    std::vector<CRun> runs; // sorted by firstSector, not overlapping
    size_t cachedRun = SIZE_MAX;
    std::vector<uint8_t> cache; // the decompressed bytes of runs[cachedRun]
};
