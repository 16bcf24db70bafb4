// The directory tree that goes into a volume, read with lstat (symbolic links are never followed).
#pragma once

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
    uint32_t startBlock = 0; // first allocation block of the data fork
    uint32_t blockCount = 0;

    uint16_t finderFlags = 0; // the finderFlags word of the Finder info
};

// Lists the tree at `root` (the root first, then folder by folder, names in byte order). An empty
// `root` gives a lone root folder. Fails on anything HFS+ can't hold or a name it can't store.
bool ScanHfsSourceTree(std::string const& root, std::vector<CHfsItem>* items, std::string* error);

// Gives every item its catalog node ID: the root 2, promised paths their promised ID, the others
// fresh IDs from 16 up that no promise uses. Returns the next unused ID in `nextId`.
bool AssignHfsCatalogIds(std::vector<CHfsItem>* items, std::map<std::string, uint32_t> const& fixedIds,
                         uint32_t* nextId, std::string* error);
