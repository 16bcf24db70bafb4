// A careful reader of the container superblock, the object maps and the file-system tree.
#include "apfs/ApfsReader.h"

#include "apfs/ApfsObjects.h"
#include "io/ByteOrder.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

namespace
{
constexpr int kMaxDepth = 12;
constexpr size_t kMaxNodes = 1u << 20;

class CReader
{
public:
    CReader(CApfsReadAt const& read, std::string* error) : m_read(read), m_error(error) {}

    bool Fail(std::string const& why)
    {
        *m_error = why;
        return false;
    }

    // A block, its checksum checked.
    bool ReadObject(uint64_t block, CApfsBlock* bytes)
    {
        bytes->assign(kApfsBlockSize, 0);
        if (block > (uint64_t(1) << 40) || !m_read(block * kApfsBlockSize, bytes->data(), kApfsBlockSize, m_error))
            return block > (uint64_t(1) << 40) ? Fail("an object lies outside the container") : false;
        if (GetLe64(bytes->data()) != ComputeApfsChecksum(bytes->data(), kApfsBlockSize))
            return Fail("the object in block " + std::to_string(block) + " has a bad checksum");
        return true;
    }

    // One B-tree node: its records' keys and values, located with every bound checked.
    struct CNode
    {
        CApfsBlock bytes;
        bool leaf = false;
        bool fixed = false;
        uint32_t count = 0;
        size_t tocStart = 0, keyStart = 0, valueEnd = 0;
    };

    bool ReadNode(uint64_t block, CNode* node)
    {
        if (++m_nodes > kMaxNodes)
            return Fail("the container's trees are too large");
        if (!ReadObject(block, &node->bytes))
            return false;
        uint8_t const* b = node->bytes.data();
        uint32_t const type = GetLe32(b + 24) & 0xFFFF;
        if (type != kApfsTypeBTree && type != kApfsTypeBTreeNode)
            return Fail("block " + std::to_string(block) + " is not a B-tree node");
        uint16_t const flags = GetLe16(b + 32);
        node->leaf = flags & 2;
        node->fixed = flags & 4;
        node->count = GetLe32(b + 36);
        node->tocStart = 56 + GetLe16(b + 40);
        node->keyStart = node->tocStart + GetLe16(b + 42);
        node->valueEnd = kApfsBlockSize - ((flags & 1) ? 40 : 0);
        if (node->keyStart > node->valueEnd ||
            uint64_t(node->count) * (node->fixed ? 4 : 8) > node->keyStart - node->tocStart)
            return Fail("the B-tree node in block " + std::to_string(block) + " is damaged");
        return true;
    }

    bool GetRecord(CNode const& node, uint32_t i, size_t fixedKey, size_t fixedValue, uint8_t const** key,
                   size_t* keyLength, uint8_t const** value, size_t* valueLength)
    {
        uint8_t const* toc = node.bytes.data() + node.tocStart + i * (node.fixed ? 4 : 8);
        size_t keyOffset, valueOffset;
        if (node.fixed)
        {
            keyOffset = GetLe16(toc);
            valueOffset = GetLe16(toc + 2);
            *keyLength = fixedKey;
            *valueLength = node.leaf ? fixedValue : 8;
        }
        else
        {
            keyOffset = GetLe16(toc);
            *keyLength = GetLe16(toc + 2);
            valueOffset = GetLe16(toc + 4);
            *valueLength = GetLe16(toc + 6);
        }
        if (node.keyStart + keyOffset + *keyLength > node.valueEnd || valueOffset > node.valueEnd ||
            *valueLength > valueOffset || node.valueEnd - valueOffset < node.keyStart || *keyLength < 8)
            return Fail("a B-tree record lies outside its node");
        *key = node.bytes.data() + node.keyStart + keyOffset;
        *value = node.bytes.data() + node.valueEnd - valueOffset;
        return true;
    }

