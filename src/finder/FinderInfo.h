// The Finder info of an item (com.apple.FinderInfo, the finderInfo of its catalog record) and the
// Finder flags kilnpack sets in it.
#pragma once

#include <array>
#include <cstdint>

// FileInfo or FolderInfo (16 bytes, finderFlags big-endian at 8), then the extended Finder info
// (16 bytes).
using CFinderInfo = std::array<uint8_t, 32>;
constexpr size_t kFinderFlagsAt = 8;

// Bits of the finderFlags word of FileInfo and FolderInfo (TN1150; the values of Finder.h, as
// "Inside Macintosh: Macintosh Toolbox Essentials" documents the Finder interface):
constexpr uint16_t kFinderHideExtension = 0x0010; // kIsHiddenExtension: the name shows without extension
constexpr uint16_t kFinderHasCustomIcon = 0x0400; // kHasCustomIcon: a custom icon (.VolumeIcon.icns, Icon\r)
constexpr uint16_t kFinderIsInvisible = 0x4000;   // kIsInvisible: not shown in Finder windows
