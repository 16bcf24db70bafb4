// Packing records in key order into HFS+ B-tree nodes and writing the header node.
#include "hfsplus/HfsBTree.h"

#include "io/ByteOrder.h"

#include <cstring>
#include <utility>

namespace
{

constexpr size_t kDescriptorSize = 14;
constexpr size_t kHeaderRecordSize = 106;
constexpr size_t kUserRecordSize = 128;

// BTNodeDescriptor (TN1150), the first 14 bytes of every node, big-endian:
//   offset size meaning
//        0    4 fLink, the next node of the same level (0: none)
//        4    4 bLink, the previous node of the same level
//        8    1 kind: -1 leaf, 0 index, 1 header, 2 map
//        9    1 height: 1 for leaves, one more per index level; 0 in the header node
//       10    2 numRecords
//       12    2 reserved
// The node ends with a table of 2-byte record offsets growing downwards: record 0's offset in the
// last two bytes, and after the last record's the offset of the free space.
//
// Lays out one node: descriptor, records, and the offsets table at the end (record 0's offset
// last, preceded by the offset of the free space).
void BuildNode(uint8_t* node, uint16_t nodeSize, int8_t kind, uint8_t height,
               std::vector<std::vector<uint8_t>> const& records, size_t first, size_t count)
{
    memset(node, 0, nodeSize);
    node[8] = uint8_t(kind);
    node[9] = height;
    PutBe16(node + 10, uint16_t(count));
    size_t offset = kDescriptorSize;
    for (size_t i = 0; i < count; ++i)
    {
        std::vector<uint8_t> const& record = records[first + i];
        PutBe16(node + nodeSize - 2 * (i + 1), uint16_t(offset));
        memcpy(node + offset, record.data(), record.size());
        offset += record.size();
    }
    PutBe16(node + nodeSize - 2 * (count + 1), uint16_t(offset));
}

void LinkNode(uint8_t* node, uint32_t forward, uint32_t backward)
{
    PutBe32(node, forward);
    PutBe32(node + 4, backward);
}

std::string DescribeTooLarge(size_t size)
{
    return "a catalog record of " + std::to_string(size) + " bytes does not fit a node";
}

// The record that points at a node from the level above: the node's first key, then its number.
std::vector<uint8_t> MakeParentRecord(std::vector<uint8_t> const& firstRecord, uint32_t number)
{
    size_t const keySize = size_t(GetBe16(firstRecord.data())) + 2;
    std::vector<uint8_t> parent(firstRecord.begin(), firstRecord.begin() + long(keySize));
    parent.resize(keySize + 4);
    PutBe32(parent.data() + keySize, number);
    return parent;
}

// Packs one index level into nodes numbered from `firstNode`, greedily: a node takes records while they
// and their offsets fit. The records for the level above go to `parents`.
bool PackIndexLevel(std::vector<std::vector<uint8_t>> const& level, uint16_t nodeSize, uint8_t height,
                    uint32_t firstNode, CHfsBTreeNodeSink const& sink,
                    std::vector<std::vector<uint8_t>>* parents, std::string* error)
{
    std::vector<std::pair<size_t, size_t>> groups; // first record, count
    size_t used = kDescriptorSize + 2;
    for (size_t i = 0; i < level.size(); ++i)
    {
        size_t need = level[i].size() + 2;
        if (kDescriptorSize + 2 + need > nodeSize)
        {
            *error = DescribeTooLarge(level[i].size());
            return false;
        }
        if (groups.empty() || used + need > nodeSize)
        {
            groups.push_back({i, 0});
            used = kDescriptorSize + 2;
        }
        ++groups.back().second;
        used += need;
    }
    std::vector<uint8_t> node(nodeSize);
    parents->clear();
    for (size_t g = 0; g < groups.size(); ++g)
    {
        uint32_t number = firstNode + uint32_t(g);
        BuildNode(node.data(), nodeSize, kHfsIndexNode, height, level, groups[g].first, groups[g].second);
        LinkNode(node.data(), g + 1 < groups.size() ? number + 1 : 0, g > 0 ? number - 1 : 0);
        if (!sink(number, node.data(), error))
            return false;
        parents->push_back(MakeParentRecord(level[groups[g].first], number));
    }
    return true;
}

} // namespace

CHfsBTreePacker::CHfsBTreePacker(uint16_t nodeSize, CHfsBTreeNodeSink sink)
    : m_nodeSize(nodeSize), m_sink(std::move(sink))
{
}

bool CHfsBTreePacker::Add(std::vector<uint8_t> const& record, std::string* error)
{
    size_t const need = record.size() + 2;
    if (kDescriptorSize + 2 + need > m_nodeSize)
    {
        *error = DescribeTooLarge(record.size());
        return false;
    }
    if (m_leafRecords > 0 && m_leafUsed + need > m_nodeSize && !CloseLeaf(uint32_t(m_parents.size()) + 1, error))
        return false;
    if (m_leafCount == 0)
    {
        // A new leaf, numbered after the ones before it.
        uint32_t const number = uint32_t(m_parents.size()) + 1;
        m_leaf.assign(m_nodeSize, 0);
        m_leaf[8] = uint8_t(kHfsLeafNode);
        m_leaf[9] = 1;
        LinkNode(m_leaf.data(), 0, number > 1 ? number - 1 : 0);
        m_leafCount = 0;
        m_leafUsed = kDescriptorSize + 2;
        m_parents.push_back(MakeParentRecord(record, number));
    }
    size_t const offset = m_leafUsed - 2 * (m_leafCount + 1);
    PutBe16(m_leaf.data() + m_nodeSize - 2 * (m_leafCount + 1), uint16_t(offset));
    memcpy(m_leaf.data() + offset, record.data(), record.size());
    ++m_leafCount;
    m_leafUsed += need;
    ++m_leafRecords;
    return true;
}

