// Lays out database files the way the Finder does, which our writer never does: allocator offsets
// counted from file byte 4 (a block at offset A holds its bytes from file byte A + 4), blocks in
// any order with gaps between them, node sizes chosen per node, block numbers in any order with
// free (zero) entries in the block table, the "DSDB" info block anywhere, and the file ending 4
// bytes after its last block. Every byte no block claims is 0xEE, so a reader that relies on
// zeros outside the blocks is caught.
//
// Header only and free of the test framework, so that the fuzz target can make seeds with it.
#pragma once

#include "desktopdb/DesktopDatabase.h"

#include <algorithm>
#include <initializer_list>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

// One record as the file stores it: the key's bytes, then the value's.
inline std::string EncodeRecord(CDesktopDatabase::CDatabaseKey const& key,
                                CDesktopDatabase::CDatabaseValue const& value)
{
    std::ostringstream out;
    key.Write(out);
    value.Write(out);
    return out.str();
}

// Big-endian 32-bit words, the way every number of a desktop database file is stored.
inline std::string Words(std::initializer_list<unsigned int> values)
{
    std::string bytes;
    for (unsigned int value : values)
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes.push_back(static_cast<char>(value >> shift));
    return bytes;
}

class CFinderFileBuilder
{
public:
    // A node's children are block numbers: one before each record and the rightmost one (0 for a
    // leaf). records are encoded records, key then value.
    struct CNode
    {
        unsigned int exponent = 0; // 0: the smallest size from minExponent up that holds the node
        unsigned int rightmost = 0;
        std::vector<unsigned int> children;
        std::vector<std::string> records;
    };

    // Numbers 0 and 1 are the directory and the info block unless changed before any node is
    // added. Nodes get numbers drawn at random from 1 to blockCount - 1 (never 0: as a node's
    // rightmost child, 0 marks a leaf), skipping those two, so some table entries stay free.
    explicit CFinderFileBuilder(unsigned int seed, unsigned int blockCount = 64)
        : random(seed), blockCount(blockCount)
    {
    }

    // The records of a database in key order.
    static std::vector<std::string> EncodeRecords(CDesktopDatabase const& database)
    {
        std::vector<std::string> encoded;
        for (auto const& record : database.records)
            encoded.push_back(EncodeRecord(record.first, record.second));
        return encoded;
    }

    // The number of records a full tree of this shape holds.
    static size_t CountTreeRecords(int depth, int fanout, int leafRecords)
    {
        size_t count = static_cast<size_t>(leafRecords);
        for (int level = 1; level < depth; ++level)
            count = count * static_cast<size_t>(fanout) + static_cast<size_t>(fanout - 1);
        return count;
    }

    unsigned int TakeNumber()
    {
        if (!numbered)
        {
            numbered = true;
            for (unsigned int number = 1; number < blockCount; ++number)
                if (number != directoryNumber && number != infoNumber && nodes.count(number) == 0)
                    free.push_back(number);
            std::shuffle(free.begin(), free.end(), random);
        }
        if (free.empty())
            throw "test file has no block numbers left";
        unsigned int const number = free.back();
        free.pop_back();
        return number;
    }

    void SetNode(unsigned int number, CNode node) { nodes[number] = std::move(node); }

    // A full B-tree of `depth` levels over exactly CountTreeRecords(depth, fanout, leafRecords)
    // records in key order; returns the root's block number.
    unsigned int AddTree(std::vector<std::string> const& records, int depth, int fanout, int leafRecords)
    {
        if (records.size() != CountTreeRecords(depth, fanout, leafRecords))
            throw "test tree shape and record count disagree";
        levels = static_cast<unsigned int>(depth - 1);
        recordCount = static_cast<unsigned int>(records.size());
        size_t next = 0;
        return AddSubtree(records, next, depth, fanout, leafRecords);
    }