    // The block of a virtual object, from the object map whose tree root is at `treeBlock`.
    bool Resolve(uint64_t treeBlock, uint64_t oid, uint64_t* block)
    {
        uint64_t current = treeBlock;
        for (int depth = 0; depth < kMaxDepth; ++depth)
        {
            CNode node;
            if (!ReadNode(current, &node))
                return false;
            bool found = false;
            uint64_t next = 0;
            for (uint32_t i = 0; i < node.count; ++i)
            {
                uint8_t const *key, *value;
                size_t keyLength, valueLength;
                if (!GetRecord(node, i, 16, 16, &key, &keyLength, &value, &valueLength))
                    return false;
                uint64_t const keyOid = GetLe64(key);
                if (node.leaf)
                {
                    if (keyOid == oid)
                    {
                        *block = GetLe64(value + 8);
                        return true;
                    }
                }
                else if (keyOid <= oid)
                {
                    next = GetLe64(value);
                    found = true;
                }
            }
            if (node.leaf || !found)
                return Fail("object " + std::to_string(oid) + " is missing from the object map");
            current = next;
        }
        return Fail("the object map is too deep");
    }

    bool ReadObjectMapTree(uint64_t omapBlock, uint64_t* treeBlock)
    {
        CApfsBlock omap;
        if (!ReadObject(omapBlock, &omap))
            return false;
        if ((GetLe32(omap.data() + 24) & 0xFFFF) != kApfsTypeObjectMap)
            return Fail("the object map is missing");
        *treeBlock = GetLe64(omap.data() + 48);
        return true;
    }

    // Every record of the file-system tree whose nodes the volume's object map places.
    bool WalkTree(uint64_t omapTree, uint64_t oid, int depth,
                  std::function<void(uint8_t const*, size_t, uint8_t const*, size_t)> const& visit)
    {
        if (depth > kMaxDepth)
            return Fail("the file-system tree is too deep");
        uint64_t block = 0;
        CNode node;
        if (!Resolve(omapTree, oid, &block) || !ReadNode(block, &node))
            return false;
        for (uint32_t i = 0; i < node.count; ++i)
        {
            uint8_t const *key, *value;
            size_t keyLength, valueLength;
            if (!GetRecord(node, i, 0, 0, &key, &keyLength, &value, &valueLength))
                return false;
            if (node.leaf)
                visit(key, keyLength, value, valueLength);
            else if (valueLength < 8 || !WalkTree(omapTree, GetLe64(value), depth + 1, visit))
                return valueLength < 8 ? Fail("a file-system tree index record is damaged") : false;
        }
        return true;
    }

private:
    CApfsReadAt const& m_read;
    std::string* m_error;
    size_t m_nodes = 0;
};

std::string TakeName(uint8_t const* name, size_t length)
{
    std::string text(reinterpret_cast<char const*>(name), length);
    size_t const end = text.find('\0');
    return end == std::string::npos ? text : text.substr(0, end);
}

void ReadInode(uint64_t id, uint8_t const* v, size_t length, CApfsVolumeListing* listing)
{
    if (length < 92)
        return;
    CApfsListedItem& item = listing->items[id];
    item.id = id;
    item.privateId = GetLe64(v + 8);
    uint16_t const mode = GetLe16(v + 80);
    item.kind = S_ISDIR(mode) ? EVolumeItemKind::Folder : S_ISLNK(mode) ? EVolumeItemKind::Symlink
                                                                      : EVolumeItemKind::File;
    if (id != kApfsRootInode && item.parent == 0)
        item.parent = GetLe64(v);
    // Extended fields: count, bytes used, then 4-byte headers, then each field's data, 8-aligned.
    if (length < 96)
        return;
    uint16_t const fields = GetLe16(v + 92);
    size_t data = 96 + size_t(fields) * 4;
    for (uint16_t f = 0; f < fields && 96 + f * 4u + 4 <= length; ++f)
    {
        uint8_t const* header = v + 96 + f * 4;
        uint16_t const size = GetLe16(header + 2);
        if (data + size > length)
            return;
        if (header[0] == 8 && size >= 8) // the data stream: its size first
            item.size = GetLe64(v + data);
        data += (size + 7u) & ~7u;
    }
}
} // namespace

bool IsApfsContainer(uint8_t const* firstBytes, size_t size)
{
    return size >= 36 && std::memcmp(firstBytes + 32, "NXSB", 4) == 0;
}

