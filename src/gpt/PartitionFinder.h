// Finding the Mac volume on a GUID-partitioned disk that anyone may have made, as a reader of other
// people's images must: the first Apple_HFS or Apple_APFS entry, checked only as far as locating it
// needs. (ReadPartitionMap, by contrast, accepts only the exact map this program writes.)
#pragma once

#include "io/ReadAt.h"

#include <cstdint>
#include <string>

struct CPartitionPlace
{
    uint64_t offset = 0; // bytes from the start of the disk
    uint64_t size = 0;
};

// The place of the disk's Apple_HFS or Apple_APFS partition. A disk without a GUID partition map is
// taken as a bare volume: the whole disk. False with the reason when the disk is empty, the map is
// damaged, or it holds neither kind of partition.
bool FindMacPartition(CReadAt const& read, uint64_t diskSize, CPartitionPlace* place, std::string* error);
