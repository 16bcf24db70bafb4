// The items of a volume as the HFS+ writer lays them out: the volume tree's items with their stored
// names, catalog IDs and places. What the tree itself holds (names as given, link targets, where a
// file's bytes come from) stays in the tree; an item names its tree item.
#pragma once

#include "volume/VolumeTree.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

enum class EHfsItemKind : uint8_t
{
    Folder,
    File,
    Symlink
};

struct CHfsItem
{
    // The narrow fields first, so that they pack: a plan holds one item per file.
    EHfsItemKind kind = EHfsItemKind::Folder;
    uint16_t mode = 0;        // BSD mode with the file type bits
    uint16_t finderFlags = 0; // the finderFlags word of the Finder info
    uint32_t id = 0;          // catalog node ID
    uint32_t date = 0;        // modification time, seconds since 1904 GMT
    uint32_t valence = 0;     // folders: number of direct children
    uint32_t startBlock = 0;  // first allocation block of the data fork
    uint32_t blockCount = 0;
    size_t source = 0;        // the item's index in the volume tree
    size_t parent = 0;        // index of the parent folder in the item list (the root points at itself)
    uint64_t size = 0;        // data fork length: file size or symlink target length
    std::u16string name;      // stored name (the volume name for the root)
};

// The index in the item list of the item at a path relative to the root, or SIZE_MAX when there is none.
using CHfsItemFinder = std::function<size_t(std::string const& path)>;

// Gives every item its catalog node ID: the root 2, promised paths their promised ID, the others
// fresh IDs from 16 up that no promise uses. Returns the next unused ID in `nextId`.
bool AssignHfsCatalogIds(std::vector<CHfsItem>* items, std::map<std::string, uint32_t> const& fixedIds,
                         CHfsItemFinder const& findItem, uint32_t* nextId, std::string* error);