    std::string Build(unsigned int root)
    {
        // Directory block contents: the table, padded to whole 256-entry groups, the table of
        // contents and 32 empty free lists.
        size_t const slots = (blockCount + 255) / 256 * 256;
        size_t const directoryLength = 8 + 4 * slots + 4 + 9 + 32 * 4;
        unsigned int directoryExponent = 11;
        while ((size_t(1) << directoryExponent) < directoryLength)
            ++directoryExponent;

        // Place every block: in random order, each aligned to its size, sometimes with a free
        // slot before it.
        std::vector<unsigned int> order = {directoryNumber, infoNumber};
        for (auto const& node : nodes)
            order.push_back(node.first);
        std::shuffle(order.begin(), order.end(), random);
        auto const last = std::find(order.begin(), order.end(), placeLast);
        if (last != order.end())
            std::rotate(last, last + 1, order.end());
        std::map<unsigned int, unsigned int> exponents = {{directoryNumber, directoryExponent},
                                                          {infoNumber, 5}};
        std::map<unsigned int, std::string> images;
        for (auto const& node : nodes)
        {
            images[node.first] = NodeImage(node.second);
            unsigned int exponent = node.second.exponent;
            if (exponent == 0)
            {
                exponent = minExponent;
                while ((size_t(1) << exponent) < images[node.first].size())
                    ++exponent;
            }
            if ((size_t(1) << exponent) < images[node.first].size())
                throw "test node does not fit its size";
            exponents[node.first] = exponent;
        }
        std::map<unsigned int, unsigned int> offsets;
        uint64_t cursor = 32;
        for (unsigned int number : order)
        {
            uint64_t const size = uint64_t(1) << exponents[number];
            cursor = (cursor + size - 1) / size * size;
            if (random() % 3 == 0)
                cursor += size;
            offsets[number] = static_cast<unsigned int>(cursor);
            cursor += size;
        }

        std::string file(static_cast<size_t>(4 + cursor), '\xEE');
        Put(file, 0, Words({1}));
        unsigned int const directory = offsets[directoryNumber];
        Put(file, 4, "Bud1" + Words({directory, 1u << directoryExponent, directory}) + std::string(16, '\0'));

        std::vector<unsigned int> table(slots, 0);
        for (auto const& placed : offsets)
            table.at(placed.first) = placed.second | exponents[placed.first];
        std::string contents = Words({blockCount, 0});
        for (unsigned int address : table)
            contents += Words({address});
        contents += Words({1}) + "\4DSDB" + Words({infoNumber}) + std::string(32 * 4, '\0');
        Put(file, 4 + directory, contents);

        Put(file, 4 + offsets[infoNumber],
            Words({root, levels, recordCount, static_cast<unsigned int>(nodes.size()), 4096}) +
                std::string(12, '\0'));
        for (auto const& image : images)
            Put(file, 4 + offsets[image.first], image.second);
        return file;
    }

    std::mt19937 random;
    unsigned int blockCount;
    unsigned int directoryNumber = 0;
    unsigned int infoNumber = 1;
    unsigned int minExponent = 7;
    // A block number to place after all others, so that the file ends 4 bytes after it.
    unsigned int placeLast = ~0u;
    unsigned int levels = 0;
    unsigned int recordCount = 0;
    std::map<unsigned int, CNode> nodes;

private:
    static void Put(std::string& file, size_t position, std::string const& bytes)
    {
        file.replace(position, bytes.size(), bytes);
    }

    static std::string NodeImage(CNode const& node)
    {
        std::string image = Words({node.rightmost, static_cast<unsigned int>(node.records.size())});
        for (size_t i = 0; i < node.records.size(); ++i)
        {
            if (node.rightmost != 0)
                image += Words({node.children.at(i)});
            image += node.records[i];
        }
        return image;
    }

    unsigned int AddSubtree(std::vector<std::string> const& records, size_t& next, int depth, int fanout,
                            int leafRecords)
    {
        unsigned int const number = TakeNumber();
        CNode node;
        if (depth == 1)
        {
            for (int i = 0; i < leafRecords; ++i)
                node.records.push_back(records[next++]);
        }
        else
        {
            for (int i = 0; i < fanout - 1; ++i)
            {
                node.children.push_back(AddSubtree(records, next, depth - 1, fanout, leafRecords));
                node.records.push_back(records[next++]);
            }
            node.rightmost = AddSubtree(records, next, depth - 1, fanout, leafRecords);
        }
        nodes[number] = std::move(node);
        return number;
    }

    std::vector<unsigned int> free;
    bool numbered = false;
};
