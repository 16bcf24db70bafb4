// Reads every node listed in a database file's block address table and stores its records.
#include "desktopdb/DesktopDatabase.h"

#include <cstdint>
#include <fstream>
#include <sstream>

namespace
{
unsigned int const kLeafType = 0;
unsigned int const kFirstNodeNumber = 2;
// Node blocks in a file of ours are only ever this large; the address encoding allows 2^15.
unsigned int const kExponentMask = 15;
} // namespace

void CDesktopDatabase::ReadFromDisk(char const* path)
{
    std::fstream in(path, std::ios::in | std::ios::binary);
    ReadFromStream(in);
}

void CDesktopDatabase::ReadFromStream(std::istream& in)
{
    unsigned int const version = static_cast<unsigned int>(StreamReadInt(in));
    unsigned int const signature = static_cast<unsigned int>(StreamReadInt(in));
    uint64_t const directory = static_cast<unsigned int>(StreamReadInt(in));
    StreamReadInt(in); // directory block length, not needed
    if (signature != MakeFourCharCode("Bud1"))
        throw "Unknown file signature.";
    if (version != 1)
        throw "Unknown file version.";

    in.seekg(static_cast<std::streamoff>(directory + 4));
    int const blockCount = StreamReadInt(in);
    for (int number = 2; number < blockCount; ++number)
    {
        in.seekg(static_cast<std::streamoff>(directory + 12 + 4 * static_cast<uint64_t>(number)));
        unsigned int const address = static_cast<unsigned int>(StreamReadInt(in));
        size_t const length = size_t(1) << (address & kExponentMask);

        // The block plus four zero bytes; whatever lies past the end of the file reads as zeros,
        // and the stream's failed state then stops the next table read.
        std::string block(length + 4, '\0');
        in.seekg(static_cast<std::streamoff>(address & ~kExponentMask));
        in.read(&block[0], static_cast<std::streamsize>(length));
        std::istringstream node(block);
        ReadDataBlock(node, blockCount);
    }
}

void CDesktopDatabase::ReadDataBlock(std::istream& in, int blockCount)
{
    StreamReadInt(in); // always 0
    // 0 marks a leaf; an internal node's word names its rightmost child, one of the node blocks
    // 2 to N - 1 (blocks 0 and 1 are the directory and info blocks).
    unsigned int const type = static_cast<unsigned int>(StreamReadInt(in));
    bool const leaf = type == kLeafType;
    if (!leaf && (type < kFirstNodeNumber || static_cast<int64_t>(type) >= blockCount))
        throw "Unknown block type.";
    int const count = StreamReadInt(in);
    for (int i = 0; i < count; ++i)
    {
        if (!leaf)
            StreamReadInt(in); // child block number, not needed to collect records
        ReadDataItem(in);
    }
}

void CDesktopDatabase::ReadDataItem(std::istream& in)
{
    CDatabaseKey key;
    CDatabaseValue value;
    key.Read(in);
    value.Read(in);
    records[key] = value;
}
