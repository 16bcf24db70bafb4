// The bytes of a version 2 alias record ('alis'): a fixed part of 150 bytes followed by tagged
// extras, all big-endian.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct CAliasFacts
{
    bool targetIsFolder = false;
    std::string volumeName;        // UTF-8
    uint32_t volumeCreateDate = 0; // as the volume header stores it
    // Names from the volume root down to the target (UTF-8, as the file system spells them), and
    // the catalog node IDs of the folders among them (all but the last name), root side first.
    std::vector<std::string> pathNames;
    std::vector<uint32_t> folderIds;
    uint32_t targetId = 0;
    uint32_t targetCreateDate = 0; // seconds since 1904, GMT
    uint32_t fileType = 0;
    uint32_t fileCreator = 0;
    // Relative path from the file the alias is relative to: levels up, then levels down; -1 when
    // there is none.
    int16_t levelsFrom = -1;
    int16_t levelsTo = -1;
};

// Disk type of the fixed part: disk images are ejectable media.
constexpr uint16_t kAliasDiskTypeEjectable = 5;

// The whole record; its size field is its length. Empty when the record would exceed 64 KiB or
// pathNames is empty.
std::vector<uint8_t> BuildAliasRecord(CAliasFacts const& facts);
