// The catalog file's records: a folder or file record and a thread record for every item.
#pragma once

#include "hfsplus/HfsItems.h"
#include "io/HfsConstants.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

constexpr uint16_t kHfsCatalogMaxKeyLength = 516;

// Owner and group of every item: the "unknown" user and group, as on disk images, whose owners
// the system ignores when it attaches them.
constexpr uint32_t kHfsUnknownOwner = 99;
constexpr uint32_t kHfsUnknownGroup = 99;

constexpr uint16_t kHfsFolderRecord = 1;
constexpr uint16_t kHfsFileRecord = 2;
constexpr uint16_t kHfsFolderThreadRecord = 3;
constexpr uint16_t kHfsFileThreadRecord = 4;

// Where a file or folder record (after its key) keeps the Finder flags word of its Finder info.
constexpr size_t kHfsFinderFlagsOffset = 56;

// Serialized catalog key: key length, parent ID, name length and name.
std::vector<uint8_t> MakeHfsCatalogKey(uint32_t parentId, std::u16string const& name);

// Hands every catalog record of the items (IDs, names and fork extents assigned) to `visit`, in key
// order, one at a time; stops when it gives false (having set `error`). Fails before the first record
// when two names of one folder are the same to the case-insensitive volume.
bool ForEachHfsCatalogRecord(std::vector<CHfsItem> const& items,
                             std::function<bool(std::vector<uint8_t> const& record)> const& visit,
                             std::string* error);
