// Reading an APFS container's first volume, as the image dump needs it: the volume's name, every
// item with its name, folder, kind, size and Finder flags, and a file's bytes. Every object read is
// checked (checksum, type, bounds), so a damaged container is refused with a reason, never trusted.
#pragma once

#include "io/ReadAt.h"
#include "volume/VolumeTree.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

// Reads `size` bytes at `offset` of the container; false with a reason.
using CApfsReadAt = CReadAt;

constexpr uint64_t kApfsRootInode = 2;

struct CApfsExtentRead
{
    uint64_t logical = 0;
    uint64_t block = 0;
    uint64_t length = 0; // bytes
};

struct CApfsListedItem
{
    uint64_t id = 0;
    uint64_t parent = 0;
    std::string name;
    EVolumeItemKind kind = EVolumeItemKind::File;
    uint64_t privateId = 0;
    uint64_t size = 0;
    uint16_t finderFlags = 0;
};

struct CApfsVolumeListing
{
    std::string volumeName;
    int64_t createTime = 0; // nanoseconds since 1970, when the volume was formatted
    std::map<uint64_t, CApfsListedItem> items;                  // by inode number
    std::map<uint64_t, std::vector<CApfsExtentRead>> extents;   // by data stream (private) ID
};

// True when the bytes read at the start of a partition are an APFS container superblock.
bool IsApfsContainer(uint8_t const* firstBytes, size_t size);

bool ReadApfsVolumeListing(CApfsReadAt const& read, CApfsVolumeListing* listing, std::string* error);

// "/Folder/name" of an item ("/" for the root); empty when it or a folder on the way is unknown.
std::string GetApfsItemPath(CApfsVolumeListing const& listing, uint64_t id);

// A file's bytes, at most `maxBytes` of them (more is an error).
bool ReadApfsFileBytes(CApfsReadAt const& read, CApfsVolumeListing const& listing, CApfsListedItem const& item,
                       uint64_t maxBytes, std::vector<uint8_t>* bytes, std::string* error);
