// Files laid out the way the Finder lays them out: deep trees, nodes of any size anywhere, free
// table entries, and the damaged or hostile variants of those that the reader must refuse.
#include "DatabaseTestSupport.h"
#include "FinderFileBuilder.h"

namespace
{
// n records of all eight value types, with names that sort differently by case and by number.
void FillMixed(CDesktopDatabase& database, size_t count)
{
    for (size_t i = 0; database.records.size() < count; ++i)
    {
        std::string const name = (i % 2 == 0 ? "item " : "Item ") + std::to_string(i);
        unsigned int const code = MakeFourCharCode("Iloc") + static_cast<unsigned int>(i % 3);
        switch (i % 8)
        {
        case 0:
            database.SetBool(name.c_str(), code, i % 16 == 0);
            break;
        case 1:
            database.SetShort(name.c_str(), code, static_cast<short>(i * 37));
            break;
        case 2:
            database.SetLong(name.c_str(), code, -static_cast<long>(i));
            break;
        case 3:
        {
            std::string const bytes(i % 23, static_cast<char>(i));
            database.SetBlob(name.c_str(), code, static_cast<unsigned int>(bytes.size()), bytes.data());
            break;
        }
        case 4:
            database.SetType(name.c_str(), code, MakeFourCharCode("icnv"));
            break;
        case 5:
            database.SetUnicodeString(name.c_str(), code, u"\u00e9t\u00e9 \"" + std::u16string(i % 5, u'x'));
            break;
        case 6:
            database.SetComp(name.c_str(), code, uint64_t(1) << (i % 64));
            break;
        default:
            database.SetDate(name.c_str(), code, (uint64_t(3061152000u) << 16) + i);
        }
    }
}

std::string Printed(CDesktopDatabase const& database)
{
    return CapturePrinted([&] { database.Print(stdout); });
}

// Reads the file and expects exactly the source's records, printed the same.
void ExpectReadsAs(std::string const& file, CDesktopDatabase const& source)
{
    CDesktopDatabase copy;
    ASSERT_EQ(ReadError(file, copy), "");
    ASSERT_EQ(copy.records.size(), source.records.size());
    EXPECT_EQ(Printed(copy), Printed(source));
}

size_t TableEntry(std::string const& file, unsigned int number)
{
    return WordAt(file, 8) + 12 + 4 * static_cast<size_t>(number);
}

// A three-level tree of 128-byte and larger nodes over `source`; returns the file.
std::string ThreeLevelFile(CFinderFileBuilder& builder, CDesktopDatabase const& source)
{
    unsigned int const root = builder.AddTree(CFinderFileBuilder::EncodeRecords(source), 3, 3, 2);
    return builder.Build(root);
}
} // namespace

TEST(FinderFiles, ThreeLevelTreesPrintEveryRecordInKeyOrder)
{
    size_t const count = CFinderFileBuilder::CountTreeRecords(3, 3, 2);
    CDesktopDatabase source;
    FillMixed(source, count);
    for (unsigned int seed = 1; seed <= 40; ++seed)
    {
        CFinderFileBuilder builder(seed);
        std::string const file = ThreeLevelFile(builder, source);
        SCOPED_TRACE(seed);
        ExpectReadsAs(file, source);
    }
}

TEST(FinderFiles, NodeSizesFrom128BytesTo4KiBAndDeeperTrees)
{
    struct
    {
        unsigned int exponent;
        int depth, fanout, leafRecords;
    } const shapes[] = {{7, 4, 2, 1},   {8, 3, 4, 3},   {10, 3, 5, 10},
                        {12, 4, 4, 20}, {12, 1, 1, 60}, {7, 5, 2, 1}};
    for (auto const& shape : shapes)
    {
        CDesktopDatabase source;
        FillMixed(source, CFinderFileBuilder::CountTreeRecords(shape.depth, shape.fanout, shape.leafRecords));
        CFinderFileBuilder builder(shape.exponent * 100 + static_cast<unsigned int>(shape.depth), 2000);
        builder.minExponent = shape.exponent;
        unsigned int const root = builder.AddTree(CFinderFileBuilder::EncodeRecords(source), shape.depth,
                                                  shape.fanout, shape.leafRecords);
        SCOPED_TRACE(shape.exponent * 100 + shape.depth);
        ExpectReadsAs(builder.Build(root), source);
    }
}

TEST(FinderFiles, AFullNodeAtTheEndOfTheFile)
{
    // A 128-byte leaf whose records take every byte of it, placed last: the file ends 4 bytes
    // after it, with the last record's last byte.
    CDesktopDatabase source;
    source.SetLong("a", MakeFourCharCode("long"), 1); // 18 bytes
    std::string const bytes(120 - 18 - 20, 'z');      // a blob record of 20 + n bytes under "ab"
    source.SetBlob("ab", MakeFourCharCode("blob"), static_cast<unsigned int>(bytes.size()), bytes.data());
    CFinderFileBuilder builder(7);
    CFinderFileBuilder::CNode leaf;
    leaf.exponent = 7;
    leaf.records = CFinderFileBuilder::EncodeRecords(source);
    builder.SetNode(2, leaf);
    builder.placeLast = 2;
    std::string const file = builder.Build(2);
    size_t const position = WordAt(file, TableEntry(file, 2)) & ~15u;
    ASSERT_EQ(file.size(), position + 4 + 128);
    EXPECT_EQ(file.back(), 'z');
    ExpectReadsAs(file, source);
    // One byte less and the last record runs past the end of the file.
    EXPECT_EQ(ReadError(file.substr(0, file.size() - 1)), "Error: Read beyond end of block.");
}

