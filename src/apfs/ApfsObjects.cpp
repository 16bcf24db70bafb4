// Object checksums and B-tree nodes.
//
// B-tree node (btree_node_phys_t), after the object header:
//  32 btn_flags 2 (1 root, 2 leaf, 4 fixed-size records)   34 btn_level 2 (0 for leaves)
//  36 btn_nkeys 4   40 btn_table_space (offset 2, length 2, from byte 56)
//  44 btn_free_space (offset 2, length 2, from the key area)   48/52 key and value free lists
//  56 table of contents: per record key (offset, length) and value (offset, length) for variable
//     records, key offset and value offset for fixed ones; keys follow the table, key offsets count
//     from its end; values grow down from the end of the node (from the end of the info in a root),
//     value offsets count back from there.
// A root node ends in btree_info_t (40 bytes): flags, node size, key size, value size, longest
// key, longest value (4 each), record count and node count (8 each).
#include "apfs/ApfsObjects.h"

#include "io/ByteOrder.h"

#include <algorithm>
#include <cstring>

namespace
{
constexpr size_t kNodeHeader = 56;
constexpr size_t kInfoSize = 40;
constexpr uint16_t kNodeRoot = 1;
constexpr uint16_t kNodeLeaf = 2;
constexpr uint16_t kNodeFixed = 4;

size_t GetEntrySize(CApfsTreeShape const& shape)
{
    return shape.fixedKey ? 4 : 8;
}

// Trees of fixed-size records keep the table of contents as long as a node could ever need;
// others need room for at least one entry.
size_t GetMinimumTableSize(CApfsTreeShape const& shape, bool leaf)
{
    if (!shape.fixedKey)
        return 8;
    size_t const value = leaf ? shape.fixedValue : 8;
    return (kApfsBlockSize - kNodeHeader) / (shape.fixedKey + value + 4) * 4;
}

size_t GetTableSize(CApfsTreeShape const& shape, bool leaf, size_t count)
{
    return std::max(count * GetEntrySize(shape), GetMinimumTableSize(shape, leaf));
}

// Whether `count` records of `bytes` keys and values fit one node.
bool FitsNode(size_t count, size_t bytes, CApfsTreeShape const& shape, bool leaf, bool root)
{
    size_t const space = kApfsBlockSize - kNodeHeader - (root ? kInfoSize : 0);
    return GetTableSize(shape, leaf, count) + bytes <= space;
}

// Splits records into runs that fill nodes, in order, each run as long as it can be.
std::vector<std::pair<size_t, size_t>> PackRecords(std::vector<CApfsRecord> const& records,
                                                   CApfsTreeShape const& shape, bool leaf)
{
    size_t total = 0;
    for (CApfsRecord const& record : records)
        total += record.key.size() + record.value.size();
    if (FitsNode(records.size(), total, shape, leaf, true))
        return {{0, records.size()}};
    std::vector<std::pair<size_t, size_t>> runs;
    size_t start = 0, bytes = 0;
    for (size_t i = 0; i < records.size(); ++i)
    {
        size_t const size = records[i].key.size() + records[i].value.size();
        if (i > start && !FitsNode(i + 1 - start, bytes + size, shape, leaf, false))
        {
            runs.emplace_back(start, i);
            start = i;
            bytes = 0;
        }
        bytes += size;
    }
    runs.emplace_back(start, records.size());
    return runs;
}

// The records of one level and the level above them: each node's first key and a child reference.
struct CLevel
{
    std::vector<CApfsRecord> records;
    std::vector<std::pair<size_t, size_t>> runs;
};

std::vector<CLevel> PlanLevels(std::vector<CApfsRecord> const& records, CApfsTreeShape const& shape)
{
    std::vector<CLevel> levels;
    std::vector<CApfsRecord> current = records;
    for (;;)
    {
        CLevel level;
        level.records = std::move(current);
        level.runs = PackRecords(level.records, shape, levels.empty());
        levels.push_back(std::move(level));
        CLevel const& last = levels.back();
        if (last.runs.size() == 1)
            return levels;
        current.clear();
        for (auto const& run : last.runs)
            current.push_back({last.records[run.first].key, std::vector<uint8_t>(8, 0)});
    }
}
} // namespace

void PutApfsHeader(uint8_t* block, uint64_t oid, uint64_t xid, uint32_t type, uint32_t subtype)
{
    PutLe64(block + 8, oid);
    PutLe64(block + 16, xid);
    PutLe32(block + 24, type);
    PutLe32(block + 28, subtype);
}

uint64_t ComputeApfsChecksum(uint8_t const* block, size_t size)
{
    uint64_t const modulus = 0xFFFFFFFFull;
    uint64_t sum1 = 0, sum2 = 0;
    for (size_t i = 8; i + 4 <= size; i += 4)
    {
        sum1 = (sum1 + GetLe32(block + i)) % modulus;
        sum2 = (sum2 + sum1) % modulus;
    }
    uint64_t const check1 = modulus - ((sum1 + sum2) % modulus);
    uint64_t const check2 = modulus - ((sum1 + check1) % modulus);
    return (check2 << 32) | check1;
}

