// The one place where the builtin engine chooses the file system written from the volume tree:
// detach plans the volume, resize shrinks the plan, convert streams it. Every writer takes the same
// tree and hands the partition's bytes to a disk sink.
#pragma once

#include "apfs/ApfsContainer.h"
#include "gpt/GuidPartitionMap.h"
#include "hfsplus/HfsVolume.h"
#include "io/DiskSink.h"
#include "volume/VolumeTree.h"

#include <functional>
#include <string>

struct CVolumeWriterSettings
{
    bool apfs = false; // an APFS container, else an HFS+ volume
    std::string volumeName;
    uint64_t sizeBytes = 0;
    uint32_t createDate = 0;
    uint32_t openFolderId = 0;
    std::map<std::string, uint32_t> fixedIds; // catalog node IDs, on APFS the inode numbers
    uint32_t fixedDate = 0;
    std::string describePrefix; // put before an item's path in a refusal
};

struct CPlannedVolume
{
    bool apfs = false;
    CHfsVolumePlan hfs;
    CApfsPlan apfsPlan;
    CPartitionType const* partitionType = &GetAppleHfsPartitionType();
};

bool PlanVolume(CVolumeTree const& tree, CVolumeWriterSettings const& settings, CPlannedVolume* planned,
                std::string* error);
// Shrinks the plan to what the volume uses; its new size in bytes.
uint64_t ShrinkPlannedVolume(CPlannedVolume* planned);
// Hands the volume to `sink`; `progress` is told the bytes of file data done and in all (false stops).
bool StreamPlannedVolume(CPlannedVolume& planned, std::function<bool(uint64_t, uint64_t)> progress,
                         CDiskSink& sink, std::string* error);
