// The on-disk structures of a UDIF image, checked byte by byte.
#include "udif/BlkxTable.h"
#include "udif/KolyTrailer.h"
#include "udif/RegionPlan.h"
#include "udif/UdifPlist.h"

#include <gtest/gtest.h>

#include <plist/plist.h>

#include <cstring>

namespace
{
uint32_t Get32(uint8_t const* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
uint64_t Get64(uint8_t const* p)
{
    return uint64_t(Get32(p)) << 32 | Get32(p + 4);
}
} // namespace

TEST(BlkxTableTest, HeaderRunsAndTerminatorAtTheirOffsets)
{
    CBlkxTable table;
    table.firstSector = 40;
    table.sectorCount = 5000;
    table.descriptor = 3;
    table.crc32 = 0xDEADBEEF;
    table.runs = {{kBlkxZlib, 0, 2048, 0, 1234},
                  {kBlkxIgnore, 2048, 2000, 1234, 0},
                  {kBlkxRaw, 4048, 952, 1234, 487424}};
    std::vector<uint8_t> const bytes = SerializeBlkxTable(table);
    ASSERT_EQ(bytes.size(), 204u + 4 * 40);
    uint8_t const* p = bytes.data();
    EXPECT_EQ(std::memcmp(p, "mish", 4), 0);
    EXPECT_EQ(Get32(p + 4), 1u);
    EXPECT_EQ(Get64(p + 8), 40u);
    EXPECT_EQ(Get64(p + 16), 5000u);
    EXPECT_EQ(Get64(p + 24), 0u);
    EXPECT_EQ(Get32(p + 32), 0x808u); // buffers for one 2048-sector chunk
    EXPECT_EQ(Get32(p + 36), 3u);
    for (int i = 40; i < 64; ++i)
        EXPECT_EQ(p[i], 0) << "reserved byte " << i;
    EXPECT_EQ(Get32(p + 64), 2u);  // CRC32
    EXPECT_EQ(Get32(p + 68), 32u); // bits
    EXPECT_EQ(Get32(p + 72), 0xDEADBEEFu);
    for (int i = 76; i < 200; ++i)
        EXPECT_EQ(p[i], 0) << "checksum byte " << i;
    EXPECT_EQ(Get32(p + 200), 4u);

    uint8_t const* run = p + 204 + 40;
    EXPECT_EQ(Get32(run), 2u);
    EXPECT_EQ(Get32(run + 4), 0u);
    EXPECT_EQ(Get64(run + 8), 2048u);
    EXPECT_EQ(Get64(run + 16), 2000u);
    EXPECT_EQ(Get64(run + 24), 1234u);
    EXPECT_EQ(Get64(run + 32), 0u);
    uint8_t const* end = p + 204 + 3 * 40;
    EXPECT_EQ(Get32(end), 0xFFFFFFFFu);
    EXPECT_EQ(Get64(end + 8), 5000u);
    EXPECT_EQ(Get64(end + 16), 0u);
    EXPECT_EQ(Get64(end + 24), 1234u + 487424u); // where the table's data ends
    EXPECT_EQ(Get64(end + 32), 0u);
}

TEST(KolyTrailerTest, FieldsAtTheirOffsets)
{
    CKolyTrailer trailer;
    trailer.dataForkLength = 0x123456789A;
    trailer.xmlOffset = 0x123456789A;
    trailer.xmlLength = 0x4321;
    for (size_t i = 0; i < 16; ++i)
        trailer.segmentId[i] = static_cast<uint8_t>(0xA0 + i);
    trailer.dataForkCrc32 = 0x11223344;
    trailer.masterCrc32 = 0x55667788;
    trailer.sectorCount = 0x1000000001;
    auto const bytes = SerializeKolyTrailer(trailer);
    uint8_t const* p = bytes.data();

    EXPECT_EQ(std::memcmp(p, "koly", 4), 0);
    EXPECT_EQ(Get32(p + 4), 4u);
    EXPECT_EQ(Get32(p + 8), 512u);
    EXPECT_EQ(Get32(p + 12), 1u); // flattened
    EXPECT_EQ(Get64(p + 16), 0u);
    EXPECT_EQ(Get64(p + 24), 0u);
    EXPECT_EQ(Get64(p + 32), 0x123456789Au);
    EXPECT_EQ(Get64(p + 40), 0u);
    EXPECT_EQ(Get64(p + 48), 0u);
    EXPECT_EQ(Get32(p + 56), 1u);
    EXPECT_EQ(Get32(p + 60), 1u);
    EXPECT_EQ(p[64], 0xA0);
    EXPECT_EQ(p[79], 0xAF);
    EXPECT_EQ(Get32(p + 80), 2u);
    EXPECT_EQ(Get32(p + 84), 32u);
    EXPECT_EQ(Get32(p + 88), 0x11223344u);
    EXPECT_EQ(Get64(p + 216), 0x123456789Au);
    EXPECT_EQ(Get64(p + 224), 0x4321u);
    EXPECT_EQ(Get32(p + 352), 2u);
    EXPECT_EQ(Get32(p + 356), 32u);
    EXPECT_EQ(Get32(p + 360), 0x55667788u);
    EXPECT_EQ(Get32(p + 488), 1u); // device image
    EXPECT_EQ(Get64(p + 492), 0x1000000001u);
    for (int i : {92, 215, 232, 351, 364, 487, 500, 511})
        EXPECT_EQ(p[i], 0) << "byte " << i;
}

TEST(UdifPlistTest, ResourceForkHoldsBlkxInOrderAndPlst)
{
    std::string xml, error;
    ASSERT_TRUE(BuildUdifPlist({{"Protective Master Boot Record (MBR : 0)", -1, {1, 2, 3}},
                                {"disk image (Apple_HFS : 4)", 3, {0x6D, 0x69}}},
                               &xml, &error))
        << error;
    EXPECT_EQ(xml.rfind("<?xml", 0), 0u);
    plist_t root = nullptr;
    plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &root);
    ASSERT_NE(root, nullptr);
    plist_t fork = plist_dict_get_item(root, "resource-fork");
    ASSERT_NE(fork, nullptr);
    plist_t blkx = plist_dict_get_item(fork, "blkx");
    ASSERT_EQ(plist_array_get_size(blkx), 2u);