void SealApfsBlock(uint8_t* block)
{
    PutLe64(block, ComputeApfsChecksum(block, kApfsBlockSize));
}

size_t CountApfsTreeNodes(std::vector<CApfsRecord> const& records, CApfsTreeShape const& shape)
{
    size_t count = 0;
    for (CLevel const& level : PlanLevels(records, shape))
        count += level.runs.size();
    return count;
}

std::vector<CApfsBlock> BuildApfsTree(std::vector<CApfsRecord> const& records, CApfsTreeShape const& shape,
                                      std::vector<uint64_t> const& nodeIds, uint64_t xid)
{
    std::vector<CLevel> levels = PlanLevels(records, shape);
    size_t longestKey = 0, longestValue = 0;
    for (CApfsRecord const& record : records)
    {
        longestKey = std::max(longestKey, record.key.size());
        longestValue = std::max(longestValue, record.value.size());
    }
    std::vector<CApfsBlock> nodes;
    size_t nextId = 0;
    for (size_t depth = 0; depth < levels.size(); ++depth)
    {
        CLevel& level = levels[depth];
        size_t const firstId = nextId;
        for (size_t n = 0; n < level.runs.size(); ++n)
        {
            auto const run = level.runs[n];
            bool const root = depth + 1 == levels.size();
            CApfsBlock block(kApfsBlockSize, 0);
            uint8_t* b = block.data();
            uint16_t flags = uint16_t((root ? kNodeRoot : 0) | (depth == 0 ? kNodeLeaf : 0) |
                                      (shape.fixedKey ? kNodeFixed : 0));
            PutApfsHeader(b, nodeIds[nextId], xid,
                          shape.storage | (root ? kApfsTypeBTree : kApfsTypeBTreeNode), shape.subtype);
            size_t const count = run.second - run.first;
            size_t const entry = GetEntrySize(shape);
            size_t const tocLength = GetTableSize(shape, depth == 0, count);
            size_t const keyStart = kNodeHeader + tocLength;
            size_t const valueEnd = kApfsBlockSize - (root ? kInfoSize : 0);
            size_t keyOffset = 0, valueOffset = 0;
            for (size_t i = 0; i < count; ++i)
            {
                CApfsRecord const& record = level.records[run.first + i];
                std::memcpy(b + keyStart + keyOffset, record.key.data(), record.key.size());
                valueOffset += record.value.size();
                if (!record.value.empty())
                    std::memcpy(b + valueEnd - valueOffset, record.value.data(), record.value.size());
                uint8_t* toc = b + kNodeHeader + i * entry;
                if (shape.fixedKey)
                {
                    PutLe16(toc, uint16_t(keyOffset));
                    PutLe16(toc + 2, uint16_t(valueOffset));
                }
                else
                {
                    PutLe16(toc, uint16_t(keyOffset));
                    PutLe16(toc + 2, uint16_t(record.key.size()));
                    PutLe16(toc + 4, uint16_t(valueOffset));
                    PutLe16(toc + 6, uint16_t(record.value.size()));
                }
                keyOffset += record.key.size();
            }
            PutLe16(b + 32, flags);
            PutLe16(b + 34, uint16_t(depth));
            PutLe32(b + 36, uint32_t(count));
            PutLe16(b + 40, 0);
            PutLe16(b + 42, uint16_t(tocLength));
            PutLe16(b + 44, uint16_t(keyOffset));
            PutLe16(b + 46, uint16_t(valueEnd - valueOffset - keyStart - keyOffset));
            PutLe16(b + 48, 0xFFFF);
            PutLe16(b + 52, 0xFFFF);
            if (root)
            {
                uint8_t* info = b + kApfsBlockSize - kInfoSize;
                PutLe32(info, shape.infoFlags);
                PutLe32(info + 4, kApfsBlockSize);
                PutLe32(info + 8, shape.fixedKey);
                PutLe32(info + 12, shape.fixedValue);
                PutLe32(info + 16, uint32_t(shape.fixedKey ? shape.fixedKey : longestKey));
                PutLe32(info + 20, uint32_t(shape.fixedValue ? shape.fixedValue : longestValue));
                PutLe64(info + 24, records.size());
                PutLe64(info + 32, nodeIds.size());
            }
            SealApfsBlock(b);
            nodes.push_back(std::move(block));
            ++nextId;
        }
        if (depth + 1 < levels.size())
            for (size_t n = 0; n < level.runs.size(); ++n)
                PutLe64(levels[depth + 1].records[n].value.data(), nodeIds[firstId + n]);
    }
    return nodes;
}
