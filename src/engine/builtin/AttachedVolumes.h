// The volumes the stand-in hdiutil has attached: which disk file each live folder belongs to, and
// the catalog node IDs promised for items on it before the volume is written. One table per
// in-process tool set, so that separate builds never see each other's volumes.
#pragma once

#include "io/HfsConstants.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct CAttachedVolume
{
    std::string imagePath;  // the disk file, as a canonical path
    std::string mountPoint; // the live folder, as a canonical path
    std::string volumeName;
    uint32_t createDate = 0; // as the volume header stores it
    uint64_t partitionOffset = 0;
    uint64_t partitionSize = 0;
    bool apfs = false; // the partition holds an APFS container
    // IDs handed out while attached (bless, alias records), keyed by the path relative to the
    // volume root ("" is the root); the volume writer gives these items exactly these IDs.
    std::map<std::string, uint32_t> promisedIds;
    uint32_t nextCatalogId = kHfsFirstUserId;
    uint32_t openFolderId = 0;
    // Finder flags words set with xattr, by the same relative paths.
    std::map<std::string, uint16_t> finderFlags;
};

class CAttachedVolumes
{
public:
    void Add(CAttachedVolume const& volume);
    void Remove(std::string const& mountPoint);

    // Null when nothing is attached there. `path` may be given in any spelling that names the folder.
    CAttachedVolume* FindByMountPoint(std::string const& path);
    CAttachedVolume* FindByImage(std::string const& path);

    // The volume whose live folder holds the existing `path` (or is it), with the path relative to
    // the volume root in `relativePath` ("" for the root). Symbolic links on the way are resolved.
    CAttachedVolume* FindHolding(std::string const& path, std::string* relativePath);

private:
    std::vector<CAttachedVolume> volumes;
};

// The ID promised for the item at `relativePath`, handing out the next free one the first time.
uint32_t PromiseCatalogId(CAttachedVolume* volume, std::string const& relativePath);

// The canonical form of an existing path (symbolic links resolved); empty if it doesn't exist.
std::string CanonicalPath(std::string const& path);
