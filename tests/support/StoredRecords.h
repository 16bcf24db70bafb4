// A desktop database read from its file layout alone, sharing nothing with the program's reader:
// the records' names and codes in the order the file's B-tree stores them.
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// A .DS_Store read from its layout alone: the header names the directory block, whose block table
// and "DSDB" entry lead to the tree's root; nodes are walked in order, each child before the record
// that follows it, so records come in the order the tree stores them.
class CStoreReader
{
public:
    explicit CStoreReader(std::string bytes) : bytes(std::move(bytes)) {}

    std::vector<std::pair<std::u16string, std::string>> ReadRecords() // name, code; blobs kept apart
    {
        if (bytes.size() < 36 || bytes.compare(4, 4, "Bud1") != 0)
            throw std::runtime_error("not a desktop database");
        size_t info = 4 + Word(8);
        uint32_t blockCount = Word(info);
        for (uint32_t i = 0; i < blockCount; ++i)
            addresses.push_back(Word(info + 8 + 4 * i));
        size_t at = info + 8 + 4 * ((blockCount + 255) / 256 * 256);
        uint32_t entries = Word(at);
        at += 4;
        uint32_t databaseBlock = 0;
        for (uint32_t i = 0; i < entries; ++i)
        {
            size_t length = static_cast<unsigned char>(bytes.at(at));
            std::string name = bytes.substr(at + 1, length);
            uint32_t block = Word(at + 1 + length);
            if (name == "DSDB")
                databaseBlock = block;
            at += 1 + length + 4;
        }
        WalkNode(Word(BlockOffset(databaseBlock)));
        return records;
    }

    std::map<std::u16string, std::string> iconPositions; // name -> the 16 bytes of "Iloc"

private:
    uint32_t Word(size_t at) const
    {
        return (uint32_t(uint8_t(bytes.at(at))) << 24) | (uint32_t(uint8_t(bytes.at(at + 1))) << 16) |
               (uint32_t(uint8_t(bytes.at(at + 2))) << 8) | uint32_t(uint8_t(bytes.at(at + 3)));
    }

    size_t BlockOffset(uint32_t block) const { return 4 + (addresses.at(block) & ~0x1Fu); }

    void WalkNode(uint32_t block)
    {
        size_t at = BlockOffset(block);
        uint32_t lastChild = Word(at);
        uint32_t count = Word(at + 4);
        at += 8;
        for (uint32_t i = 0; i < count; ++i)
        {
            if (lastChild != 0)
            {
                WalkNode(Word(at));
                at += 4;
            }
            at = ReadRecord(at);
        }
        if (lastChild != 0)
            WalkNode(lastChild);
    }

    size_t ReadRecord(size_t at)
    {
        uint32_t units = Word(at);
        std::u16string name;
        for (uint32_t i = 0; i < units; ++i)
            name.push_back(
                char16_t((uint8_t(bytes.at(at + 4 + 2 * i)) << 8) | uint8_t(bytes.at(at + 5 + 2 * i))));
        at += 4 + 2 * units;
        std::string code = bytes.substr(at, 4), type = bytes.substr(at + 4, 4);
        at += 8;
        records.emplace_back(name, code);
        if (type == "bool")
            return at + 1;
        if (type == "shor" || type == "long" || type == "type")
            return at + 4;
        if (type == "comp" || type == "dutc")
            return at + 8;
        if (type == "ustr")
            return at + 4 + 2 * size_t(Word(at));
        if (type != "blob")
            throw std::runtime_error("unknown value type " + type);
        size_t length = Word(at);
        if (code == "Iloc")
            iconPositions[name] = bytes.substr(at + 4, length);
        return at + 4 + length;
    }

    std::string bytes;
    std::vector<uint32_t> addresses;
    std::vector<std::pair<std::u16string, std::string>> records;
};
