// Reads back what other parts of the tool need from a volume: its header, the root folder's name
// and the free space.
#include "bytes/ByteOrder.h"
#include "hfsplus/HfsBitmap.h"
#include "hfsplus/HfsCatalog.h"
#include "hfsplus/HfsFileIo.h"
#include "hfsplus/HfsNames.h"
#include "hfsplus/HfsVolume.h"
#include "hfsplus/HfsVolumeHeader.h"

#include <algorithm>
#include <vector>

namespace
{

constexpr uint16_t kHfsxSignature = 0x4858; // 'HX'


// Reads bytes of a fork held in the extents of its fork data (the first eight are enough for the
// volumes written here).
bool ReadForkBytes(int fd, uint64_t offset, uint32_t blockSize, CHfsForkData const& fork, uint64_t position,
                   uint8_t* data, size_t size, std::string* error)
{
    while (size > 0)
    {
        uint64_t extentStart = 0;
        bool found = false;
        for (CHfsExtent const& extent : fork.extents)
        {
            uint64_t const length = uint64_t(extent.blockCount) * blockSize;
            if (position < extentStart + length)
            {
                uint64_t const inExtent = position - extentStart;
                size_t const n = size_t(std::min<uint64_t>(size, length - inExtent));
                if (!ReadAllAt(fd, data, n, offset + uint64_t(extent.startBlock) * blockSize + inExtent,
                               error))
                    return false;
                data += n;
                size -= n;
                position += n;
                found = true;
                break;
            }
            extentStart += length;
        }
        if (!found)
        {
            *error = "the HFS+ volume's metadata lies outside its extents";
            return false;
        }
    }
    return true;
}

// The root folder's thread record, keyed by the root's ID and an empty name, holds the volume name.
bool ReadRootName(int fd, uint64_t offset, CHfsVolumeHeader const& header, std::string* name,
                  std::string* error)
{
    uint8_t head[512];
    if (!ReadForkBytes(fd, offset, header.blockSize, header.catalogFile, 0, head, sizeof head, error))
        return false;
    uint16_t const nodeSize = GetBe16(head + 32);
    uint32_t node = GetBe32(head + 24);
    uint32_t const totalNodes = GetBe32(head + 36);
    if (nodeSize < 512 || (nodeSize & (nodeSize - 1)) != 0)
    {
        *error = "the HFS+ catalog is damaged";
        return false;
    }
    std::vector<uint8_t> bytes(nodeSize);
    for (uint32_t visited = 0; node != 0 && visited < totalNodes; ++visited)
    {
        if (!ReadForkBytes(fd, offset, header.blockSize, header.catalogFile, uint64_t(node) * nodeSize,
                           bytes.data(), nodeSize, error))
            return false;
        uint16_t const count = GetBe16(&bytes[10]);
        for (uint16_t i = 0; i < count && 2u * (i + 1) <= nodeSize; ++i)
        {
            uint16_t const at = GetBe16(&bytes[nodeSize - 2 * (i + 1)]);
            if (size_t(at) + 8 > nodeSize)
                break;
            uint16_t const keyLength = GetBe16(&bytes[at]);
            uint32_t const parentId = GetBe32(&bytes[at + 2]);
            if (parentId > kHfsRootFolderId)
                break;
            size_t const data = size_t(at) + 2 + keyLength;
            if (parentId != kHfsRootFolderId || GetBe16(&bytes[at + 6]) != 0 || data + 10 > nodeSize ||
                GetBe16(&bytes[data]) != kHfsFolderThreadRecord)
                continue;
            size_t const length = GetBe16(&bytes[data + 8]);
            if (data + 10 + 2 * length > nodeSize)
                break;
            std::u16string hfsName;
            for (size_t c = 0; c < length; ++c)
                hfsName.push_back(char16_t(GetBe16(&bytes[data + 10 + 2 * c])));
            *name = ConvertHfsNameToUtf8(hfsName);
            return true;
        }
        node = GetBe32(bytes.data()); // next leaf
    }
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
    std::vector<uint8_t> bitmap((header.totalBlocks + 7) / 8);
    if (!ReadForkBytes(fd, offset, header.blockSize, header.allocationFile, 0, bitmap.data(), bitmap.size(),
                       error))
        return false;
    ranges->clear();
    for (CHfsExtent const& run : FindHfsFreeRuns(bitmap, header.totalBlocks))
        ranges->push_back(
            {uint64_t(run.startBlock) * header.blockSize, uint64_t(run.blockCount) * header.blockSize});
    return true;
}
