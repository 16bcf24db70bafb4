// Numbers every HFS+ volume shares (TN1150), for the volume writer, the readers and the stand-in tools.
#pragma once

#include <cstdint>

// Volume header: where it sits in the volume, and what it says about the volume.
constexpr uint64_t kHfsVolumeHeaderOffset = 1024;
constexpr uint16_t kHfsPlusSignature = 0x482B; // 'H+'
constexpr uint16_t kHfsxSignature = 0x4858;    // 'HX', the case-sensitive variant (read only)
constexpr uint16_t kHfsPlusVersion = 4;
constexpr uint32_t kHfsLastMountedVersion = 0x31302E30; // '10.0': written by a non-journaling OS X

// Catalog node IDs: the root folder's parent, the root folder, and the first ID of a user item.
constexpr uint32_t kHfsRootParentId = 1;
constexpr uint32_t kHfsRootFolderId = 2;
constexpr uint32_t kHfsFirstUserId = 16;

// The allocation block size of every volume written here.
constexpr uint32_t kHfsBlockSize = 4096;
