// The stand-in hdiutil's APFS disks: everything create, attach, detach, resize and convert do
// differently when the partition holds an APFS container instead of an HFS+ volume. The container
// itself is the APFS writer's; here it is fitted into the disk file the other verbs work on.
#pragma once

#include "engine/builtin/AttachedVolumes.h"
#include "gpt/GuidPartitionMap.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// The least an APFS partition takes (smaller requests get this much).
uint64_t GetMinimumApfsPartitionSize();

// Writes the partition map (an Apple_APFS partition) and an empty container into the open disk file,
// already layout.totalSectors long.
bool WriteEmptyApfsDisk(int fd, CPartitionLayout const& layout, std::string const& volumeName, std::string* error);

// The volume's name, its creation date as an HFS+ volume header would keep it (local Mac time) and
// how many items it holds besides the root.
bool ReadApfsDiskVolume(int fd, uint64_t partitionOffset, std::string* volumeName, uint32_t* createDate,
                        uint32_t* itemCount, std::string* error);

// Writes the live folder's tree into the attached volume's container: Finder flags and promised IDs
// (as inode numbers) as the volume records them. A refused tree leaves the empty container; a write
// that breaks off puts an empty one back.
bool WriteApfsDiskVolume(CAttachedVolume const& volume, int fd, std::function<bool(uint64_t, uint64_t)> progress,
                         std::string* error);

// Byte ranges of the container, relative to the partition, that hold nothing: its free blocks.
bool ReadApfsFreeRanges(int fd, uint64_t partitionOffset, std::vector<std::pair<uint64_t, uint64_t>>* ranges,
                        std::string* error);
