// Buddy allocator and node images.
#include "DatabaseTestSupport.h"

using FreeBlockList = CDesktopDatabase::CFreeBlockList;
using Block = CDesktopDatabase::CBlock;

namespace
{
std::string Serialised(FreeBlockList const& allocator)
{
    std::ostringstream out;
    allocator.Write(out);
    return out.str();
}

std::vector<unsigned int> ListOf(FreeBlockList const& allocator, int exponent)
{
    return std::vector<unsigned int>(allocator.freeLists[exponent].begin(),
                                     allocator.freeLists[exponent].end());
}
} // namespace

TEST(FreeBlockList, TemplateState)
{
    FreeBlockList const allocator;
    EXPECT_EQ(allocator.highWaterMark, 2048u);
    std::string const bytes = Serialised(allocator);
    ASSERT_EQ(bytes.size(), 224u);
    EXPECT_EQ(bytes, FreeListBytes(TemplateLists()));
    EXPECT_EQ(bytes.substr(20, 8), Words({1, 32}));
    EXPECT_EQ(bytes.substr(20 + 6 * 8, 8), Words({0, 1, 4096}).substr(0, 8));
}

TEST(FreeBlockList, AllocatesLowestAndSplitsLargerBlocks)
{
    FreeBlockList allocator;
    EXPECT_EQ(allocator.AllocateBlock(6), 64u);
    allocator.FreeBlock(5, 96);
    EXPECT_EQ(ListOf(allocator, 5), (std::vector<unsigned int>{32, 96}));

    FreeBlockList fresh;
    EXPECT_EQ(fresh.AllocateBlock(11), 4096u);
    EXPECT_EQ(ListOf(fresh, 11), (std::vector<unsigned int>{6144}));
    EXPECT_TRUE(ListOf(fresh, 12).empty());
    EXPECT_EQ(fresh.AllocateBlock(11), 6144u);
    EXPECT_EQ(fresh.highWaterMark, 6144u);

    // Halves are never merged back.
    FreeBlockList split;
    unsigned int const first = split.AllocateBlock(4);
    unsigned int const second = split.AllocateBlock(4);
    EXPECT_EQ(first, 32u);
    EXPECT_EQ(second, 48u);
    split.FreeBlock(4, second);
    split.FreeBlock(4, first);
    EXPECT_EQ(ListOf(split, 4), (std::vector<unsigned int>{32, 48}));
    EXPECT_EQ(ListOf(split, 5), (std::vector<unsigned int>{}));
}

TEST(FreeBlockList, EndBlockLiesBeyondEverythingTaken)
{
    FreeBlockList fresh;
    EXPECT_EQ(fresh.AllocateEndBlock(11), 4096u);

    FreeBlockList used;
    EXPECT_EQ(used.AllocateBlock(13), 8192u);
    EXPECT_EQ(used.AllocateEndBlock(5), 8192u + 8192u);
    // Everything passed over on the way is free again, from the lowest position on.
    EXPECT_EQ(ListOf(used, 5).front(), 32u);
    EXPECT_EQ(used.highWaterMark, 16384u);
}

TEST(FreeBlockList, RefusesExponentsAbove30)
{
    FreeBlockList allocator;
    EXPECT_EQ(ThrownText([&] { allocator.AllocateBlock(31); }), "Invalid block allocation.");
    EXPECT_EQ(ThrownText([&] { allocator.FreeBlock(31, 0); }), "Invalid block free.");
    // Exhausting every list up to 30 ends in the same refusal.
    EXPECT_EQ(allocator.AllocateBlock(30), 1u << 30);
    EXPECT_EQ(ThrownText([&] { allocator.AllocateBlock(30); }), "Invalid block allocation.");
}

TEST(FreeBlockList, BlockSizes)
{
    EXPECT_EQ(FreeBlockList::GetBlockSize(0), 5);
    EXPECT_EQ(FreeBlockList::GetBlockSize(32), 5);
    EXPECT_EQ(FreeBlockList::GetBlockSize(33), 6);
    EXPECT_EQ(FreeBlockList::GetBlockSize(4096), 12);
}

TEST(Block, LeafImagesAndTheirBlocks)
{
    FreeBlockList allocator;
    Block empty(true);
    EXPECT_TRUE(empty.IsEmpty());
    EXPECT_EQ(empty.GetByteLength(), 12u);
    empty.AllocateOnDisk(allocator);
    EXPECT_EQ(empty.blockAddress, 0x25u);
    std::ostringstream out;
    empty.Write(out);
    EXPECT_EQ(out.str(), Words({0, 0, 0}));

    Block fits(true);
    fits.Add(std::string(20, 'x'));
    fits.AllocateOnDisk(allocator);
    EXPECT_EQ(fits.blockAddress & 15, 5u);
    Block over(true);
    over.Add(std::string(21, 'x'));
    over.AllocateOnDisk(allocator);
    EXPECT_EQ(over.blockAddress & 15, 6u);
}

TEST(Block, InternalNodeNamesTheLeavesAroundEachSeparator)
{
    Block internal(false);
    for (char letter : std::string("abc"))
        internal.Add(std::string(13, letter));
    EXPECT_EQ(internal.byteLength, 51u);
    EXPECT_EQ(internal.GetByteLength(), 63u);
    FreeBlockList allocator;
    internal.AllocateOnDisk(allocator);
    EXPECT_EQ(internal.blockAddress, 0x46u);
    std::ostringstream out;
    internal.Write(out);
    // Leaves are blocks 2, 4, 5, 6: the rightmost is 6, and each separator follows leaf 2, 4, 5.
    EXPECT_EQ(out.str(), Words({0, 6, 3, 2}) + std::string(13, 'a') + Words({4}) + std::string(13, 'b') +
                             Words({5}) + std::string(13, 'c'));
}
