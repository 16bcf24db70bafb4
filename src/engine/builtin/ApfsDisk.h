// The builtin engine's APFS disks: what create and attach do differently when the partition holds
// an APFS container instead of an HFS+ volume. The container itself is the APFS writer's.
#pragma once

#include "apfs/ApfsContainer.h"
#include "gpt/GuidPartitionMap.h"

#include <cstdint>
#include <string>

// The least an APFS partition takes (smaller requests get this much).
uint64_t GetMinimumApfsPartitionSize();

// The container's settings for a volume of this name, size and creation date (local Mac time, as
// an HFS+ volume header keeps it): dates fixed under SOURCE_DATE_EPOCH, identifiers derived.
CApfsSettings MakeApfsDiskSettings(std::string const& volumeName, uint64_t sizeBytes, uint32_t createDate);

// Writes the partition map (an Apple_APFS partition) and an empty container into the open disk file,
// already layout.totalSectors long.
bool WriteEmptyApfsDisk(int fd, CPartitionLayout const& layout, std::string const& volumeName, std::string* error);

// The volume's name, its creation date as an HFS+ volume header would keep it (local Mac time) and
// how many items it holds besides the root.
bool ReadApfsDiskVolume(int fd, uint64_t partitionOffset, std::string* volumeName, uint32_t* createDate,
                        uint32_t* itemCount, std::string* error);
