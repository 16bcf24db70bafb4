// One B-tree node of a file being written: its encoded records, block and node image.
#include "desktopdb/DesktopDatabase.h"

#include <ostream>

namespace
{
unsigned int const kNodeHeaderLength = 12;
unsigned int const kChildNumberLength = 4;
// Block numbers of the leaves: the first leaf is block 2, the later ones 4, 5, 6, ...
// (block 3 is the internal node).
int const kFirstLeafNumber = 2;
int const kSecondLeafNumber = 4;
} // namespace

CDesktopDatabase::CBlock::CBlock(bool leaf) : leaf(leaf), byteLength(0), blockAddress(0) {}

void CDesktopDatabase::CBlock::Add(std::string record)
{
    byteLength += static_cast<unsigned int>(record.size());
    if (!leaf)
        byteLength += kChildNumberLength;
    records.push_back(std::move(record));
}

unsigned int CDesktopDatabase::CBlock::GetByteLength() const
{
    return byteLength + kNodeHeaderLength;
}

bool CDesktopDatabase::CBlock::IsEmpty() const
{
    return records.empty();
}

void CDesktopDatabase::CBlock::AllocateOnDisk(CFreeBlockList& allocator)
{
    unsigned char const exponent = CFreeBlockList::GetBlockSize(GetByteLength());
    unsigned int const position = allocator.AllocateBlock(exponent);
    blockAddress = (position & ~15u) | (exponent & 15u);
}

// Node image, big-endian words:
//   offset size meaning
//        0    4 0
//        4    4 leaf: 0; internal node: block number of the rightmost child leaf
//        8    4 number of records (separators in an internal node)
//       12      leaf: the records, key then value; internal: per record the block number of
//               the child leaf holding the smaller keys, then the record
void CDesktopDatabase::CBlock::Write(std::ostream& out) const
{
    // An internal node with k separators sits above the k + 1 leaves: its header word names the
    // rightmost leaf, and the number before each separator the leaf holding the smaller keys.
    int const count = static_cast<int>(records.size());
    StreamWriteInt(out, 0);
    StreamWriteInt(out, leaf ? 0 : kSecondLeafNumber + count - 1);
    StreamWriteInt(out, count);
    for (int i = 0; i < count; ++i)
    {
        if (!leaf)
            StreamWriteInt(out, i == 0 ? kFirstLeafNumber : kSecondLeafNumber + i - 1);
        out.write(records[i].data(), static_cast<std::streamsize>(records[i].size()));
    }
}
