#include "hfsplus/HfsBTree.h"

#include "bytes/ByteOrder.h"

#include <cstring>

namespace
{

constexpr size_t kDescriptorSize = 14;
constexpr size_t kHeaderRecordSize = 106;
constexpr size_t kUserRecordSize = 128;

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

} // namespace

bool PackHfsBTree(std::vector<std::vector<uint8_t>> const& records, uint16_t nodeSize, CHfsBTree* tree,
                  std::string* error)
{
    *tree = CHfsBTree();
    tree->nodeSize = nodeSize;
    tree->nodes.assign(nodeSize, 0);
    tree->leafRecords = uint32_t(records.size());
    if (records.empty())
        return true;

    // The leaves are packed straight from the caller's records, each index level from the one below.
    std::vector<std::vector<uint8_t>> const* below = &records;
    std::vector<std::vector<uint8_t>> upper;
    uint8_t height = 1;
    for (;;)
    {
        std::vector<std::vector<uint8_t>> const& level = *below;
        // Greedy packing: a node takes records while they and their offsets fit.
        std::vector<std::pair<size_t, size_t>> groups; // first record, count
        size_t used = kDescriptorSize + 2;
        for (size_t i = 0; i < level.size(); ++i)
        {
            size_t need = level[i].size() + 2;
            if (kDescriptorSize + 2 + need > nodeSize)
            {
                *error =
                    "a catalog record of " + std::to_string(level[i].size()) + " bytes does not fit a node";
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

        uint32_t firstNode = tree->GetUsedNodes();
        tree->nodes.resize(tree->nodes.size() + groups.size() * nodeSize);
        std::vector<std::vector<uint8_t>> parents;
        for (size_t g = 0; g < groups.size(); ++g)
        {
            uint32_t number = firstNode + uint32_t(g);
            uint8_t* node = tree->nodes.data() + size_t(number) * nodeSize;
            BuildNode(node, nodeSize, height == 1 ? kHfsLeafNode : kHfsIndexNode, height, level,
                      groups[g].first, groups[g].second);
            LinkNode(node, g + 1 < groups.size() ? number + 1 : 0, g > 0 ? number - 1 : 0);
            // The parent's record: this node's first key, then the node number.
            std::vector<uint8_t> const& firstRecord = level[groups[g].first];
            size_t keySize = size_t(GetBe16(firstRecord.data())) + 2;
            std::vector<uint8_t> parent(firstRecord.begin(), firstRecord.begin() + keySize);
            parent.resize(keySize + 4);
            PutBe32(parent.data() + keySize, number);
            parents.push_back(std::move(parent));
        }
        if (height == 1)
        {
            tree->firstLeaf = firstNode;
            tree->lastLeaf = firstNode + uint32_t(groups.size()) - 1;
        }
        if (groups.size() == 1)
        {
            tree->rootNode = firstNode;
            tree->depth = height;
            return true;
        }
        upper = std::move(parents);
        below = &upper;
        ++height;
    }
}

uint32_t GetHfsBTreeMapCapacity(uint16_t nodeSize)
{
    return uint32_t(nodeSize - kDescriptorSize - kHeaderRecordSize - kUserRecordSize - 8) * 8;
}

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
