// The bytes of a version 2 alias record ('alis'): a fixed part of 150 bytes followed by tagged
// extras, all big-endian, laid out as the Finder writes them for a picture on a disk image
// (docs/finder-records.md).
//
// Fixed part:
//   0   4  application creator (0)       4  2  record size          6  2  version (2)
//   8   2  kind (0 file, 1 folder)      10 28  volume name, Str27 Mac Roman
//   38  4  volume creation date (local)  42  2  'H+'                 44  2  disk type (5)
//   46  4  parent folder ID              50 64  target name, Str63 Mac Roman
//   114 4  target ID                    118  4  target creation date (local)
//   122 4  file type                    126  4  file creator
//   130 2  levels from (-1)             132  2  levels to (-1)
//   134 4  volume attributes            138  2  file system ID (0)   140 10 reserved
// Extras, each a 16-bit tag, a 16-bit length and the data padded to even length, in this order:
//   0 parent name (Mac Roman)  16 volume date (UTCDateTime, GMT)  17 target date (UTCDateTime, GMT)
//   1 folder IDs from the parent up, root excluded (empty in the root)
//   2 Carbon path "Volume:name:\0name..."  14 target name (HFSUniStr255)
//   15 volume name (HFSUniStr255)  18 POSIX path below the volume  19 mount point  -1 end
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct CAliasFacts
{
    bool targetIsFolder = false;
    std::string volumeName;           // UTF-8
    uint32_t volumeCreateDate = 0;    // as the volume header stores it: local time
    uint32_t volumeCreateDateGmt = 0; // the same moment in GMT
    // Names from the volume root down to the target (UTF-8, as the file system spells them), and
    // the catalog node IDs of the folders among them (all but the last name), root side first.
    std::vector<std::string> pathNames;
    std::vector<uint32_t> folderIds;
    uint32_t targetId = 0;
    uint32_t targetCreateDate = 0;      // seconds since 1904, GMT
    uint32_t targetCreateDateLocal = 0; // the same moment in local time
    uint32_t fileType = 0;
    uint32_t fileCreator = 0;
    // Relative path from the file the alias is relative to: levels up, then levels down; -1 when
    // there is none, as in the Finder's aliases of background pictures.
    int16_t levelsFrom = -1;
    int16_t levelsTo = -1;
};

// Disk type of the fixed part: disk images are ejectable media.
constexpr uint16_t kAliasDiskTypeEjectable = 5;
// Volume attributes of the fixed part, as the Finder records them for a mounted disk image.
constexpr uint32_t kAliasVolumeAttributes = 0x00000D02;

// The whole record; its size field is its length. Empty when the record would exceed 64 KiB or
// pathNames is empty.
std::vector<uint8_t> BuildAliasRecord(CAliasFacts const& facts);

// The target ID of a record from anywhere (a catalog node ID on HFS+, an inode number on APFS);
// false when the record is too short for its fixed part or its size field overstates it.
bool ReadAliasTargetId(std::vector<uint8_t> const& record, uint32_t* targetId);
