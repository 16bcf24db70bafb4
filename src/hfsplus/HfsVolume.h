// Writing and inspecting an HFS+ volume inside a disk image file, without mounting it.
#pragma once

#include "hfsplus/HfsVolumePlan.h"
#include "io/DiskSink.h"
#include "volume/VolumeTree.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

struct CHfsVolumeSettings
{
    std::string volumeName;    // UTF-8
    uint64_t sizeBytes = 0;    // size of the partition that holds the volume
    uint32_t createDate = 0;   // seconds since 1904-01-01, as stored in the volume header
    uint32_t openFolderId = 0; // folder the Finder opens on mount (finder info word 2); 0 for none
    // Catalog node IDs that were promised before the volume was written (by bless or by an alias
    // record), keyed by the path relative to the volume root ("Folder/picture.png"; "" is the root).
    std::map<std::string, uint32_t> fixedIds;
    // When not 0, every date of the volume (header and catalog) is this one instead of the clock's
    // and the files' own (seconds since 1904), so the same tree always gives the same bytes.
    uint32_t fixedDate = 0;
    // Told the bytes of file data written so far and in all, as the data goes in; giving false
    // stops the write with the reason "interrupted".
    using CProgress = std::function<bool(uint64_t done, uint64_t total)>;
    CProgress progress;
    // The Finder flags word of items, by the same paths ("" is the root folder).
    std::map<std::string, uint16_t> finderFlags;
};

struct CHfsVolumeInfo
{
    std::string volumeName; // UTF-8
    uint32_t createDate = 0;
    uint32_t blockSize = 0;
    uint32_t totalBlocks = 0;
    uint32_t freeBlocks = 0;
    uint32_t nextCatalogId = 0;
    uint32_t openFolderId = 0;
};

// Smallest partition that holds a volume.
uint64_t GetMinimumHfsVolumeSize();

// Writes a fresh volume at byte `offset` of the open file `fd`, filled from the directory tree at
// `sourceRoot` (an empty volume when sourceRoot is empty). On failure returns false with a
// one-line reason in `error` (for example a FIFO or device in the tree, or a tree that doesn't fit);
// the tree is checked whole before the first byte is written, so such a refusal leaves the file as
// it was. The whole range [offset, offset + sizeBytes) is rewritten: free space reads as zeros and
// is left as holes where the file system allows.
// What goes into the volume: symlinks as links (never followed), hard links as separate copies;
// every item owned by user and group 99 ("unknown", whose ownership the system ignores on disk
// images) with the source's permission bits (the root 0755); catalog dates from the source's
// modification time (GMT); the header's creation date is settings.createDate as given (local time, the
// current local time when 0). The 64-bit volume identifier (finder info words 6 and 7) is derived
// from name, creation date and size, so writing the same volume again keeps it.
// Items named in settings.finderFlags carry that word in their catalog record's Finder info (a path
// that is gone is passed over).
// Items named in settings.fixedIds get those IDs (a path that is gone keeps its ID reserved); the others
// get fresh IDs from 16 up; nextCatalogID is above all of them.
// (It lists the folder into a volume tree, plans the volume from it and streams it into the file.)
bool WriteHfsVolume(int fd, uint64_t offset, CHfsVolumeSettings const& settings,
                    std::string const& sourceRoot, std::string* error);

// Lays out a volume of settings.sizeBytes filled from `tree`, writing nothing: the detached items
// of the tree are left out, the others are stored with their names in the volume's form, their
// permission bits (files and folders; links 0755, the root 0755 whatever the tree says), their
// modification time as catalog dates (every date settings.fixedDate when that is set), the tree's
// Finder flags (settings.finderFlags is not looked at) and catalog IDs as WriteHfsVolume gives them
// (settings.fixedIds by path, fresh ones from 16 up in the order of a breadth-first walk with each
// folder's children in byte order of their names). Fails, with WriteHfsVolume's reasons, on a name
// HFS+ can't store, two names of one folder that the volume can't tell apart, a tree that doesn't
// fit or a size HFS+ can't have. The tree may change or go once the plan is made: the plan keeps
// what it needs (source paths and the shared bytes of made files included).
[[nodiscard]] bool PlanHfsVolume(CVolumeTree const& tree, CHfsVolumeSettings const& settings,
                                 CHfsVolumePlan* plan, std::string* error);

// Shrinks a plan to the fewest whole blocks that hold what it uses (never below
// GetMinimumHfsVolumeSize), as ShrinkHfsVolume would shrink the written volume: its free space at the
// end is given up and nothing moves (the allocation file keeps its length, the volume identifier the
// one of the planned size). plan->sizeBytes is the new size afterwards (unchanged when nothing goes).
void ShrinkHfsVolumePlan(CHfsVolumePlan* plan);

// Hands the planned volume's plan.sizeBytes bytes to `sink`, in increasing order, each byte once:
// the metadata made as it goes (the catalog's nodes one at a time, the bitmap in bounded pieces),
// each file's data read once from its source path or taken from its bytes, zeros that belong to
// used blocks as WriteZeros, and the free blocks (which hold nothing) as one Skip. A source file is
// opened without following a link and must still be a regular file of the size and modification
// time the tree gave: otherwise, or when it can't be read, the stream stops with a reason naming the
// file ("... changed while the volume was being written"). plan.progress, when set, is told the bytes
// of file data done and in all; giving false stops the stream with the reason "interrupted". On
// failure the sink has taken part of the volume only.
[[nodiscard]] bool StreamHfsVolume(CHfsVolumePlan const& plan, CDiskSink& sink, std::string* error);

// Shrinks the volume of `sizeBytes` at `offset`, written by WriteHfsVolume, in place to the fewest
// whole blocks that hold what it uses (never below GetMinimumHfsVolumeSize): its free space at the end
// is given up, the headers and allocation bitmap are rewritten, and nothing else moves. The new size
// goes to `newSizeBytes` (the old one when there is nothing to give up); bytes past it are left alone.
bool ShrinkHfsVolume(int fd, uint64_t offset, uint64_t sizeBytes, uint64_t* newSizeBytes, std::string* error);

// Reads the volume header and the root folder's name (as composed UTF-8) of a volume written by
// WriteHfsVolume.
bool ReadHfsVolumeInfo(int fd, uint64_t offset, CHfsVolumeInfo* info, std::string* error);

// Byte ranges of the volume, relative to `offset`, that hold no data (free allocation blocks), as
// (start, length) pairs in ascending order.
bool ReadHfsFreeRanges(int fd, uint64_t offset, std::vector<std::pair<uint64_t, uint64_t>>* ranges,
                       std::string* error);

// The Finder flags word of the item at `relativePath` ("" for the root folder), read from its catalog
// record.
bool ReadHfsFinderFlags(int fd, uint64_t offset, std::string const& relativePath, uint16_t* flags,
                        std::string* error);
