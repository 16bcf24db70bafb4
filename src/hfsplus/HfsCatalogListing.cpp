// Walks the catalog B-tree of a volume from any source, trusting none of its numbers.
//
// B-tree node (nodeSize bytes): 0 forward link, 4 backward link, 8 kind (-1 leaf, 1 header),
//   9 height, 10 record count, 14 first record; record offsets as 16-bit words from the node's end.
// Header record (at 14 of node 0): 24 first leaf node, 32 node size, 36 total nodes.
// Catalog key: 0 key length, 2 parent ID, 6 name length, 8 name (UTF-16 units); data follows it.
// Folder and file records: 0 type (1 folder, 2 file), 8 ID, 48 Finder info (56 Finder flags);
//   files: 88 data fork (80 bytes).
#include "hfsplus/HfsCatalogListing.h"

#include "hfsplus/HfsCatalog.h"
#include "hfsplus/HfsNames.h"
#include "io/ByteOrder.h"

#include <algorithm>
#include <unordered_set>

namespace
{
constexpr uint8_t kLeafKind = 0xFF;
constexpr size_t kFolderRecordSize = 88;
constexpr size_t kFileRecordSize = 248;
// A catalog of more items than this is taken as damage; it keeps memory to a few hundred MiB.
constexpr size_t kMaxItems = 4u << 20;
// Records of all kinds (threads too); with empty leaves refused, this bounds the nodes walked.
constexpr size_t kMaxRecords = 3 * kMaxItems;
// Deeper folder chains than this are taken as a loop.
constexpr int kMaxDepth = 512;

bool Fail(std::string* error, char const* text)
{
    *error = text;
    return false;
}

} // namespace

bool ReadHfsForkBytes(CVolumeReadAt const& read, CHfsVolumeHeader const& header, CHfsForkData const& fork,
                      uint64_t position, uint8_t* data, size_t size, std::string* error)
{
    uint64_t const blockSize = header.blockSize;
    while (size > 0)
    {
        uint64_t extentStart = 0;
        bool found = false;
        for (CHfsExtent const& extent : fork.extents)
        {
            uint64_t const length = uint64_t(extent.blockCount) * blockSize;
            if (position >= extentStart + length)
            {
                extentStart += length;
                continue;
            }
            if (uint64_t(extent.startBlock) + extent.blockCount > header.totalBlocks)
                return Fail(error, "an HFS+ fork lies outside the volume");
            uint64_t const within = position - extentStart;
            size_t const n = size_t(std::min<uint64_t>(size, length - within));
            if (!read(uint64_t(extent.startBlock) * blockSize + within, data, n, error))
                return false;
            data += n;
            size -= n;
            position += n;
            found = true;
            break;
        }
        if (!found)
            return Fail(error, "an HFS+ fork is fragmented beyond its first eight extents");
    }
    return true;
}

namespace
{

// Adds the folder and file records of one leaf node.
bool AddLeafRecords(std::vector<uint8_t> const& node, size_t* records, CHfsVolumeListing* listing,
                    std::string* error)
{
    size_t const nodeSize = node.size();
    uint16_t const count = GetBe16(&node[10]);
    if (count == 0 || (size_t(count) + 1) * 2 + 14 > nodeSize)
        return Fail(error, "an HFS+ catalog node is damaged");
    *records += count;
    if (*records > kMaxRecords)
        return Fail(error, "the HFS+ catalog holds too many items");
    for (uint16_t i = 0; i < count; ++i)
    {
        size_t const start = GetBe16(&node[nodeSize - 2 * (i + 1)]);
        size_t const end = GetBe16(&node[nodeSize - 2 * (i + 2)]);
        if (start < 14 || end > nodeSize - 2 * (size_t(count) + 1) || start + 8 > end)
            return Fail(error, "an HFS+ catalog node is damaged");
        uint8_t const* key = &node[start];
        size_t const keyLength = GetBe16(key);
        size_t const nameLength = GetBe16(key + 6);
        size_t const dataAt = start + 2 + keyLength;
        if (keyLength < 6 || 8 + 2 * nameLength > 2 + keyLength || dataAt + 2 > end)
            return Fail(error, "an HFS+ catalog record is damaged");
        uint16_t const type = GetBe16(&node[dataAt]);
        if (type != kHfsFolderRecord && type != kHfsFileRecord)
            continue;
        size_t const recordSize = type == kHfsFolderRecord ? kFolderRecordSize : kFileRecordSize;
        if (dataAt + recordSize > end)
            return Fail(error, "an HFS+ catalog record is damaged");
        if (listing->items.size() >= kMaxItems)
            return Fail(error, "the HFS+ catalog holds too many items");
        uint8_t const* record = &node[dataAt];
        CHfsListedItem item;
        item.parentId = GetBe32(key + 2);
        item.folder = type == kHfsFolderRecord;
        item.id = GetBe32(record + 8);
        item.finderFlags = GetBe16(record + 56);
        std::u16string name;
        for (size_t c = 0; c < nameLength; ++c)
            name.push_back(char16_t(GetBe16(key + 8 + 2 * c)));
        item.name = ConvertHfsNameToUtf8(name);
        if (!item.folder)
            item.dataFork = GetHfsForkData(record + 88);
        if (!listing->byId.emplace(item.id, listing->items.size()).second)
            return Fail(error, "the HFS+ catalog holds an item twice");
        listing->items.push_back(std::move(item));
    }
    return true;
}
} // namespace

