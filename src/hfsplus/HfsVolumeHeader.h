// The HFS+ volume header (512 bytes at byte 1024 of the volume, copied 1024 bytes before its end).
#pragma once

#include "io/HfsConstants.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

constexpr uint32_t kHfsVolumeUnmounted = 0x100;
constexpr uint32_t kHfsVolumeUnusedNodesZeroed = 0x80000000; // spares fsck from clearing them
constexpr size_t kHfsVolumeHeaderSize = 512;
constexpr size_t kHfsForkDataSize = 80;

struct CHfsExtent
{
    uint32_t startBlock = 0;
    uint32_t blockCount = 0;
};

struct CHfsForkData
{
    uint64_t logicalSize = 0;
    uint32_t clumpSize = 0;
    uint32_t totalBlocks = 0;
    std::array<CHfsExtent, 8> extents{};
};

struct CHfsVolumeHeader
{
    uint16_t signature = kHfsPlusSignature;
    uint16_t version = kHfsPlusVersion;
    uint32_t attributes = kHfsVolumeUnmounted | kHfsVolumeUnusedNodesZeroed;
    uint32_t lastMountedVersion = kHfsLastMountedVersion;
    uint32_t journalInfoBlock = 0;
    uint32_t createDate = 0; // local time, unlike every other date of the volume
    uint32_t modifyDate = 0;
    uint32_t backupDate = 0;
    uint32_t checkedDate = 0;
    uint32_t fileCount = 0;   // files and symlinks
    uint32_t folderCount = 0; // not counting the root
    uint32_t blockSize = 0;
    uint32_t totalBlocks = 0;
    uint32_t freeBlocks = 0;
    uint32_t nextAllocation = 0;
    uint32_t rsrcClumpSize = 0;
    uint32_t dataClumpSize = 0;
    uint32_t nextCatalogId = 0;
    uint32_t writeCount = 0;
    uint64_t encodingsBitmap = 0;
    std::array<uint32_t, 8> finderInfo{}; // [2] open folder, [6..7] 64-bit volume identifier
    CHfsForkData allocationFile;
    CHfsForkData extentsFile;
    CHfsForkData catalogFile;
    CHfsForkData attributesFile;
    CHfsForkData startupFile;
};

void PutHfsForkData(uint8_t* p, CHfsForkData const& fork);
CHfsForkData GetHfsForkData(uint8_t const* p);

// Fork data for a fork held in one extent.
CHfsForkData MakeHfsForkData(uint64_t logicalSize, uint32_t clumpSize, uint32_t startBlock,
                             uint32_t blockCount);

void PutHfsVolumeHeader(uint8_t* p, CHfsVolumeHeader const& header);
CHfsVolumeHeader GetHfsVolumeHeader(uint8_t const* p);

// Reads and checks the header of the volume at byte `offset` of `fd`.
bool ReadHfsVolumeHeader(int fd, uint64_t offset, CHfsVolumeHeader* header, std::string* error);
