// The items of a volume as the HFS+ writer lays them out: the volume tree's items with their stored
// names, catalog IDs and places.
#pragma once

#include "volume/VolumeTree.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

enum class EHfsItemKind
{
    Folder,
    File,
    Symlink
};

struct CHfsItem
{
    EHfsItemKind kind = EHfsItemKind::Folder;
    std::string path;     // relative to the tree's root, UTF-8; "" for the root itself
    std::u16string name;  // stored name (the volume name for the root)
    size_t parent = 0;    // index of the parent folder in the item list (the root points at itself)
    uint32_t id = 0;      // catalog node ID
    uint64_t size = 0;    // data fork length: file size or symlink target length
    uint16_t mode = 0;    // BSD mode with the file type bits
    uint32_t date = 0;    // modification time, seconds since 1904 GMT
    uint32_t valence = 0; // folders: number of direct children
    std::string linkTarget;
    CVolumeFileData data; // files: where the bytes come from
    uint32_t startBlock = 0; // first allocation block of the data fork
    uint32_t blockCount = 0;

    uint16_t finderFlags = 0; // the finderFlags word of the Finder info
};

// Gives every item its catalog node ID: the root 2, promised paths their promised ID, the others
// fresh IDs from 16 up that no promise uses. Returns the next unused ID in `nextId`.
bool AssignHfsCatalogIds(std::vector<CHfsItem>* items, std::map<std::string, uint32_t> const& fixedIds,
                         uint32_t* nextId, std::string* error);