bool CHfsBTreePacker::CloseLeaf(uint32_t forward, std::string* error)
{
    uint8_t* node = m_leaf.data();
    PutBe16(node + 10, uint16_t(m_leafCount));
    PutBe16(node + m_nodeSize - 2 * (m_leafCount + 1), uint16_t(m_leafUsed - 2 * (m_leafCount + 1)));
    PutBe32(node, forward);
    m_leafCount = 0;
    return m_sink(uint32_t(m_parents.size()), node, error);
}

bool CHfsBTreePacker::Finish(CHfsBTree* tree, std::string* error)
{
    tree->nodeSize = m_nodeSize;
    tree->leafRecords = m_leafRecords;
    tree->depth = 0;
    tree->rootNode = tree->firstLeaf = tree->lastLeaf = 0;
    tree->usedNodes = 1;
    if (m_leafRecords == 0)
        return true;
    if (!CloseLeaf(0, error))
        return false;
    uint32_t const leaves = uint32_t(m_parents.size());
    tree->firstLeaf = 1;
    tree->lastLeaf = leaves;
    tree->usedNodes = 1 + leaves;
    tree->rootNode = 1;
    tree->depth = 1;
    std::vector<std::vector<uint8_t>> level = std::move(m_parents), parents;
    while (level.size() > 1)
    {
        ++tree->depth;
        if (!PackIndexLevel(level, m_nodeSize, uint8_t(tree->depth), tree->usedNodes, m_sink, &parents, error))
            return false;
        tree->rootNode = tree->usedNodes;
        tree->usedNodes += uint32_t(parents.size());
        level.swap(parents);
    }
    return true;
}

bool PackHfsBTree(std::vector<std::vector<uint8_t>> const& records, uint16_t nodeSize, CHfsBTree* tree,
                  std::string* error)
{
    *tree = CHfsBTree();
    tree->nodes.assign(nodeSize, 0);
    CHfsBTreePacker packer(nodeSize,
                           [tree, nodeSize](uint32_t, uint8_t const* node, std::string*)
                           {
                               tree->nodes.insert(tree->nodes.end(), node, node + nodeSize);
                               return true;
                           });
    for (std::vector<uint8_t> const& record : records)
        if (!packer.Add(record, error))
            return false;
    return packer.Finish(tree, error);
}

uint32_t GetHfsBTreeMapCapacity(uint16_t nodeSize)
{
    return uint32_t(nodeSize - kDescriptorSize - kHeaderRecordSize - kUserRecordSize - 8) * 8;
}

// Header node (node 0): descriptor, then three records: the header record at 14, the 128-byte user
// data record at 120 (zero), the map record at 248 up to the offsets table (one bit per node, set
// when in use, most significant bit first).
// BTHeaderRec (TN1150), 106 bytes, offsets from its start:
//   offset size meaning
//        0    2 treeDepth
//        2    4 rootNode
//        6    4 leafRecords
//       10    4 firstLeafNode
//       14    4 lastLeafNode
//       18    2 nodeSize
//       20    2 maxKeyLength
//       22    4 totalNodes
//       26    4 freeNodes
//       30    2 reserved
//       32    4 clumpSize
//       36    1 btreeType: 0, a file system B-tree
//       37    1 keyCompareType: 0xCF case-folding (the catalog), 0 for the other trees
//       38    4 attributes: big keys, variable index keys
//       42   64 reserved
bool FinishHfsBTreeHeader(CHfsBTree* tree, uint32_t totalNodes, CHfsBTreeParams const& params,
                          std::string* error)
{
    uint16_t const nodeSize = tree->nodeSize;
    uint32_t const usedNodes = tree->GetUsedNodes();
    if (totalNodes < usedNodes || totalNodes > GetHfsBTreeMapCapacity(nodeSize))
    {
        *error = "a B-tree of " + std::to_string(totalNodes) + " nodes is beyond what this writer supports";
        return false;
    }
    uint8_t* node = tree->nodes.data();
    memset(node, 0, nodeSize);
    node[8] = uint8_t(kHfsHeaderNode);
    PutBe16(node + 10, 3);

    uint8_t* header = node + kDescriptorSize;
    PutBe16(header + 0, tree->depth);
    PutBe32(header + 2, tree->rootNode);
    PutBe32(header + 6, tree->leafRecords);
    PutBe32(header + 10, tree->firstLeaf);
    PutBe32(header + 14, tree->lastLeaf);
    PutBe16(header + 18, nodeSize);
    PutBe16(header + 20, params.maxKeyLength);
    PutBe32(header + 22, totalNodes);
    PutBe32(header + 26, totalNodes - usedNodes);
    PutBe32(header + 32, params.clumpSize);
    header[36] = 0; // btreeType: a file system B-tree
    header[37] = params.compareType;
    PutBe32(header + 38, params.attributes);

    size_t const userOffset = kDescriptorSize + kHeaderRecordSize;
    size_t const mapOffset = userOffset + kUserRecordSize;
    uint8_t* map = node + mapOffset;
    for (uint32_t i = 0; i < usedNodes; ++i)
        map[i / 8] |= uint8_t(0x80 >> (i % 8));
    PutBe16(node + nodeSize - 2, uint16_t(kDescriptorSize));
    PutBe16(node + nodeSize - 4, uint16_t(userOffset));
    PutBe16(node + nodeSize - 6, uint16_t(mapOffset));
    PutBe16(node + nodeSize - 8, uint16_t(nodeSize - 8));
    return true;
}
