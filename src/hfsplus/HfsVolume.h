// Writing and inspecting an HFS+ volume inside a disk image file, without mounting it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

struct CHfsVolumeSpec
{
    std::string volumeName;     // UTF-8
    uint64_t sizeBytes = 0;     // size of the partition that holds the volume
    uint32_t createDate = 0;    // seconds since 1904-01-01, as stored in the volume header
    uint32_t openFolderId = 0;  // folder the Finder opens on mount (finder info word 2); 0 for none
    // Catalog node IDs that were promised before the volume was written (by bless or by an alias
    // record), keyed by the path relative to the volume root ("Folder/picture.png"; "" is the root).
    std::map<std::string, uint32_t> fixedIds;
};

struct CHfsVolumeInfo
{
    std::string volumeName; // UTF-8
    uint32_t createDate = 0;
    uint32_t blockSize = 0;
    uint32_t totalBlocks = 0;
    uint32_t freeBlocks = 0;
    uint32_t nextCatalogId = 0;
    uint32_t openFolderId = 0;
};

// Smallest partition that holds a volume.
uint64_t GetMinimumHfsVolumeSize();

// Writes a fresh volume at byte `offset` of the open file `fd`, filled from the directory tree at
// `sourceRoot` (an empty volume when sourceRoot is empty). On failure returns false with a
// one-line reason in `error` (for example a FIFO or device in the tree, or a tree that doesn't fit).
bool WriteHfsVolume(int fd, uint64_t offset, CHfsVolumeSpec const& spec, std::string const& sourceRoot,
                    std::string* error);

// Reads the volume header and the root folder's name of a volume written by WriteHfsVolume.
bool ReadHfsVolumeInfo(int fd, uint64_t offset, CHfsVolumeInfo* info, std::string* error);

// Byte ranges of the volume, relative to `offset`, that hold no data (free allocation blocks), as
// (start, length) pairs in ascending order.
bool ReadHfsFreeRanges(int fd, uint64_t offset, std::vector<std::pair<uint64_t, uint64_t>>* ranges,
                       std::string* error);
