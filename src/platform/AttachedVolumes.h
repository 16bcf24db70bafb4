// The volumes the stand-in hdiutil has attached in this process: which disk file each live folder
// belongs to, and the catalog node IDs promised for items on it before the volume is written.
#pragma once

#include "io/HfsConstants.h"

#include <cstdint>
#include <map>
#include <string>

struct CAttachedVolume
{
    std::string imagePath;  // the disk file, as a canonical path
    std::string mountPoint; // the live folder, as a canonical path
    std::string volumeName;
    uint32_t createDate = 0; // as the volume header stores it
    uint64_t partitionOffset = 0;
    uint64_t partitionSize = 0;
    // IDs handed out while attached (bless, alias records), keyed by the path relative to the
    // volume root ("" is the root); the volume writer gives these items exactly these IDs.
    std::map<std::string, uint32_t> promisedIds;
    uint32_t nextCatalogId = kHfsFirstUserId;
    uint32_t openFolderId = 0;
    // Finder flags words set with xattr, by the same relative paths.
    std::map<std::string, uint16_t> finderFlags;
};

void AddAttachedVolume(CAttachedVolume const& volume);
void RemoveAttachedVolume(std::string const& mountPoint);

// Null when nothing is attached there. `path` may be given in any spelling that names the folder.
CAttachedVolume* FindVolumeByMountPoint(std::string const& path);
CAttachedVolume* FindVolumeByImage(std::string const& path);

// The volume whose live folder holds the existing `path` (or is it), with the path relative to the
// volume root in `relativePath` ("" for the root). Symbolic links on the way are resolved.
CAttachedVolume* FindVolumeHolding(std::string const& path, std::string* relativePath);

// The ID promised for the item at `relativePath`, handing out the next free one the first time.
uint32_t PromiseCatalogId(CAttachedVolume* volume, std::string const& relativePath);

// The canonical form of an existing path (symbolic links resolved); empty if it doesn't exist.
std::string CanonicalPath(std::string const& path);
