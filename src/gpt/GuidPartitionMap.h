// The GUID partition map of the raw disks the stand-in hdiutil creates: a protective MBR, the
// primary header and 128-entry table, one Apple_HFS partition from sector 40, and the backup table
// and header at the end, with the free gaps hdiutil leaves around the partition.
#pragma once

#include "io/DiskSink.h"
#include "udif/UdifWriter.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

constexpr uint64_t kSectorBytes = 512;

struct CPartitionLayout
{
    uint64_t totalSectors = 0;
    uint64_t partitionStart = 0; // first sector of the Apple_HFS partition
    uint64_t partitionSectors = 0;
};

using CGuid = std::array<uint8_t, 16>; // in its on-disk byte order

// What the one partition holds: its type GUID in the entry, and the type's name as the image's block
// tables name the partition ("disk image (Apple_HFS : 4)").
struct CPartitionType
{
    CGuid typeGuid;
    std::string name;
};
// 48465300-0000-11AA-AA11-00306543ECAC, "Apple_HFS": the default everywhere.
CPartitionType const& GetAppleHfsPartitionType();
// 7C3457EF-0000-11AA-AA11-00306543ECAC, "Apple_APFS".
CPartitionType const& GetAppleApfsPartitionType();
// The one of those two whose type GUID `typeGuid` (16 bytes, on-disk order) is, or nullptr.
CPartitionType const* FindMacPartitionType(uint8_t const* typeGuid);

// Where everything goes on a disk of `totalSectors`. The partition starts at sector 40 and ends
// 40 sectors before the end of the disk, as hdiutil places it.
CPartitionLayout ComputePartitionLayout(uint64_t totalSectors);

// Sector 0: the protective MBR with one 0xEE partition covering the disk.
std::vector<uint8_t> BuildProtectiveMbr(uint64_t totalSectors);
// The 128 entries of 128 bytes, the first one the Apple_HFS partition named "disk image".
std::vector<uint8_t> BuildPartitionEntries(CPartitionLayout const& layout, CGuid const& partitionGuid,
                                           CPartitionType const& type = GetAppleHfsPartitionType());
// One 512-byte header sector; the primary one sits at sector 1, the backup one at the last sector.
std::vector<uint8_t> BuildGptHeader(CPartitionLayout const& layout, bool primary, CGuid const& diskGuid,
                                    uint32_t entriesCrc);
// A random (version 4) GUID.
CGuid MakeRandomGuid();

// A GUID that is the same for the same `seed` and `salt` (a name-based, version 5 style GUID).
CGuid DeriveGuid(std::string const& seed, char const* salt);

// Writes the whole map (both copies) to a disk file already `layout.totalSectors` long. The disk and
// partition GUIDs are random, or in a reproducible build (SOURCE_DATE_EPOCH) derived from `seed`
// (what the disk is made of: volume name, size, date) so that the same build gives the same map.
bool WritePartitionMap(int fd, CPartitionLayout const& layout, std::string* error,
                       std::string const& seed = std::string(),
                       CPartitionType const& type = GetAppleHfsPartitionType());

// Hands the partition's bytes to the sink it is given, from the partition's first byte on; false with
// a reason stops the disk.
using CPartitionStreamer = std::function<bool(CDiskSink& sink, std::string* error)>;

// Hands the whole disk of `layout` to `sink` in increasing order, the same bytes WritePartitionMap and
// a volume written into the partition give on a fresh disk file: the protective MBR, the primary
// header and entries, the free gap before the partition (Skip), the partition from `streamPartition`
// (which must hand over exactly layout.partitionSectors sectors), the free gap after it (Skip), the
// backup entries and header. GUIDs as WritePartitionMap makes them from `seed`. False with a reason
// (the partition streamer's, or a partition of the wrong length).
// A whole image from a volume tree, with the bytes that create, detach, resize and convert give:
//   PlanHfsVolume(tree, settings, &plan); when auto-sized, ShrinkHfsVolumePlan(&plan);
//   layout = ComputePartitionLayout(plan.sizeBytes / kSectorBytes + 80);
//   CUdifImageSink image(ListPartitionRegions(layout), format, level, progress); image.Open(path);
//   StreamGptDisk(layout, [&](CDiskSink& s, std::string* e) { return StreamHfsVolume(plan, s, e); },
//                 image, &error, seed);   // seed: the volume name, or "" for a shrunk disk (resize
//                                         // writes the map again without it)
//   image.Finish(licenceResources, &error);
[[nodiscard]] bool StreamGptDisk(CPartitionLayout const& layout, CPartitionStreamer const& streamPartition,
                                 CDiskSink& sink, std::string* error, std::string const& seed = std::string(),
                                 CPartitionType const& type = GetAppleHfsPartitionType());

// Checks that the open disk carries the map WritePartitionMap writes, with sound checksums, and
// gives its layout back. The reason for a refusal goes to `error`.
// The partition may be Apple_HFS or Apple_APFS; `type`, when given, is told which.
bool ReadPartitionMap(int fd, CPartitionLayout* layout, std::string* error,
                      CPartitionType const** type = nullptr);

// The disk's regions in order, named and numbered as hdiutil names the blkx tables of such a disk;
// free gaps that are empty are left out.
std::vector<CUdifRegion> ListPartitionRegions(CPartitionLayout const& layout,
                                              CPartitionType const& type = GetAppleHfsPartitionType());
