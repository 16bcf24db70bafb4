// Reads back what other parts of the tool need from a volume: its header, the root folder's name
// and the free space.
#include "io/ByteOrder.h"
#include "hfsplus/HfsBitmap.h"
#include "hfsplus/HfsCatalog.h"
#include "hfsplus/HfsCatalogListing.h"
#include "hfsplus/HfsFileIo.h"
#include "hfsplus/HfsNames.h"
#include "hfsplus/HfsVolume.h"
#include "hfsplus/HfsVolumeHeader.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

namespace
{



// Reads bytes of a fork of the volume at `offset` of the file.
bool ReadForkBytes(int fd, uint64_t offset, CHfsVolumeHeader const& header, CHfsForkData const& fork,
                   uint64_t position, uint8_t* data, size_t size, std::string* error)
{
    CVolumeReadAt const read = [fd, offset](uint64_t at, uint8_t* bytes, size_t length, std::string* why) {
        return ReadAllAt(fd, bytes, length, offset + at, why);
    };
    return ReadHfsForkBytes(read, header, fork, position, data, size, error);
}

// One leaf record of the catalog: its key's parent ID and name, and the record's data after the key.
struct CCatalogLeafRecord
{
    uint32_t parentId = 0;
    std::u16string name;
    uint8_t const* data = nullptr;
    size_t size = 0;
};

// Calls `visit` for the catalog's leaf records in key order until it returns true; false when none
// did (with `error` set) or the catalog can't be read.
template <typename TVisit>
bool FindCatalogRecord(int fd, uint64_t offset, CHfsVolumeHeader const& header, TVisit visit,
                       std::string* error)
{
    uint8_t head[512];
    if (!ReadForkBytes(fd, offset, header, header.catalogFile, 0, head, sizeof head, error))
        return false;
    uint16_t const nodeSize = GetBe16(head + 32);
    uint32_t node = GetBe32(head + 24);
    if (nodeSize < 512 || (nodeSize & (nodeSize - 1)) != 0)
    {
        *error = "the HFS+ catalog is damaged";
        return false;
    }
    // A chain longer than the tree's nodes, or one that comes back to a node, is damage.
    uint64_t const nodeLimit =
        std::min<uint64_t>(GetBe32(head + 36), header.catalogFile.logicalSize / nodeSize);
    std::unordered_set<uint32_t> visited;
    std::vector<uint8_t> bytes(nodeSize);
    for (; node != 0; node = GetBe32(bytes.data()))
    {
        if (node >= nodeLimit || !visited.insert(node).second)
        {
            *error = "the HFS+ catalog's leaf chain is damaged";
            return false;
        }
        if (!ReadForkBytes(fd, offset, header, header.catalogFile, uint64_t(node) * nodeSize,
                           bytes.data(), nodeSize, error))
            return false;
        uint16_t const count = GetBe16(&bytes[10]);
        for (uint16_t i = 0; i < count && 2u * (i + 1) <= nodeSize; ++i)
        {
            uint16_t const at = GetBe16(&bytes[nodeSize - 2 * (i + 1)]);
            if (size_t(at) + 8 > nodeSize)
                break;
            uint16_t const keyLength = GetBe16(&bytes[at]);
            size_t const nameLength = GetBe16(&bytes[at + 6]);
            size_t const data = size_t(at) + 2 + keyLength;
            if (size_t(at) + 8 + 2 * nameLength > nodeSize || data + 2 > nodeSize)
                break;
            CCatalogLeafRecord record;
            record.parentId = GetBe32(&bytes[at + 2]);
            for (size_t c = 0; c < nameLength; ++c)
                record.name.push_back(char16_t(GetBe16(&bytes[at + 8 + 2 * c])));
            record.data = &bytes[data];
            record.size = nodeSize - data;
            if (visit(record))
                return true;
        }
    }
    *error = "not found in the HFS+ catalog";
    return false;
}

// The root folder's thread record, keyed by the root's ID and an empty name, holds the volume name.
bool ReadRootName(int fd, uint64_t offset, CHfsVolumeHeader const& header, std::string* name,
                  std::string* error)
{
    auto const isRootThread = [name](CCatalogLeafRecord const& record)
    {
        if (record.parentId != kHfsRootFolderId || !record.name.empty() || record.size < 10 ||
            GetBe16(record.data) != kHfsFolderThreadRecord)
            return false;
        size_t const length = GetBe16(record.data + 8);
        if (10 + 2 * length > record.size)
            return false;
        std::u16string hfsName;
        for (size_t c = 0; c < length; ++c)
            hfsName.push_back(char16_t(GetBe16(record.data + 10 + 2 * c)));
        *name = ConvertHfsNameToUtf8(hfsName);
        return true;
    };
    if (FindCatalogRecord(fd, offset, header, isRootThread, error))
        return true;
    *error = "the HFS+ catalog has no root folder";
    return false;
}

} // namespace