    auto GetString = [](plist_t dict, char const* key)
    {
        char* value = nullptr;
        plist_get_string_val(plist_dict_get_item(dict, key), &value);
        std::string text = value ? value : "<none>";
        free(value);
        return text;
    };
    plist_t mbr = plist_array_get_item(blkx, 0);
    EXPECT_EQ(GetString(mbr, "Attributes"), "0x0050");
    EXPECT_EQ(GetString(mbr, "CFName"), "Protective Master Boot Record (MBR : 0)");
    EXPECT_EQ(GetString(mbr, "Name"), "Protective Master Boot Record (MBR : 0)");
    EXPECT_EQ(GetString(mbr, "ID"), "-1");
    char* data = nullptr;
    uint64_t length = 0;
    plist_get_data_val(plist_dict_get_item(mbr, "Data"), &data, &length);
    ASSERT_EQ(length, 3u);
    EXPECT_EQ(std::memcmp(data, "\1\2\3", 3), 0);
    free(data);
    EXPECT_EQ(GetString(plist_array_get_item(blkx, 1), "ID"), "3");

    plist_t plst = plist_dict_get_item(fork, "plst");
    ASSERT_EQ(plist_array_get_size(plst), 1u);
    plist_t entry = plist_array_get_item(plst, 0);
    EXPECT_EQ(GetString(entry, "Attributes"), "0x0050");
    EXPECT_EQ(GetString(entry, "ID"), "0");
    EXPECT_EQ(GetString(entry, "Name"), "");
    plist_get_data_val(plist_dict_get_item(entry, "Data"), &data, &length);
    EXPECT_EQ(length, 0x600u);
    free(data);
    plist_free(root);
}

TEST(RegionPlanTest, UnusedRangesMergeAndDataIsCutIntoChunks)
{
    CUdifRegion region{
        "disk image (Apple_HFS : 4)", 3, 40, 6000, {{3000, 10}, {100, 20}, {110, 30}, {140, 5}}};
    std::vector<CRegionPiece> const pieces = PlanRegionPieces(region);
    std::vector<std::tuple<bool, uint64_t, uint64_t>> got;
    for (CRegionPiece const& piece : pieces)
        got.emplace_back(piece.unused, piece.startSector, piece.sectorCount);
    std::vector<std::tuple<bool, uint64_t, uint64_t>> const expected{
        {false, 40, 60},  {true, 100, 45},     {false, 145, 2048}, {false, 2193, 807},
        {true, 3000, 10}, {false, 3010, 2048}, {false, 5058, 982}};
    EXPECT_EQ(got, expected);
}

TEST(RegionPlanTest, RegionsMustTileTheDisk)
{
    std::string error;
    EXPECT_TRUE(CheckRegions({{"a", -1, 0, 1, {}}, {"b", 0, 1, 10, {{1, 10}}}}, &error)) << error;
    EXPECT_FALSE(CheckRegions({}, &error));
    EXPECT_FALSE(CheckRegions({{"a", -1, 1, 1, {}}}, &error));
    EXPECT_FALSE(CheckRegions({{"a", -1, 0, 2, {}}, {"b", 0, 1, 10, {}}}, &error)); // overlap
    EXPECT_FALSE(CheckRegions({{"a", -1, 0, 1, {}}, {"b", 0, 3, 10, {}}}, &error)); // gap
    EXPECT_NE(error.find("\"b\""), std::string::npos) << error;
    EXPECT_FALSE(CheckRegions({{"a", -1, 0, 0, {}}}, &error));
    EXPECT_FALSE(CheckRegions({{"a", -1, 0, 10, {{5, 6}}}}, &error)); // unused range runs past the end
    EXPECT_FALSE(CheckRegions({{"a", -1, 0, 1, {}}, {"b", 0, 1, 10, {{0, 1}}}}, &error));
}
