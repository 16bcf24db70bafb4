// Lays out a database file: header, info block, template copy, B-tree nodes and the directory
// block, assembled in memory and stored in one piece.
#include "desktopdb/DesktopDatabase.h"

#include "io/ByteOrder.h"
#include "io/TempOutputFile.h"

#include <sstream>

namespace
{
unsigned int const kInfoPosition = 64;
unsigned int const kInfoAddress = 0x45;
unsigned int const kTemplatePosition = 2048;
unsigned int const kDirectoryLength = 2048;
unsigned char const kDirectoryExponent = 11;
unsigned int const kLargestNode = 4096;
// A leaf's records may total this much: with the 12-byte header the image stays below 4096.
unsigned int const kLeafBudget = 4083;

void PutWord(std::string& image, unsigned int position, unsigned int word)
{
    PutBe32(reinterpret_cast<uint8_t*>(&image[position]), word);
}

void PutBytes(std::string& image, unsigned int position, std::string const& bytes)
{
    image.replace(position, bytes.size(), bytes);
}
} // namespace

// The file ("Bud1" buddy-block file, as the Finder writes it and the public write-ups of the
// .DS_Store format describe it). Every number is a big-endian 32-bit word; positions are bytes from
// the start of the file; a block address is a block's position with its size exponent in the low
// four bits; every block begins with a zero word.
//
// Header (0..35) and info block (the 32 bytes at 64, block address 0x45, block number 1):
//   offset size meaning
//        0    4 1, the version
//        4    4 "Bud1"
//        8    4 position of the directory block D
//       12    4 2048, the directory block's length
//       16    4 D again
//       20    4 block address of the last leaf
//       24    4 block address of the internal node (0: none)
//       28    4 block address of the first leaf when there is an internal node, else 0
//       32    4 block address of the second leaf when there are three or more leaves, else 0
//    44,48    4 2048 each (inside the free 32-byte block at 32 unless a node lands there)
//       68    4 block number of the root: 3 with an internal node, else 2 (the only leaf)
//       72    4 internal levels: 1 or 0
//       76    4 number of records
//       80    4 number of nodes
//       84    4 4096, the largest node size
//
// Template copy (the free 2048-byte block at 2048):
//     2052    4 1, its block count
//     2060    4 0x80B, the block's own address
//     3072  224 the template allocator's free lists (CFreeBlockList::Write)
//
// Nodes (CBlock::Write) at their block positions. Block numbers: 2 the first leaf, 3 the internal
// node, 4, 5, ... the later leaves.
//
// Directory block (2048 bytes at D, block address D | 11, block number 0, the file's last block):
//        D    4 0
//      D+4    4 N, the number of blocks
//   D+12 4*N    block address of block number k at D + 12 + 4k
//   D+1036    4 1, the number of table-of-contents entries
//   D+1040    1 4, the length of the name
//   D+1041    4 "DSDB"
//   D+1045    4 1, the block number "DSDB" stands for (the info block)
//   D+1049      free lists of the working allocator (CFreeBlockList::Write), unaligned
std::string CDesktopDatabase::BuildFileImage() const
{
    CFreeBlockList templateAllocator;
    CFreeBlockList allocator;
    if (allocator.AllocateBlock(6) != kInfoPosition)
        throw "Info block not allocated in correct location.";
    allocator.FreeBlock(5, kInfoPosition + 32);

    // Encode every record once, in key order.
    std::vector<std::string> encoded;
    encoded.reserve(records.size());
    std::ostringstream out;
    unsigned int total = 0;
    for (auto const& record : records)
    {
        out.str(std::string());
        record.first.Write(out);
        record.second.Write(out);
        encoded.push_back(out.str());
        total += static_cast<unsigned int>(encoded.back().size());
    }

    // Deal the records out to leaves of about equal size; the record that overflows a leaf's
    // share becomes a separator in the internal node.
    unsigned int const plannedLeaves = (total + kLeafBudget) / kLeafBudget;
    unsigned int const target = (total + plannedLeaves - 1) / plannedLeaves;
    CBlock internal(false);
    std::vector<CBlock> leaves;
    leaves.reserve(plannedLeaves); // never more leaves than planned: no copies while dealing
    leaves.emplace_back(true);
    unsigned int sum = 0;
    for (std::string& record : encoded)
    {
        sum += static_cast<unsigned int>(record.size());
        if (sum > static_cast<unsigned int>(leaves.size()) * target)
        {
            internal.Add(std::move(record));
            leaves.emplace_back(true);
        }
        else
            leaves.back().Add(std::move(record));
    }
    if (internal.GetByteLength() > kLargestNode)
        throw "Desktop Database too large. Unsupported.";

    for (CBlock& leaf : leaves)
        leaf.AllocateOnDisk(allocator);
    bool const hasInternal = !internal.IsEmpty();
    if (hasInternal)
        internal.AllocateOnDisk(allocator);
    unsigned int const directory = allocator.AllocateEndBlock(kDirectoryExponent);
    allocator.FreeBlock(kDirectoryExponent, kTemplatePosition);

    std::string image(static_cast<size_t>(directory) + kDirectoryLength, '\0');

    // File header and info block.
    PutWord(image, 0, 1);
    PutWord(image, 4, MakeFourCharCode("Bud1"));
    PutWord(image, 8, directory);
    PutWord(image, 12, kDirectoryLength);
    PutWord(image, 16, directory);
    PutWord(image, 20, leaves.back().blockAddress);
    if (hasInternal)
    {
        PutWord(image, 24, internal.blockAddress);
        PutWord(image, 28, leaves.front().blockAddress);
        if (leaves.size() > 2)
            PutWord(image, 32, leaves[1].blockAddress);
    }
    PutWord(image, 68, hasInternal ? 3 : 2);
    if (hasInternal)
        PutWord(image, 72, 1);
    PutWord(image, 44, kDirectoryLength);
    PutWord(image, 48, kDirectoryLength);
    // Other readers check the record count against the tree.
    PutWord(image, 76, static_cast<unsigned int>(records.size()));
    PutWord(image, 80, static_cast<unsigned int>(leaves.size() + (hasInternal ? 1 : 0)));
    PutWord(image, 84, kLargestNode);

    // The free 2048-byte block at 2048 keeps a copy of the allocator's starting state.
    PutWord(image, kTemplatePosition + 4, 1);
    PutWord(image, kTemplatePosition + 12, kTemplatePosition | kDirectoryExponent);
    out.str(std::string());
    templateAllocator.Write(out);
    PutBytes(image, kTemplatePosition + 1024, out.str());

    // Node images.
    std::vector<unsigned int> addresses = {directory | kDirectoryExponent, kInfoAddress,
                                           leaves.front().blockAddress};
    if (hasInternal)
        addresses.push_back(internal.blockAddress);
    for (size_t i = 1; i < leaves.size(); ++i)
        addresses.push_back(leaves[i].blockAddress);
    for (CBlock const& leaf : leaves)
    {
        out.str(std::string());
        leaf.Write(out);
        PutBytes(image, leaf.blockAddress & ~15u, out.str());
    }
    if (hasInternal)
    {
        out.str(std::string());
        internal.Write(out);
        PutBytes(image, internal.blockAddress & ~15u, out.str());
    }

    // Directory block: block address table, the one table-of-contents entry, the free lists.
    PutWord(image, directory + 4, static_cast<unsigned int>(addresses.size()));
    for (size_t k = 0; k < addresses.size(); ++k)
        PutWord(image, directory + 12 + 4 * static_cast<unsigned int>(k), addresses[k]);
    out.str(std::string());
    out.write(std::string(12, '\0').data(), 12);
    StreamWriteInt(out, 1); // one table-of-contents entry:
    out.put(4);             // the name "DSDB" stands for block 1, the info block
    out.write("DSDB", 4);
    StreamWriteInt(out, 1);
    allocator.Write(out);
    PutBytes(image, directory + 1024, out.str());
    return image;
}

void CDesktopDatabase::WriteToDisk(char const* path) const
{
    std::string const image = BuildFileImage();

    // Written beside the target and renamed over it, so a failed write leaves any earlier file whole;
    // the temporary file goes with `out` when an error is thrown.
    CTempOutputFile out;
    std::string reason;
    if (!out.Open(path, &reason))
        throw "Unable to create desktop database file.";
    if (!out.Write(image.data(), image.size(), &reason) || !out.Commit(&reason))
        throw "Unable to write desktop database file.";
}
