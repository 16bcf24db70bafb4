// A volume laid out before any byte of it is written: every item with its catalog ID and place, the
// B-tree summaries and the volume header. PlanHfsVolume makes it, StreamHfsVolume hands its bytes over.
#pragma once

#include "hfsplus/HfsBTree.h"
#include "hfsplus/HfsItems.h"
#include "hfsplus/HfsVolumeHeader.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct CHfsVolumePlan
{
    // The bytes StreamHfsVolume hands over: the partition that holds the volume.
    uint64_t sizeBytes = 0;
    // Total length of the files' data, which the progress counts.
    uint64_t fileDataBytes = 0;

    // What the writer keeps between planning and streaming; callers need not look inside.
    std::vector<CHfsItem> items; // the root first; files and links in the order of their data
    CHfsVolumeHeader header;     // totalBlocks, freeBlocks and the forks already filled
    uint32_t dataEnd = 0;        // first block after the last file's data; free space follows
    CHfsBTree catalog;           // its header node only; the other nodes are packed again as they go
    CHfsBTree extents;           // whole (all used nodes)
    CHfsBTree attributes;        // whole
    std::function<bool(uint64_t done, uint64_t total)> progress;
};

struct CHfsVolumeSettings;

// PlanHfsVolume, with `describePrefix` put before an item's path in a refusal (WriteHfsVolume gives
// the host folder, so that the message names the host file).
bool PlanHfsVolumeFromTree(CVolumeTree const& tree, CHfsVolumeSettings const& settings,
                           std::string const& describePrefix, CHfsVolumePlan* plan, std::string* error);
