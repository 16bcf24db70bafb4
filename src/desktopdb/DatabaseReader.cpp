// Reads a database file by walking its B-tree from the root that the "DSDB" entry of the table of
// contents names, so that files laid out by the Finder (nodes anywhere, of any size, in any
// order, free entries in the block table) read as well as our own.
//
// The allocator's address space starts at file byte 4, so the 2^e bytes of a block at offset A
// lie at file bytes A + 4 onwards. The reader reads from file byte A and skips the first word:
// the zero word our writer puts there, or the last word of whatever precedes the block in the
// Finder's files. A file may therefore end 4 bytes after its last block.
#include "desktopdb/DesktopDatabase.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <vector>

namespace
{
unsigned int const kLeafType = 0;
// Node blocks in a file of ours are only ever this large; the address encoding allows 2^15.
unsigned int const kExponentMask = 15;
// The block table takes whole multiples of this many entries; the table of contents follows.
uint64_t const kTableGranule = 256;
// Allocator offsets below this are the file header: no block can start there (a free table
// entry is 0).
unsigned int const kHeaderLength = 32;
char const* const kUnknownBlockType = "Unknown block type.";

// The parts of the file a walk needs: the block table, and the node byte ranges read so far.
class CBlockWalk
{
public:
    CBlockWalk(std::istream& in, uint64_t directory, unsigned int blockCount, std::streamoff fileLength)
        : in(in), directory(directory), blockCount(blockCount), fileLength(fileLength)
    {
    }

    unsigned int GetAddress(unsigned int number)
    {
        if (number >= blockCount)
            throw kUnknownBlockType;
        in.seekg(static_cast<std::streamoff>(directory + 12 + 4 * static_cast<uint64_t>(number)));
        return static_cast<unsigned int>(StreamReadInt(in));
    }

    // The bytes of a node block: its skipped first word, then its 2^e bytes, or as many of them
    // as the file holds. Refuses blocks that can't be nodes and nodes that overlap one already
    // read, so that no byte of the file is read as records twice.
    std::string ReadNode(unsigned int number, unsigned int infoNumber)
    {
        if (number == infoNumber)
            throw kUnknownBlockType;
        unsigned int const address = GetAddress(number);
        uint64_t const position = address & ~kExponentMask;
        uint64_t const length = uint64_t(1) << (address & kExponentMask);
        if (position < kHeaderLength)
            throw kUnknownBlockType;
        uint64_t const start = position + 4;
        uint64_t const end = start + length;
        auto const next = taken.lower_bound(start);
        if ((next != taken.end() && next->first < end) ||
            (next != taken.begin() && std::prev(next)->second > start))
            throw "Error: Invalid File Contents: Overlapping Nodes.";
        taken[start] = end;

        uint64_t const available =
            static_cast<uint64_t>(fileLength) > position ? static_cast<uint64_t>(fileLength) - position : 0;
        std::string block(static_cast<size_t>(std::min(length + 4, available)), '\0');
        in.seekg(static_cast<std::streamoff>(position));
        in.read(&block[0], static_cast<std::streamsize>(block.size()));
        if (static_cast<size_t>(in.gcount()) != block.size())
            throw "Error: Read beyond end of block.";
        return block;
    }

private:
    std::istream& in;
    uint64_t const directory;
    unsigned int const blockCount;
    std::streamoff const fileLength;
    std::map<uint64_t, uint64_t> taken;
};

// The block number that the table of contents gives for "DSDB".
unsigned int FindTreeInfoBlock(std::istream& in, uint64_t directory, unsigned int blockCount)
{
    uint64_t const slots = (blockCount + kTableGranule - 1) / kTableGranule * kTableGranule;
    in.seekg(static_cast<std::streamoff>(directory + 12 + 4 * slots));
    unsigned int const entries = static_cast<unsigned int>(StreamReadInt(in));
    for (unsigned int i = 0; i < entries; ++i)
    {
        unsigned int const length = static_cast<unsigned char>(StreamReadChar(in));
        std::string name;
        for (unsigned int j = 0; j < length; ++j)
            name.push_back(StreamReadChar(in));
        unsigned int const number = static_cast<unsigned int>(StreamReadInt(in));
        if (name == "DSDB")
            return number;
    }
    throw "Error: Invalid File Contents: No DSDB Entry.";
}
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

    in.seekg(0, std::ios::end);
    std::streamoff const fileLength = in.tellg();
    in.seekg(static_cast<std::streamoff>(directory + 4));
    int const count = StreamReadInt(in);
    unsigned int const blockCount = count < 0 ? 0 : static_cast<unsigned int>(count);
    unsigned int const infoNumber = FindTreeInfoBlock(in, directory, blockCount);

    CBlockWalk walk(in, directory, blockCount, fileLength);
    in.seekg(static_cast<std::streamoff>((walk.GetAddress(infoNumber) & ~kExponentMask) + 4));
    std::vector<unsigned int> pending = {static_cast<unsigned int>(StreamReadInt(in))};
    // Depth first, each node once; the records land in the map in key order whatever the order
    // of reading.
    while (!pending.empty())
    {
        unsigned int const number = pending.back();
        pending.pop_back();
        std::istringstream node(walk.ReadNode(number, infoNumber));
        ReadDataBlock(node, static_cast<int>(blockCount), &pending);
    }
}

void CDesktopDatabase::ReadDataBlock(std::istream& in, int blockCount, std::vector<unsigned int>* children)
{
    StreamReadInt(in); // the word before the node
    // 0 marks a leaf; an internal node's word names its rightmost child, any block but 0.
    unsigned int const type = static_cast<unsigned int>(StreamReadInt(in));
    bool const leaf = type == kLeafType;
    if (!leaf && static_cast<int64_t>(type) >= blockCount)
        throw kUnknownBlockType;
    if (!leaf && children != nullptr)
        children->push_back(type);
    int const count = StreamReadInt(in);
    for (int i = 0; i < count; ++i)
    {
        if (!leaf)
        {
            unsigned int const child = static_cast<unsigned int>(StreamReadInt(in));
            if (children != nullptr)
                children->push_back(child);
        }
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
