// Buddy allocator over a database file: free blocks of 2^e bytes kept per exponent, lowest first.
#include "desktopdb/DesktopDatabase.h"

#include <ostream>

namespace
{
unsigned char const kTemplateExponent = 11;
unsigned int const kTemplatePosition = 2048;
} // namespace

CDesktopDatabase::CFreeBlockList::CFreeBlockList() : highWaterMark(0)
{
    // Everything from 32 up to 2^31 is free; the first 32 bytes are the file header.
    for (int exponent = 5; exponent < kListCount; ++exponent)
        freeLists[exponent].push_back(1u << exponent);
    if (AllocateBlock(kTemplateExponent) != kTemplatePosition)
        throw "Wrong block was allocated for template free list.";
}

CDesktopDatabase::CFreeBlockList::~CFreeBlockList() = default;

unsigned int CDesktopDatabase::CFreeBlockList::AllocateBlock(unsigned char exponent)
{
    if (exponent >= kListCount)
        throw "Invalid block allocation.";
    unsigned int position;
    std::list<unsigned int>& list = freeLists[exponent];
    if (list.empty())
    {
        // Split a larger block, keeping its lower half and freeing the upper one.
        position = AllocateBlock(static_cast<unsigned char>(exponent + 1));
        FreeBlock(exponent, position + (1u << exponent));
    }
    else
    {
        position = list.front();
        list.pop_front();
    }
    if (position > highWaterMark)
        highWaterMark = position;
    return position;
}

unsigned int CDesktopDatabase::CFreeBlockList::AllocateEndBlock(unsigned char exponent)
{
    unsigned int const mark = highWaterMark;
    std::list<unsigned int> setAside;
    unsigned int position = AllocateBlock(exponent);
    while (mark > position)
    {
        setAside.push_back(position);
        position = AllocateBlock(exponent);
    }
    for (unsigned int earlier : setAside)
        FreeBlock(exponent, earlier);
    return position;
}

void CDesktopDatabase::CFreeBlockList::FreeBlock(unsigned char exponent, unsigned int position)
{
    if (exponent >= kListCount)
        throw "Invalid block free.";
    std::list<unsigned int>& list = freeLists[exponent];
    list.push_front(position);
    list.sort();
}

unsigned char CDesktopDatabase::CFreeBlockList::GetBlockSize(unsigned int length)
{
    unsigned char exponent = 5;
    // Stops at 31 at the latest: 2^31 is the largest power of two an unsigned word holds.
    while (exponent < 31 && (1u << exponent) < length)
        ++exponent;
    return exponent;
}

// Free lists as stored in the file, big-endian words: for each exponent 0 to kListCount - 1 in
// turn, the number of free blocks of that size, then their positions in ascending order.
void CDesktopDatabase::CFreeBlockList::Write(std::ostream& out) const
{
    for (auto const& list : freeLists)
    {
        StreamWriteInt(out, static_cast<int>(list.size()));
        for (unsigned int position : list)
            StreamWriteInt(out, static_cast<int>(position));
    }
}
