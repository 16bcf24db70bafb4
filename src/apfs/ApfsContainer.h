// Writing an APFS container holding one case-insensitive volume, as hdiutil makes for disk images,
// from the volume tree, in user space. The whole container is planned before its first byte; then
// its blocks are handed to a disk sink in increasing order, file data read once from its sources.
#pragma once

#include "apfs/ApfsObjects.h"
#include "io/DiskSink.h"
#include "volume/VolumeTree.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

struct CApfsSettings
{
    std::string volumeName;  // UTF-8
    uint64_t sizeBytes = 0;  // the container's size; 0 for the fewest blocks that hold the tree
    int64_t createTime = 0;  // the volume's creation date, nanoseconds since 1970
    // When set, every date of the container is createTime instead of the items' own, so the same
    // tree always gives the same bytes.
    bool fixedDates = false;
    // What the container's and the volume's UUIDs are derived from (name, size, date): the same
    // seed, the same identifiers.
    std::string identitySeed;
    // Inode numbers promised before the container is planned (an alias record names its target and
    // folders by them), keyed by the path relative to the root ("Folder/picture.png"). A path that
    // is gone keeps its number reserved; the other items get free numbers from 16 up.
    std::map<std::string, uint64_t> fixedInodes;
    // Told the bytes of file data written so far and in all; giving false stops the write with the
    // reason "interrupted".
    std::function<bool(uint64_t done, uint64_t total)> progress;
};

// One file's data: where its blocks start and which tree item supplies them.
struct CApfsFileRun
{
    uint64_t firstBlock = 0;
    size_t item = 0;
};

struct CApfsPlan
{
    CVolumeTree const* tree = nullptr;
    CApfsSettings settings;
    uint64_t blockCount = 0;
    uint64_t usedBlocks = 0;                                // blocks [0, usedBlocks) are allocated
    std::vector<std::pair<uint64_t, CApfsBlock>> metadata; // in block order, all before the data
    std::vector<CApfsFileRun> files;                        // in block order
    std::vector<uint64_t> inodes;                           // by tree index; 0 for detached items
    uint64_t dataBytes = 0;
};

// The smallest container in bytes (128 MiB): Apple's tools lay out smaller ones differently.
uint64_t GetMinimumApfsContainerSize();

// Plans the container for `tree` (which must outlive the plan). Fails with a one-line reason on a
// name the volume can't hold, two names in one folder the volume can't tell apart, or a tree that
// doesn't fit settings.sizeBytes; nothing is written then.
bool PlanApfsContainer(CVolumeTree const& tree, CApfsSettings const& settings, CApfsPlan* plan,
                       std::string* error);

// Hands the planned container, plan.blockCount blocks, to `sink`. A source file that is not a
// regular file, or whose size or modification time differ from the tree's, stops the write with
// the reason.
bool StreamApfsContainer(CApfsPlan const& plan, CDiskSink* sink, std::string* error);
