// Reading the disk inside a UDIF image (.dmg) without trusting it: the 'koly' trailer, the block
// tables of its property list, and the runs they map, decompressed on demand. The runs read last are
// kept (a few MiB), so a volume whose structures hop between runs doesn't decompress a run for every
// read; and the work done on an image is bounded by its size (see Open), so no image, however its
// tables point, keeps a reader busy for longer than images of its size need.
#pragma once

#include "io/ReadAt.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <vector>

// Reads `size` bytes at `offset` of the image file; false with a reason when they aren't there.
using CImageReadAt = CReadAt;

// Largest run the reader decompresses, in 512-byte sectors (16 MiB); images written by the
// platform's tools and by us use runs of 1 MiB or less.
constexpr uint64_t kUdifMaxRunSectors = 32768;

// True when the last 512 bytes of a file of `fileSize` bytes are a 'koly' trailer.
bool IsUdifImage(CImageReadAt const& read, uint64_t fileSize);
// The same for a file by name: false also when it is not a regular file or can't be read.
bool IsUdifImageFile(std::string const& path);

// The work a reader may do on an image of `fileSize` bytes, in bytes decompressed and handed out:
// 64 times its size and 64 MiB more.
uint64_t GetUdifReadBudget(uint64_t fileSize);

class CUdifImageReader
{
public:
    // Reads the trailer and every block table; false with a one-line reason when the image is
    // damaged or uses a run type this reader doesn't know.
    bool Open(CImageReadAt read, uint64_t fileSize, std::string* error);

    uint64_t GetDiskSize() const { return diskSectors * 512; }

    // Bytes of the disk the image holds; sectors no table maps read as zeros. Fails once the
    // image's budget is spent, or when `stop` (if set) says so.
    bool ReadDisk(uint64_t offset, uint8_t* data, size_t size, std::string* error);

    // Asked before every read: true stops the reader (a signal arrived, say).
    void SetStopCheck(std::function<bool()> stop) { stopCheck = std::move(stop); }

    // Bytes decompressed (or copied from stored runs) and handed out so far.
    uint64_t GetWorkDone() const { return workDone; }

private:
    struct CRun
    {
        uint32_t type;
        uint64_t firstSector; // on the disk
        uint64_t sectorCount;
        uint64_t offset; // in the image file
        uint64_t length;
    };

    struct CCachedRun
    {
        size_t index; // into runs
        std::vector<uint8_t> bytes;
    };

    bool AddBlockTable(std::vector<uint8_t> const& table, std::string* error);
    // The decompressed bytes of runs[index], from the cache or read now.
    std::vector<uint8_t> const* LoadRun(size_t index, std::string* error);
    bool SpendWork(uint64_t bytes, std::string* error);

    CImageReadAt read;
    uint64_t diskSectors = 0;
    std::vector<CRun> runs; // sorted by firstSector, not overlapping
    std::list<CCachedRun> cache; // most recently used first
    uint64_t cachedBytes = 0;
    uint64_t workDone = 0;
    uint64_t workBudget = 0;
    std::function<bool()> stopCheck;
};
