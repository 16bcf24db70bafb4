// Listing a whole HFS+ volume read from an untrusted source: its header, every catalog item and
// the data forks of chosen files.
#pragma once

#include "hfsplus/HfsVolumeHeader.h"
#include "io/ReadAt.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

// Reads `size` bytes at `offset` of the volume; false with a reason when they aren't there.
using CVolumeReadAt = CReadAt;

struct CHfsListedItem
{
    uint32_t id = 0;
    uint32_t parentId = 0;
    bool folder = false;
    std::string name;         // UTF-8
    uint16_t finderFlags = 0; // of the item's Finder info
    CHfsForkData dataFork;    // files only
};

struct CHfsVolumeListing
{
    CHfsVolumeHeader header;
    std::string volumeName; // the root folder's name
    std::vector<CHfsListedItem> items;
    std::unordered_map<uint32_t, size_t> byId; // index into items
};

// Reads the volume header and walks the catalog's leaf nodes; false with a one-line reason when the
// volume is damaged. Every length is checked against the volume; the walk visits each node once.
bool ReadHfsVolumeListing(CVolumeReadAt const& read, CHfsVolumeListing* listing, std::string* error);

// The path of an item from the volume root ("/Folder/name"; "/" for the root); empty when its
// chain of parents is broken or loops.
std::string GetHfsItemPath(CHfsVolumeListing const& listing, uint32_t id);

// Bytes of a fork from `position`, read through its first eight extents, each checked against the
// volume's size.
bool ReadHfsForkBytes(CVolumeReadAt const& read, CHfsVolumeHeader const& header, CHfsForkData const& fork,
                      uint64_t position, uint8_t* data, size_t size, std::string* error);

// The whole data fork of a file of at most `maxBytes`, read through its first eight extents.
bool ReadHfsDataFork(CVolumeReadAt const& read, CHfsVolumeListing const& listing, CHfsForkData const& fork,
                     uint64_t maxBytes, std::vector<uint8_t>* data, std::string* error);
