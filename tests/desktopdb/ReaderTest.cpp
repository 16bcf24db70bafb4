// Reading files back: header checks, the block walk, and files that are damaged or hostile.
#include "DatabaseTestSupport.h"
#include "support/TempFolder.h"

#include <fstream>
#include <unistd.h>

namespace
{
// A 3-block file image whose only node is `node`, in the 1024-byte block at 2560 (zeros
// around it, inside the free template block).
std::string ImageWithNode(std::string const& node)
{
    std::string image = CDesktopDatabase().BuildFileImage();
    image.replace(2560, node.size(), node);
    SetWordAt(image, 4096 + 20, 2560 | 10);
    return image;
}

std::string ItemBytes(char const* name, unsigned int code, long number)
{
    CDesktopDatabase::CDatabaseValue value;
    value.SetLongValue(number);
    return EncodeRecord(CDesktopDatabase::CDatabaseKey(name, code), value);
}
} // namespace

TEST(Reader, ReadsWhatTheWriterWrote)
{
    CDesktopDatabase empty;
    CDesktopDatabase fromEmpty;
    EXPECT_EQ(ReadError(empty.BuildFileImage(), fromEmpty), "");
    EXPECT_TRUE(fromEmpty.IsEmpty());

    CDesktopDatabase source;
    for (int i = 0; i < 20; ++i)
        AddRecordOfLength(source, "r" + std::to_string(10 + i), 300);
    CDesktopDatabase copy;
    EXPECT_EQ(ReadError(source.BuildFileImage(), copy), "");
    EXPECT_EQ(copy.records.size(), 20u);
    EXPECT_TRUE(SameBytes(copy.BuildFileImage(), source.BuildFileImage()));
}

TEST(Reader, ReadsFromDiskAndReportsMissingFiles)
{
    CTempFolder folder;
    std::string const path = folder.Join(".DS_Store");
    CDesktopDatabase source;
    source.SetShort("x", MakeFourCharCode("fwsw"), 200);
    source.WriteToDisk(path.c_str());
    CDesktopDatabase copy;
    copy.ReadFromDisk(path.c_str());
    ASSERT_EQ(copy.records.size(), 1u);
    EXPECT_EQ(copy.records.begin()->second.value, 200);
    unlink(path.c_str());
    EXPECT_EQ(ThrownText([&] { copy.ReadFromDisk(path.c_str()); }), "Error: Read beyond end of block.");
}

TEST(Reader, HeaderChecks)
{
    EXPECT_EQ(ReadError(Words({2, MakeFourCharCode("Bud1"), 0, 0})), "Unknown file version.");
    EXPECT_EQ(ReadError(Words({1, MakeFourCharCode("Bud2"), 0, 0})), "Unknown file signature.");
    EXPECT_EQ(ReadError(Words({2, MakeFourCharCode("bud1"), 0, 0})), "Unknown file signature.");
    EXPECT_EQ(ReadError(Words({1, MakeFourCharCode("Bud1"), 0})), "Error: Read beyond end of block.");
    EXPECT_EQ(ReadError(Words({1, MakeFourCharCode("Bud1"), 100, 0})), "Error: Read beyond end of block.");
    EXPECT_EQ(ReadError(Words({1, MakeFourCharCode("Bud1"), 0xFFFFFFFF, 0})),
              "Error: Read beyond end of block.");
    // The table of contents lies past the end of the file.
    EXPECT_EQ(ReadError(Words({1, MakeFourCharCode("Bud1"), 12, 2048, 2})),
              "Error: Read beyond end of block.");
}

TEST(Reader, NodeTypeWords)
{
    std::string const item = ItemBytes("a", 1, 1);
    EXPECT_EQ(ReadError(ImageWithNode(Words({0, 1, 0}))), "Unknown block type.");
    // The empty database's file has 3 blocks, so 2 is the only internal-node word it allows.
    EXPECT_EQ(ReadError(ImageWithNode(Words({0, 3, 0}))), "Unknown block type.");
    EXPECT_EQ(ReadError(ImageWithNode(Words({0, 0xFFFFFFFF, 0}))), "Unknown block type.");
    // An internal node's children are read: one that names the node itself is refused.
    CDesktopDatabase database;
    EXPECT_EQ(ReadError(ImageWithNode(Words({0, 2, 1, 2}) + item), database),
              "Error: Invalid File Contents: Overlapping Nodes.");
    EXPECT_EQ(database.records.size(), 1u);
    EXPECT_EQ(ReadError(ImageWithNode(Words({0, 2, 1, 77}) + item)), "Unknown block type.");
}

TEST(Reader, DuplicateKeysKeepFirstNameAndLaterValue)
{
    std::string const node = Words({0, 0, 2}) + ItemBytes("Readme", 1, 5) + ItemBytes("README", 1, 6);
    CDesktopDatabase database;
    EXPECT_EQ(ReadError(ImageWithNode(node), database), "");
    ASSERT_EQ(database.records.size(), 1u);
    EXPECT_EQ(database.records.begin()->first.name, L"Readme");
    EXPECT_EQ(database.records.begin()->second.value, 6);
}

TEST(Reader, DamagedBlocks)
{
    // A count larger than the records present reads the zeros after them as an untyped value.
    EXPECT_EQ(ReadError(ImageWithNode(Words({0, 0, 2}) + ItemBytes("a", 1, 1))),
              "Unknown database value type.");

    // A table entry that names no node: free (0), inside the file header, or past the end of
    // the file.
    CDesktopDatabase source;
    source.SetLong("a", 1, 1);
    std::string image = source.BuildFileImage();
    for (unsigned int address : {0u, 0x1Cu, 0x10u | 5u})
    {
        SetWordAt(image, 4096 + 20, address);
        EXPECT_EQ(ReadError(image), "Unknown block type.") << address;
    }
    SetWordAt(image, 4096 + 20, 0x100000 | 12);
    EXPECT_EQ(ReadError(image), "Error: Read beyond end of block.");
    // A root number past the table.
    image = source.BuildFileImage();
    SetWordAt(image, 68, 3);
    EXPECT_EQ(ReadError(image), "Unknown block type.");
}

TEST(Reader, HostileLengthsAreRefused)
{
    char const* const beyond = "Error: Read beyond end of block.";
    EXPECT_EQ(ReadError(ImageWithNode(Words({0, 0, 1, 0xFFFFFFFF}))),
              "Error: Invalid File Contents: Invalid String Length.");
    std::string const hugeBlob = Words({0, 0, 1, 0, 1, MakeFourCharCode("blob"), 0xFFFFFF00});
    EXPECT_EQ(ReadError(ImageWithNode(hugeBlob)), beyond);
    // The block is 1024 bytes plus 4 zero bytes: a blob may take only what is left of it.
    std::string const tooLong = Words({0, 0, 1, 0, 1, MakeFourCharCode("blob"), 1001});
    EXPECT_EQ(ReadError(ImageWithNode(tooLong)), beyond);
    std::string const fits = Words({0, 0, 1, 0, 1, MakeFourCharCode("blob"), 1000});
    EXPECT_EQ(ReadError(ImageWithNode(fits)), "");
    // A huge record count ends with the block.
    std::string records = Words({0, 0, 0x7FFFFFFF});
    for (int i = 0; i < 40; ++i)
        records += ItemBytes(std::to_string(i).c_str(), 1, i);
    CDesktopDatabase partial;
    EXPECT_EQ(ReadError(ImageWithNode(records + Words({0xFFFFFFFF})), partial),
              "Error: Invalid File Contents: Invalid String Length.");
    EXPECT_EQ(partial.records.size(), 40u);
}
