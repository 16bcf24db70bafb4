// Building the nodes of an HFS+ B-tree (catalog or extents file) from records already in key order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr int8_t kHfsLeafNode = -1;
constexpr int8_t kHfsIndexNode = 0;
constexpr int8_t kHfsHeaderNode = 1;

constexpr uint32_t kHfsBTreeBigKeys = 0x2;
constexpr uint32_t kHfsBTreeVariableIndexKeys = 0x4;

struct CHfsBTreeParams
{
    uint16_t nodeSize = 4096;
    uint16_t maxKeyLength = 0;
    uint32_t attributes = kHfsBTreeBigKeys;
    uint8_t compareType = 0;
    uint32_t clumpSize = 0;
};

struct CHfsBTree
{
    uint16_t nodeSize = 0;
    std::vector<uint8_t> nodes; // the used nodes, node 0 (the header) first
    uint16_t depth = 0;
    uint32_t rootNode = 0;
    uint32_t firstLeaf = 0;
    uint32_t lastLeaf = 0;
    uint32_t leafRecords = 0;

    uint32_t GetUsedNodes() const { return uint32_t(nodes.size() / nodeSize); }
};

// Packs records (each a key with its 16-bit length prefix, then the data) into full leaf nodes and
// the index nodes above them. Node 0 is left for the header.
bool PackHfsBTree(std::vector<std::vector<uint8_t>> const& records, uint16_t nodeSize, CHfsBTree* tree,
                  std::string* error);

// Most nodes a tree of this node size can have with the header node's map alone.
uint32_t GetHfsBTreeMapCapacity(uint16_t nodeSize);

// Writes the header node for a tree file of `totalNodes` nodes, the used ones marked in its map.
bool FinishHfsBTreeHeader(CHfsBTree* tree, uint32_t totalNodes, CHfsBTreeParams const& params,
                          std::string* error);
