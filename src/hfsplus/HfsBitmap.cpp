// Writing the allocation file in bounded pieces and counting its free blocks.
#include "hfsplus/HfsBitmap.h"

#include <algorithm>
#include <cstring>

namespace
{

constexpr size_t kPieceBytes = 64 * 1024;

bool IsBitSet(uint8_t const* bytes, uint32_t bit)
{
    return (bytes[bit / 8] & (0x80 >> (bit % 8))) != 0;
}

// Sets the bits of blocks [first, end) in `piece`, which holds the bitmap from block `pieceFirst`
// (a multiple of 8) on.
void SetBits(uint8_t* piece, uint64_t pieceFirst, uint64_t first, uint64_t end)
{
    uint64_t block = first;
    while (block < end && block % 8 != 0)
    {
        piece[(block - pieceFirst) / 8] |= uint8_t(0x80 >> (block % 8));
        ++block;
    }
    uint64_t const wholeEnd = end / 8 * 8;
    if (wholeEnd > block)
    {
        std::memset(piece + (block - pieceFirst) / 8, 0xFF, size_t((wholeEnd - block) / 8));
        block = wholeEnd;
    }
    for (; block < end; ++block)
        piece[(block - pieceFirst) / 8] |= uint8_t(0x80 >> (block % 8));
}

} // namespace

void CHfsBitmap::MarkUsed(uint32_t first, uint32_t count)
{
    uint64_t end = std::min<uint64_t>(uint64_t(first) + count, m_totalBlocks);
    if (first >= end)
        return;
    // Merges with every run it overlaps or touches, keeping the list in order.
    uint64_t start = first;
    auto it = std::lower_bound(m_used.begin(), m_used.end(), start,
                               [](CHfsExtent const& run, uint64_t at)
                               { return uint64_t(run.startBlock) + run.blockCount < at; });
    auto last = it;
    while (last != m_used.end() && last->startBlock <= end)
    {
        start = std::min<uint64_t>(start, last->startBlock);
        end = std::max<uint64_t>(end, uint64_t(last->startBlock) + last->blockCount);
        ++last;
    }
    it = m_used.erase(it, last);
    m_used.insert(it, CHfsExtent{uint32_t(start), uint32_t(end - start)});
}

uint32_t CHfsBitmap::CountFree() const
{
    uint32_t free = m_totalBlocks;
    for (CHfsExtent const& run : m_used)
        free -= run.blockCount;
    return free;
}

bool CHfsBitmap::WriteUsedBytes(CHfsBitmapWriteAt const& write, std::string* error) const
{
    std::vector<uint8_t> piece;
    size_t run = 0;
    while (run < m_used.size())
    {
        // The bytes of this run and of the next ones that share or touch its last byte.
        uint64_t const spanStart = m_used[run].startBlock / 8;
        uint64_t spanEnd = (uint64_t(m_used[run].startBlock) + m_used[run].blockCount + 7) / 8;
        size_t lastRun = run + 1;
        while (lastRun < m_used.size() && m_used[lastRun].startBlock / 8 <= spanEnd)
        {
            spanEnd = (uint64_t(m_used[lastRun].startBlock) + m_used[lastRun].blockCount + 7) / 8;
            ++lastRun;
        }
        for (uint64_t at = spanStart; at < spanEnd; at += kPieceBytes)
        {
            size_t const size = size_t(std::min<uint64_t>(kPieceBytes, spanEnd - at));
            piece.assign(size, 0);
            uint64_t const pieceFirst = at * 8, pieceEnd = (at + size) * 8;
            for (size_t r = run; r < lastRun; ++r)
            {
                uint64_t const first = std::max<uint64_t>(m_used[r].startBlock, pieceFirst);
                uint64_t const end =
                    std::min<uint64_t>(uint64_t(m_used[r].startBlock) + m_used[r].blockCount, pieceEnd);
                if (first < end)
                    SetBits(piece.data(), pieceFirst, first, end);
            }
            if (!write(at, piece.data(), size, error))
                return false;
        }
        run = lastRun;
    }
    return true;
}

bool FindHfsFreeRuns(CHfsBitmapReadAt const& read, uint32_t totalBlocks, std::vector<CHfsExtent>* runs,
                     std::string* error)
{
    runs->clear();
    std::vector<uint8_t> piece;
    uint64_t const totalBytes = (uint64_t(totalBlocks) + 7) / 8;
    bool inFree = false;
    uint32_t freeStart = 0;
    for (uint64_t at = 0; at < totalBytes; at += kPieceBytes)
    {
        size_t const size = size_t(std::min<uint64_t>(kPieceBytes, totalBytes - at));
        piece.resize(size);
        if (!read(at, piece.data(), size, error))
            return false;
        uint32_t const pieceFirst = uint32_t(at * 8);
        uint32_t const bits = uint32_t(std::min<uint64_t>(uint64_t(size) * 8, totalBlocks - uint64_t(pieceFirst)));
        uint32_t bit = 0;
        while (bit < bits)
        {
            // Whole bytes at once: a volume is mostly long runs of one kind.
            uint8_t const whole = inFree ? 0x00 : 0xFF;
            if (bit % 8 == 0 && bit + 8 <= bits && piece[bit / 8] == whole)
            {
                bit += 8;
                continue;
            }
            bool const used = IsBitSet(piece.data(), bit);
            if (inFree && used)
                runs->push_back({freeStart, pieceFirst + bit - freeStart});
            else if (!inFree && !used)
                freeStart = pieceFirst + bit;
            inFree = !used;
            ++bit;
        }
    }
    if (inFree)
        runs->push_back({freeStart, totalBlocks - freeStart});
    return true;
}
