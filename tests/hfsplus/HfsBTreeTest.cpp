// Node layout of the B-trees, checked against the byte positions TN1150 gives.
#include "hfsplus/HfsBTree.h"
#include "io/ByteOrder.h"
#include "hfsplus/HfsCatalog.h"

#include <gtest/gtest.h>

namespace
{

std::vector<uint8_t> MakeRecord(uint32_t parentId, std::u16string const& name, size_t dataSize)
{
    std::vector<uint8_t> record = MakeHfsCatalogKey(parentId, name);
    record.resize(record.size() + dataSize, 0xAB);
    return record;
}

uint16_t GetRecordOffset(uint8_t const* node, uint16_t nodeSize, size_t index)
{
    return GetBe16(node + nodeSize - 2 * (index + 1));
}

} // namespace

TEST(HfsBTree, CatalogKeyLayout)
{
    std::vector<uint8_t> key = MakeHfsCatalogKey(0x11223344, u"Ab");
    std::vector<uint8_t> expected = {0x00, 0x0A, 0x11, 0x22, 0x33, 0x44, 0x00, 0x02, 0x00, 'A', 0x00, 'b'};
    EXPECT_EQ(key, expected);
}

TEST(HfsBTree, HeaderNodeOfAnEmptyTree)
{
    CHfsBTree tree;
    std::string error;
    ASSERT_TRUE(PackHfsBTree({}, 4096, &tree, &error)) << error;
    CHfsBTreeParams params;
    params.nodeSize = 4096;
    params.maxKeyLength = 10;
    params.clumpSize = 32768;
    ASSERT_TRUE(FinishHfsBTreeHeader(&tree, 8, params, &error)) << error;
    ASSERT_EQ(tree.nodes.size(), 4096u);
    uint8_t const* n = tree.nodes.data();
    EXPECT_EQ(GetBe32(n), 0u);        // no map nodes follow
    EXPECT_EQ(n[8], 1);               // header node
    EXPECT_EQ(GetBe16(n + 10), 3);    // header, user data and map records
    EXPECT_EQ(GetBe16(n + 14), 0);    // depth
    EXPECT_EQ(GetBe32(n + 16), 0u);   // root
    EXPECT_EQ(GetBe16(n + 32), 4096); // node size
    EXPECT_EQ(GetBe16(n + 34), 10);   // max key length
    EXPECT_EQ(GetBe32(n + 36), 8u);   // total nodes
    EXPECT_EQ(GetBe32(n + 40), 7u);   // free nodes
    EXPECT_EQ(GetBe32(n + 46), 32768u);
    EXPECT_EQ(GetBe32(n + 52), 2u); // big keys
    // Record offsets: header record at 14, user data at 120, map at 248, free space at nodeSize-8.
    EXPECT_EQ(GetRecordOffset(n, 4096, 0), 14);
    EXPECT_EQ(GetRecordOffset(n, 4096, 1), 120);
    EXPECT_EQ(GetRecordOffset(n, 4096, 2), 248);
    EXPECT_EQ(GetRecordOffset(n, 4096, 3), 4096 - 8);
    EXPECT_EQ(n[248], 0x80); // only the header node is in use
}

TEST(HfsBTree, ManyRecordsMakeIndexLevelsOverLinkedLeaves)
{
    // Records of about 1 KiB: 7 fit an 8 KiB leaf, so 5000 make ~715 leaves and three levels.
    std::vector<std::vector<uint8_t>> records;
    for (uint32_t i = 0; i < 5000; ++i)
        records.push_back(MakeRecord(16 + i, u"n", 1000));
    CHfsBTree tree;
    std::string error;
    ASSERT_TRUE(PackHfsBTree(records, 8192, &tree, &error)) << error;
    EXPECT_EQ(tree.depth, 3);
    EXPECT_EQ(tree.leafRecords, 5000u);
    EXPECT_EQ(tree.firstLeaf, 1u);

    uint32_t const nodeCount = tree.GetUsedNodes();
    auto const node = [&](uint32_t i) { return tree.nodes.data() + size_t(i) * 8192; };
    // Leaves: chained both ways, heights 1, all records present in order.
    uint32_t seen = 0, previous = 0;
    uint32_t expectedParent = 16;
    for (uint32_t i = tree.firstLeaf; i != 0; i = GetBe32(node(i)))
    {
        uint8_t const* n = node(i);
        EXPECT_EQ(int8_t(n[8]), kHfsLeafNode);
        EXPECT_EQ(n[9], 1);
        EXPECT_EQ(GetBe32(n + 4), previous);
        for (uint16_t r = 0; r < GetBe16(n + 10); ++r)
            EXPECT_EQ(GetBe32(n + GetRecordOffset(n, 8192, r) + 2), expectedParent++);
        seen += GetBe16(n + 10);
        previous = i;
    }
    EXPECT_EQ(seen, 5000u);
    EXPECT_EQ(previous, tree.lastLeaf);

    // The root: an index node whose records point at index nodes of height 2, each of whose
    // first key is the first key of the node it points at.
    uint8_t const* root = node(tree.rootNode);
    EXPECT_EQ(int8_t(root[8]), kHfsIndexNode);
    EXPECT_EQ(root[9], 3);
    EXPECT_EQ(GetBe32(root), 0u);
    for (uint16_t r = 0; r < GetBe16(root + 10); ++r)
    {
        uint8_t const* record = root + GetRecordOffset(root, 8192, r);
        uint16_t keyLength = GetBe16(record);
        EXPECT_EQ(keyLength, 8); // variable-length index keys: the full catalog key
        uint32_t child = GetBe32(record + 2 + keyLength);
        ASSERT_LT(child, nodeCount);
        uint8_t const* c = node(child);
        EXPECT_EQ(c[9], 2);
        EXPECT_EQ(0, memcmp(record, c + GetRecordOffset(c, 8192, 0), 2 + keyLength));
    }

    CHfsBTreeParams params;
    params.nodeSize = 8192;
    params.maxKeyLength = kHfsCatalogMaxKeyLength;
    params.attributes = kHfsBTreeBigKeys | kHfsBTreeVariableIndexKeys;
    ASSERT_TRUE(FinishHfsBTreeHeader(&tree, nodeCount + 20, params, &error)) << error;
    uint8_t const* header = node(0);
    EXPECT_EQ(GetBe16(header + 14), 3);
    EXPECT_EQ(GetBe32(header + 16), tree.rootNode);
    EXPECT_EQ(GetBe32(header + 20), 5000u);
    EXPECT_EQ(GetBe32(header + 40), 20u);
    EXPECT_EQ(GetBe32(header + 52), 6u);
    // Map bits: the used nodes, most significant bit first.
    uint8_t const* map = header + 248;
    for (uint32_t i = 0; i < nodeCount + 20; ++i)
        ASSERT_EQ((map[i / 8] >> (7 - i % 8)) & 1, i < nodeCount ? 1 : 0) << i;

    EXPECT_FALSE(FinishHfsBTreeHeader(&tree, GetHfsBTreeMapCapacity(8192) + 1, params, &error));
}
