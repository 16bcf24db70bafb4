// Building the nodes of an HFS+ B-tree (catalog or extents file) from records already in key order.
#pragma once

#include <cstdint>
#include <functional>
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
    std::vector<uint8_t> nodes; // the used nodes, node 0 (the header) first; the header alone when
                                // the others went straight to a sink
    uint16_t depth = 0;
    uint32_t rootNode = 0;
    uint32_t firstLeaf = 0;
    uint32_t lastLeaf = 0;
    uint32_t leafRecords = 0;
    uint32_t usedNodes = 1; // the header node and the packed ones

    uint32_t GetUsedNodes() const { return usedNodes; }
};

// Receives one finished node of `nodeSize` bytes and its number; false with a reason stops the packing.
using CHfsBTreeNodeSink = std::function<bool(uint32_t number, uint8_t const* node, std::string* error)>;

// Packs leaf records given one at a time in key order, handing each node on as soon as it is full: only
// one leaf and the index records above the leaves are held. The nodes come out numbered from 1 (node 0
// is left for the header), the leaves first, then each index level.
class CHfsBTreePacker
{
public:
    CHfsBTreePacker(uint16_t nodeSize, CHfsBTreeNodeSink sink);

    bool Add(std::vector<uint8_t> const& record, std::string* error);
    // Packs the index levels and fills the tree's summary; its `nodes` hold only the (blank) header node.
    bool Finish(CHfsBTree* tree, std::string* error);

private:
    bool CloseLeaf(uint32_t forward, std::string* error);

    uint16_t m_nodeSize;
    CHfsBTreeNodeSink m_sink;
    std::vector<uint8_t> m_leaf;  // the open leaf
    size_t m_leafCount = 0;       // its records
    size_t m_leafUsed = 0;        // its bytes, with the offsets table
    uint32_t m_leafRecords = 0;
    std::vector<std::vector<uint8_t>> m_parents; // each closed leaf's first key and number
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