bool ReadHfsVolumeHeader(int fd, uint64_t offset, CHfsVolumeHeader* header, std::string* error)
{
    uint8_t bytes[kHfsVolumeHeaderSize];
    if (!ReadAllAt(fd, bytes, sizeof bytes, offset + kHfsVolumeHeaderOffset, error))
        return false;
    *header = GetHfsVolumeHeader(bytes);
    if (header->signature != kHfsPlusSignature && header->signature != kHfsxSignature)
    {
        *error = "no HFS+ volume found in the disk image";
        return false;
    }
    uint32_t const bs = header->blockSize;
    if (bs < 512 || (bs & (bs - 1)) != 0 || header->totalBlocks == 0)
    {
        *error = "the HFS+ volume header is damaged";
        return false;
    }
    return true;
}

bool ReadHfsVolumeInfo(int fd, uint64_t offset, CHfsVolumeInfo* info, std::string* error)
{
    CHfsVolumeHeader header;
    if (!ReadHfsVolumeHeader(fd, offset, &header, error) ||
        !ReadRootName(fd, offset, header, &info->volumeName, error))
        return false;
    info->createDate = header.createDate;
    info->blockSize = header.blockSize;
    info->totalBlocks = header.totalBlocks;
    info->freeBlocks = header.freeBlocks;
    info->nextCatalogId = header.nextCatalogId;
    info->openFolderId = header.finderInfo[2];
    return true;
}

bool ReadHfsFreeRanges(int fd, uint64_t offset, std::vector<std::pair<uint64_t, uint64_t>>* ranges,
                       std::string* error)
{
    CHfsVolumeHeader header;
    if (!ReadHfsVolumeHeader(fd, offset, &header, error))
        return false;
    std::vector<CHfsExtent> runs;
    CHfsBitmapReadAt const read = [&](uint64_t position, uint8_t* data, size_t size, std::string* why)
    { return ReadForkBytes(fd, offset, header, header.allocationFile, position, data, size, why); };
    if (!FindHfsFreeRuns(read, header.totalBlocks, &runs, error))
        return false;
    ranges->clear();
    for (CHfsExtent const& run : runs)
        ranges->push_back(
            {uint64_t(run.startBlock) * header.blockSize, uint64_t(run.blockCount) * header.blockSize});
    return true;
}

bool ReadHfsFinderFlags(int fd, uint64_t offset, std::string const& relativePath, uint16_t* flags,
                        std::string* error)
{
    CHfsVolumeHeader header;
    std::string rootName;
    if (!ReadHfsVolumeHeader(fd, offset, &header, error) || !ReadRootName(fd, offset, header, &rootName, error))
        return false;
    // Walks down from the root's record (keyed by its parent 1 and the volume name), one name a step.
    uint32_t parentId = kHfsRootParentId;
    std::string remaining = relativePath;
    std::u16string name;
    if (!ConvertNameToHfs(rootName, &name, error))
        return false;
    while (true)
    {
        uint32_t id = 0;
        auto const matches = [&](CCatalogLeafRecord const& record)
        {
            if (record.parentId != parentId || record.name != name || record.size < kHfsFinderFlagsOffset + 2)
                return false;
            uint16_t const type = GetBe16(record.data);
            if (type != kHfsFolderRecord && type != kHfsFileRecord)
                return false;
            id = GetBe32(record.data + 8);
            *flags = GetBe16(record.data + kHfsFinderFlagsOffset);
            return true;
        };
        if (!FindCatalogRecord(fd, offset, header, matches, error))
        {
            *error = relativePath + ": " + *error;
            return false;
        }
        if (remaining.empty())
            return true;
        size_t const slash = remaining.find('/');
        std::string const part = remaining.substr(0, slash);
        remaining = slash == std::string::npos ? std::string() : remaining.substr(slash + 1);
        if (!ConvertNameToHfs(part, &name, error))
            return false;
        parentId = id;
    }
}