TEST(FinderFiles, InfoBlockAnywhereAndNodesAtAnyNumber)
{
    CDesktopDatabase source;
    FillMixed(source, CFinderFileBuilder::CountTreeRecords(3, 3, 2));
    for (unsigned int seed = 1; seed <= 10; ++seed)
    {
        // The info block at a high number, the directory not at 0, block 1 free for a node, and
        // a table of more than 256 entries (the table of contents after 512 slots).
        CFinderFileBuilder builder(seed, seed % 2 == 0 ? 300 : 20);
        builder.infoNumber = 17;
        builder.directoryNumber = 3;
        std::string const file = ThreeLevelFile(builder, source);
        SCOPED_TRACE(seed);
        ExpectReadsAs(file, source);
    }
}

TEST(FinderFiles, TreesWithNoRecords)
{
    CFinderFileBuilder builder(3);
    builder.SetNode(9, CFinderFileBuilder::CNode());
    CDesktopDatabase empty;
    EXPECT_EQ(ReadError(builder.Build(9), empty), "");
    EXPECT_TRUE(empty.IsEmpty());
}

TEST(FinderFiles, DamagedStructureIsRefused)
{
    char const* const unknownBlock = "Unknown block type.";
    char const* const overlapping = "Error: Invalid File Contents: Overlapping Nodes.";
    CDesktopDatabase source;
    FillMixed(source, CFinderFileBuilder::CountTreeRecords(3, 3, 2));
    CFinderFileBuilder builder(11);
    std::string const file = ThreeLevelFile(builder, source);
    unsigned int const root = WordAt(file, (WordAt(file, TableEntry(file, builder.infoNumber)) & ~15u) + 4);
    CFinderFileBuilder::CNode const& top = builder.nodes.at(root);
    unsigned int const middle = top.children.at(0);
    unsigned int const leaf = builder.nodes.at(middle).children.at(0);

    // A child naming a free table entry, the info block, or a number past the table.
    unsigned int freeNumber = 2;
    while (builder.nodes.count(freeNumber) != 0 || freeNumber == builder.infoNumber)
        ++freeNumber;
    for (unsigned int child : {freeNumber, builder.infoNumber, builder.blockCount, 0xFFFFFFFFu})
    {
        CFinderFileBuilder broken = builder;
        broken.nodes[middle].children[1] = child;
        EXPECT_EQ(ReadError(broken.Build(root)), unknownBlock) << child;
    }
    {
        CFinderFileBuilder broken = builder;
        broken.nodes[middle].rightmost = builder.blockCount;
        EXPECT_EQ(ReadError(broken.Build(root)), unknownBlock);
    }

    // A cycle, a node with two parents, and two numbers for the same or overlapping bytes.
    {
        CFinderFileBuilder broken = builder;
        broken.nodes[middle].children[1] = root;
        EXPECT_EQ(ReadError(broken.Build(root)), overlapping);
    }
    {
        CFinderFileBuilder broken = builder;
        broken.nodes[top.children.at(1)].rightmost = leaf;
        EXPECT_EQ(ReadError(broken.Build(root)), overlapping);
    }
    {
        std::string copy = file;
        unsigned int const other = builder.nodes.at(middle).children.at(1);
        SetWordAt(copy, TableEntry(copy, other), WordAt(copy, TableEntry(copy, leaf)));
        EXPECT_EQ(ReadError(copy), overlapping);
        // A larger block over the same place.
        SetWordAt(copy, TableEntry(copy, other), (WordAt(copy, TableEntry(copy, leaf)) & ~15u) + 13);
        EXPECT_EQ(ReadError(copy), overlapping);
    }

    // No "DSDB" entry in the table of contents.
    {
        std::string copy = file;
        size_t const entry = copy.find("\4DSDB");
        ASSERT_NE(entry, std::string::npos);
        copy[entry + 4] = 'C';
        EXPECT_EQ(ReadError(copy), "Error: Invalid File Contents: No DSDB Entry.");
        SetWordAt(copy, entry - 4, 0);
        EXPECT_EQ(ReadError(copy), "Error: Invalid File Contents: No DSDB Entry.");
        // An entry count past the end of the file.
        SetWordAt(copy, entry - 4, 0x7FFFFFFF);
        EXPECT_EQ(ReadError(copy), "Error: Read beyond end of block.");
    }
}

TEST(FinderFiles, ManyTableEntriesOverOneBlockAreReadOnce)
{
    // Hundreds of table entries name the same 32 KiB block, and the root names all of them:
    // the block is read once and the second naming is refused, so the reader never holds a copy
    // of the block's records per entry.
    CFinderFileBuilder builder(5, 400);
    CFinderFileBuilder::CNode leaf;
    leaf.exponent = 15;
    std::string const bytes(30000, 'b');
    CDesktopDatabase::CDatabaseValue blob;
    blob.SetBlobValue(static_cast<unsigned int>(bytes.size()), bytes.data());
    leaf.records.push_back(EncodeRecord(CDesktopDatabase::CDatabaseKey("big", 1), blob));
    builder.SetNode(2, leaf);
    CFinderFileBuilder::CNode root;
    root.rightmost = 2;
    CDesktopDatabase::CDatabaseValue flag;
    flag.SetBoolValue(true);
    for (unsigned int number = 4; number < 300; ++number)
    {
        root.children.push_back(number);
        root.records.push_back(EncodeRecord(CDesktopDatabase::CDatabaseKey("r", number), flag));
    }
    builder.SetNode(3, root);
    std::string file = builder.Build(3);
    for (unsigned int number = 4; number < 300; ++number)
        SetWordAt(file, TableEntry(file, number), WordAt(file, TableEntry(file, 2)));
    CDesktopDatabase database;
    EXPECT_EQ(ReadError(file, database), "Error: Invalid File Contents: Overlapping Nodes.");
    EXPECT_LE(database.records.size(), 297u);
}
