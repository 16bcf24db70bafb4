// The allocation bitmap written and read in bounded pieces, checked against a bit-by-bit bitmap.
#include "hfsplus/HfsBitmap.h"

#include <gtest/gtest.h>

#include <random>

namespace
{

constexpr size_t kMaxPiece = 64 * 1024;

struct CRun
{
    uint32_t first, count;
};

// The bitmap one bit at a time, as the format defines it.
std::vector<uint8_t> MakePlainBitmap(uint32_t totalBlocks, std::vector<CRun> const& runs)
{
    std::vector<uint8_t> bytes((uint64_t(totalBlocks) + 7) / 8);
    for (CRun const& run : runs)
        for (uint64_t b = run.first; b < uint64_t(run.first) + run.count && b < totalBlocks; ++b)
            bytes[b / 8] |= uint8_t(0x80 >> (b % 8));
    return bytes;
}

std::vector<CHfsExtent> FindPlainFreeRuns(std::vector<uint8_t> const& bytes, uint32_t totalBlocks)
{
    std::vector<CHfsExtent> runs;
    for (uint32_t b = 0; b < totalBlocks; ++b)
    {
        if (bytes[b / 8] & (0x80 >> (b % 8)))
            continue;
        if (!runs.empty() && runs.back().startBlock + runs.back().blockCount == b)
            ++runs.back().blockCount;
        else
            runs.push_back({b, 1});
    }
    return runs;
}

// Writes the bitmap of `runs` into zeroed memory through the piece writer.
std::vector<uint8_t> WritePieces(uint32_t totalBlocks, std::vector<CRun> const& runs, uint32_t* freeBlocks)
{
    CHfsBitmap bitmap(totalBlocks);
    for (CRun const& run : runs)
        bitmap.MarkUsed(run.first, run.count);
    *freeBlocks = bitmap.CountFree();
    std::vector<uint8_t> bytes((uint64_t(totalBlocks) + 7) / 8);
    std::string error;
    uint64_t written = 0;
    EXPECT_TRUE(bitmap.WriteUsedBytes(
        [&](uint64_t position, uint8_t const* data, size_t size, std::string*)
        {
            EXPECT_LE(size, kMaxPiece);
            EXPECT_GE(position, written) << "pieces go forward and don't overlap";
            EXPECT_LE(position + size, bytes.size());
            std::copy(data, data + size, bytes.begin() + long(position));
            written = position + size;
            return true;
        },
        &error));
    return bytes;
}

std::vector<std::pair<uint32_t, uint32_t>> ListRuns(std::vector<CHfsExtent> const& runs)
{
    std::vector<std::pair<uint32_t, uint32_t>> list;
    for (CHfsExtent const& run : runs)
        list.push_back({run.startBlock, run.blockCount});
    return list;
}

} // namespace

TEST(HfsBitmap, PiecesMatchTheWholeBitmap)
{
    std::mt19937 random(13);
    std::vector<std::pair<uint32_t, std::vector<CRun>>> cases = {
        {1, {{0, 1}}},
        {13, {{0, 3}, {3, 2}, {12, 1}}},                           // touching runs, the last bit
        {9, {{5, 2}, {0, 6}, {8, 5}}},                             // out of order, overlapping, past the end
        {3 * 8 * kMaxPiece + 5, {{0, 8 * kMaxPiece + 3}, {3 * 8 * kMaxPiece + 4, 1}}}, // over piece edges
    };
    for (int round = 0; round < 20; ++round)
    {
        uint32_t const total = 1 + random() % (20 * 8 * kMaxPiece / 10);
        std::vector<CRun> runs;
        for (int r = 0; r < 1 + round; ++r)
            runs.push_back({uint32_t(random() % total), uint32_t(random() % (round % 2 ? 40 : 2 * 8 * kMaxPiece))});
        cases.push_back({total, runs});
    }
    for (auto const& [total, runs] : cases)
    {
        SCOPED_TRACE("blocks " + std::to_string(total));
        std::vector<uint8_t> const plain = MakePlainBitmap(total, runs);
        std::vector<CHfsExtent> const plainFree = FindPlainFreeRuns(plain, total);
        uint32_t freeBlocks = 0;
        EXPECT_EQ(WritePieces(total, runs, &freeBlocks), plain);
        uint32_t plainFreeBlocks = 0;
        for (CHfsExtent const& run : plainFree)
            plainFreeBlocks += run.blockCount;
        EXPECT_EQ(freeBlocks, plainFreeBlocks);

        std::vector<CHfsExtent> found;
        std::string error;
        CHfsBitmapReadAt const read = [&](uint64_t position, uint8_t* data, size_t size, std::string*)
        {
            EXPECT_LE(size, kMaxPiece);
            std::copy(plain.begin() + long(position), plain.begin() + long(position + size), data);
            return true;
        };
        ASSERT_TRUE(FindHfsFreeRuns(read, total, &found, &error)) << error;
        EXPECT_EQ(ListRuns(found), ListRuns(plainFree));
    }
}

// The largest volume's bitmap is 512 MB: only the bytes that hold used blocks are made and written.
TEST(HfsBitmap, LargestVolumeWritesOnlyItsUsedBytes)
{
    uint32_t const total = UINT32_MAX;
    CHfsBitmap bitmap(total);
    bitmap.MarkUsed(0, 1000003);
    bitmap.MarkUsed(total - 1, 1);
    EXPECT_EQ(bitmap.CountFree(), total - 1000004);
    std::vector<std::pair<uint64_t, std::vector<uint8_t>>> pieces;
    std::string error;
    ASSERT_TRUE(bitmap.WriteUsedBytes(
        [&](uint64_t position, uint8_t const* data, size_t size, std::string*)
        {
            pieces.push_back({position, std::vector<uint8_t>(data, data + size)});
            return true;
        },
        &error));
    uint64_t bytes = 0;
    for (auto const& piece : pieces)
        bytes += piece.second.size();
    EXPECT_EQ(bytes, 1000003 / 8 + 1 + 1);
    EXPECT_EQ(pieces.back().first, (uint64_t(total) - 1) / 8);
    EXPECT_EQ(pieces.back().second, std::vector<uint8_t>{0x02}); // block 4294967294: bit 6 of its byte
    EXPECT_EQ(pieces[pieces.size() - 2].second.back(), 0xE0);    // blocks 1000000..1000002

    // A failed write stops the rest and gives its reason.
    EXPECT_FALSE(bitmap.WriteUsedBytes(
        [](uint64_t, uint8_t const*, size_t, std::string* why)
        {
            *why = "disk full";
            return false;
        },
        &error));
    EXPECT_EQ(error, "disk full");
}