bool ReadHfsVolumeListing(CVolumeReadAt const& read, CHfsVolumeListing* listing, std::string* error)
{
    uint8_t bytes[kHfsVolumeHeaderSize];
    if (!read(kHfsVolumeHeaderOffset, bytes, sizeof bytes, error))
        return false;
    CHfsVolumeHeader& header = listing->header;
    header = GetHfsVolumeHeader(bytes);
    uint32_t const bs = header.blockSize;
    if (header.signature != kHfsPlusSignature && header.signature != kHfsxSignature)
        return Fail(error, "no HFS+ volume found");
    if (bs < 512 || (bs & (bs - 1)) != 0 || header.totalBlocks == 0)
        return Fail(error, "the HFS+ volume header is damaged");

    uint8_t head[14 + 106];
    if (!ReadHfsForkBytes(read, header, header.catalogFile, 0, head, sizeof head, error))
        return false;
    uint32_t const firstLeaf = GetBe32(head + 14 + 10);
    uint32_t const nodeSize = GetBe16(head + 14 + 18);
    uint64_t const nodeLimit = std::min<uint64_t>(GetBe32(head + 14 + 22),
                                                  header.catalogFile.logicalSize / std::max<uint32_t>(nodeSize, 1));
    if (nodeSize < 512 || nodeSize > 32768 || (nodeSize & (nodeSize - 1)) != 0)
        return Fail(error, "the HFS+ catalog is damaged");

    std::vector<uint8_t> node(nodeSize);
    std::unordered_set<uint32_t> visited;
    size_t records = 0;
    for (uint32_t number = firstLeaf; number != 0;)
    {
        if (number >= nodeLimit || !visited.insert(number).second)
            return Fail(error, "the HFS+ catalog's leaf chain is damaged");
        if (!ReadHfsForkBytes(read, header, header.catalogFile, uint64_t(number) * nodeSize, node.data(), nodeSize, error))
            return false;
        if (node[8] != kLeafKind)
            return Fail(error, "the HFS+ catalog's leaf chain is damaged");
        if (!AddLeafRecords(node, &records, listing, error))
            return false;
        number = GetBe32(node.data());
    }
    auto root = listing->byId.find(kHfsRootFolderId);
    if (root == listing->byId.end() || !listing->items[root->second].folder)
        return Fail(error, "the HFS+ catalog has no root folder");
    listing->volumeName = listing->items[root->second].name;
    return true;
}

std::string GetHfsItemPath(CHfsVolumeListing const& listing, uint32_t id)
{
    std::string path;
    for (int depth = 0; depth < kMaxDepth; ++depth)
    {
        if (id == kHfsRootFolderId)
            return path.empty() ? "/" : path;
        auto found = listing.byId.find(id);
        if (found == listing.byId.end())
            return "";
        CHfsListedItem const& item = listing.items[found->second];
        path = "/" + item.name + path;
        id = item.parentId;
    }
    return "";
}

bool ReadHfsDataFork(CVolumeReadAt const& read, CHfsVolumeListing const& listing, CHfsForkData const& fork,
                     uint64_t maxBytes, std::vector<uint8_t>* data, std::string* error)
{
    if (fork.logicalSize > maxBytes)
        return Fail(error, "the file is too large");
    data->assign(size_t(fork.logicalSize), 0);
    return ReadHfsForkBytes(read, listing.header, fork, 0, data->data(), data->size(), error);
}