bool ReadApfsVolumeListing(CApfsReadAt const& read, CApfsVolumeListing* listing, std::string* error)
{
    *listing = CApfsVolumeListing();
    CReader reader(read, error);
    CApfsBlock super, volume;
    if (!reader.ReadObject(0, &super))
        return false;
    if (!IsApfsContainer(super.data(), super.size()) || GetLe32(super.data() + 36) != kApfsBlockSize)
        return reader.Fail("the APFS container has no superblock with 4 KiB blocks");
    uint64_t containerTree = 0, volumeBlock = 0, volumeTree = 0;
    if (!reader.ReadObjectMapTree(GetLe64(super.data() + 160), &containerTree) ||
        !reader.Resolve(containerTree, GetLe64(super.data() + 184), &volumeBlock) ||
        !reader.ReadObject(volumeBlock, &volume))
        return false;
    if (std::memcmp(volume.data() + 32, "APSB", 4) != 0)
        return reader.Fail("the APFS container holds no volume");
    listing->volumeName = TakeName(volume.data() + 704, 256);
    listing->createTime = int64_t(GetLe64(volume.data() + 304));
    bool const hashed = (GetLe64(volume.data() + 56) & 0x9) != 0;
    if (!reader.ReadObjectMapTree(GetLe64(volume.data() + 128), &volumeTree))
        return false;
    return reader.WalkTree(volumeTree, GetLe64(volume.data() + 136), 0,
                           [&](uint8_t const* key, size_t keyLength, uint8_t const* value, size_t valueLength) {
                               uint64_t const header = GetLe64(key);
                               uint64_t const id = header & 0x0FFFFFFFFFFFFFFFull;
                               switch (header >> 60)
                               {
                               case 3:
                                   ReadInode(id, value, valueLength, listing);
                                   break;
                               case 9: {
                                   size_t const nameAt = hashed ? 12 : 10;
                                   if (keyLength < nameAt || valueLength < 18)
                                       break;
                                   CApfsListedItem& item = listing->items[GetLe64(value)];
                                   item.id = GetLe64(value);
                                   item.parent = id;
                                   item.name = TakeName(key + nameAt, keyLength - nameAt);
                                   break;
                               }
                               case 4: {
                                   if (keyLength < 10 || valueLength < 4)
                                       break;
                                   std::string const name = TakeName(key + 10, keyLength - 10);
                                   uint16_t const dataLength = GetLe16(value + 2);
                                   if (name == "com.apple.FinderInfo" && (GetLe16(value) & 2) && dataLength >= 10 &&
                                       valueLength >= 4u + dataLength)
                                       listing->items[id].finderFlags = GetBe16(value + 4 + 8);
                                   break;
                               }
                               case 8:
                                   if (keyLength >= 16 && valueLength >= 16)
                                       listing->extents[id].push_back({GetLe64(key + 8), GetLe64(value + 8),
                                                                       GetLe64(value) & 0x00FFFFFFFFFFFFFFull});
                                   break;
                               default:
                                   break;
                               }
                           });
}

std::string GetApfsItemPath(CApfsVolumeListing const& listing, uint64_t id)
{
    std::string path;
    for (int depth = 0; depth < 256 && id != kApfsRootInode; ++depth)
    {
        auto const found = listing.items.find(id);
        if (found == listing.items.end() || found->second.name.empty())
            return {};
        path = "/" + found->second.name + path;
        id = found->second.parent;
    }
    return id == kApfsRootInode ? (path.empty() ? "/" : path) : std::string();
}

bool ReadApfsFileBytes(CApfsReadAt const& read, CApfsVolumeListing const& listing, CApfsListedItem const& item,
                       uint64_t maxBytes, std::vector<uint8_t>* bytes, std::string* error)
{
    if (item.size > maxBytes)
    {
        *error = "the file is larger than " + std::to_string(maxBytes) + " bytes";
        return false;
    }
    bytes->assign(size_t(item.size), 0);
    auto const found = listing.extents.find(item.privateId);
    if (found == listing.extents.end())
        return true; // nothing written: zeros, or empty
    for (CApfsExtentRead const& extent : found->second)
    {
        if (extent.logical >= item.size)
            continue;
        uint64_t const length = std::min(extent.length, item.size - extent.logical);
        if (extent.block > (uint64_t(1) << 40))
        {
            *error = "a file extent lies outside the container";
            return false;
        }
        if (extent.block != 0 &&
            !read(extent.block * kApfsBlockSize, bytes->data() + extent.logical, size_t(length), error))
            return false;
    }
    return true;
}
