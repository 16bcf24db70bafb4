// Opening a disk file that the stand-in hdiutil create made, and checking that it is one.
#pragma once

#include "gpt/GuidPartitionMap.h"
#include "hfsplus/HfsVolume.h"
#include "io/FileDescriptor.h"

#include <string>

struct CCreatedDisk
{
    CFileDescriptor fd;
    CPartitionLayout layout;
    CHfsVolumeInfo volume; // of an APFS container: its volume's name and creation date only
    bool apfs = false;     // the partition holds an APFS container
    uint32_t fileCount = 0; // files and folders on the volume, the root not counted
    uint32_t folderCount = 0;

    uint64_t PartitionOffset() const { return layout.partitionStart * kSectorBytes; }
    uint64_t PartitionSize() const { return layout.partitionSectors * kSectorBytes; }
};

// Opens `path` (open(2) flags) and checks its partition map and the HFS+ volume or APFS container in
// its partition.
// On failure the file is closed and `error` says why.
bool OpenCreatedDisk(std::string const& path, int openFlags, CCreatedDisk* disk, std::string* error);

// Closes the disk file; false with a reason if the close reported a write error.
bool CloseCreatedDisk(CCreatedDisk* disk, std::string* error);
