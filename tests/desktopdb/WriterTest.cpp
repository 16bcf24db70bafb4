// File layouts made by the writer, checked byte for byte, and how it fails.
#include "DatabaseTestSupport.h"
#include "support/FileBytes.h"
#include "support/TempFolder.h"

#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// Directory block part from its table-of-contents entry on.
std::string DirectoryTail(std::vector<std::vector<unsigned int>> const& freeLists)
{
    return Words({1}) + Bytes({4}) + "DSDB" + Words({1}) + FreeListBytes(freeLists);
}

void ExpectCommonLayout(std::string const& image, unsigned int directory)
{
    ASSERT_EQ(image.size(), directory + 2048u);
    EXPECT_EQ(image.substr(0, 20), Words({1, MakeFourCharCode("Bud1"), directory, 2048, directory}));
    EXPECT_EQ(WordAt(image, 84), 4096u);
    EXPECT_EQ(image.substr(2048, 16), Words({0, 1, 0, 2059}));
    EXPECT_EQ(image.substr(3072, 224), FreeListBytes(TemplateLists()));
    EXPECT_EQ(WordAt(image, directory), 0u);
}

} // namespace

TEST(WriterLayout, EmptyDatabaseIsExactly6144KnownBytes)
{
    std::string expected(6144, '\0');
    auto put = [&](size_t position, std::string const& bytes)
    { expected.replace(position, bytes.size(), bytes); };
    put(0, Words({1, MakeFourCharCode("Bud1"), 4096, 2048, 4096, 0x25}));
    put(44, Words({2048, 2048}));
    put(64, Words({0, 2, 0, 0, 1, 4096}));
    put(2048, Words({0, 1, 0, 2059}));
    put(3072, FreeListBytes(TemplateLists()));
    put(4096, Words({0, 3, 0, 0x100B, 0x45, 0x25}));
    auto lists = TemplateLists();
    lists[5] = {96};
    lists[6] = {};
    lists[11] = {2048, 6144};
    lists[12] = {};
    put(4096 + 1036, DirectoryTail(lists));

    CDesktopDatabase database;
    EXPECT_TRUE(SameBytes(database.BuildFileImage(), expected));
}

TEST(WriterLayout, OneLeafOf300Bytes)
{
    CDesktopDatabase database;
    AddRecordOfLength(database, "one", 300);
    std::string const image = database.BuildFileImage();
    ExpectCommonLayout(image, 4096);
    EXPECT_EQ(WordAt(image, 20), 0x209u);
    EXPECT_EQ(image.substr(24, 12), Words({0, 0, 0}));
    EXPECT_EQ(image.substr(44, 8), Words({2048, 2048}));
    EXPECT_EQ(image.substr(64, 24), Words({0, 2, 0, 1, 1, 4096}));
    EXPECT_EQ(image.substr(512, 12), Words({0, 0, 1}));
    EXPECT_EQ(image.substr(524, 300),
              EncodeRecord(database.records.begin()->first, database.records.begin()->second));
    EXPECT_EQ(image.substr(4096, 24), Words({0, 3, 0, 0x100B, 0x45, 0x209}));
    auto lists = TemplateLists();
    lists[5] = {32, 96};
    lists[6] = {};
    lists[9] = {};
    lists[11] = {2048, 6144};
    lists[12] = {};
    std::string const tail = DirectoryTail(lists);
    EXPECT_EQ(image.substr(4096 + 1036, tail.size()), tail);
    EXPECT_EQ(image.substr(4096 + 1036 + tail.size()), std::string(2048 - 1036 - tail.size(), '\0'));
}

TEST(WriterLayout, LeafSizesAroundTheBudget)
{
    CDesktopDatabase large;
    AddRecordOfLength(large, "big", 4000);
    std::string const image = large.BuildFileImage();
    ExpectCommonLayout(image, 8192);
    EXPECT_EQ(image.size(), 10240u);
    EXPECT_EQ(WordAt(image, 20), 0x100Cu);

    CDesktopDatabase fits;
    AddRecordOfLength(fits, "aaa", 2041);
    AddRecordOfLength(fits, "bbb", 2041);
    EXPECT_EQ(WordAt(fits.BuildFileImage(), 80), 1u); // 4082 bytes: a single leaf

    CDesktopDatabase split;
    AddRecordOfLength(split, "aaa", 2041);
    AddRecordOfLength(split, "bbb", 2042);
    std::string const twoLeaves = split.BuildFileImage();
    EXPECT_EQ(twoLeaves.substr(64, 20), Words({0, 3, 1, 2, 3})); // root 3, one level, 2 records, 3 nodes
}

TEST(WriterLayout, TwentyRecordsOf300Bytes)
{
    CDesktopDatabase database;
    for (int i = 0; i < 20; ++i)
        AddRecordOfLength(database, "r" + std::to_string(10 + i), 300);
    std::string const image = database.BuildFileImage();
    ExpectCommonLayout(image, 12288);
    EXPECT_EQ(image.size(), 14336u);
    EXPECT_EQ(image.substr(20, 16), Words({0x200C, 0x209, 0x100C, 0}));
    EXPECT_EQ(image.substr(64, 24), Words({0, 3, 1, 20, 3, 4096}));
    EXPECT_EQ(image.substr(12288, 32), Words({0, 5, 0, 0x300B, 0x45, 0x100C, 0x209, 0x200C}));

    std::vector<std::string> encoded;
    for (auto const& record : database.records)
        encoded.push_back(EncodeRecord(record.first, record.second));
    // First leaf: records 1 to 10; internal node: record 11 between leaf 2 and the rightmost leaf 4.
    EXPECT_EQ(image.substr(4096, 12), Words({0, 0, 10}));
    EXPECT_EQ(image.substr(4096 + 12 + 9 * 300, 300), encoded[9]);
    EXPECT_EQ(image.substr(512, 316), Words({0, 4, 1, 2}) + encoded[10]);
    EXPECT_EQ(image.substr(8192, 12), Words({0, 0, 9}));
    EXPECT_EQ(image.substr(8192 + 12, 300), encoded[11]);
}

TEST(WriterLayout, LargestDatabaseAndTooLarge)
{
    CDesktopDatabase largest;
    for (unsigned int code = 0; code < 75400; ++code)
        largest.SetBool("", code, true);
    std::string const image = largest.BuildFileImage();
    EXPECT_EQ(image.size(), 997376u);
    EXPECT_EQ(WordAt(image, WordAt(image, 8) + 4), 244u);
    EXPECT_EQ(WordAt(image, 76), 75400u);

    for (unsigned int code = 75400; code < 76000; ++code)
        largest.SetBool("", code, true);
    EXPECT_EQ(ThrownText([&] { largest.BuildFileImage(); }), "Desktop Database too large. Unsupported.");

    CDesktopDatabase single;
    AddRecordOfLength(single, "big", 5000);
    EXPECT_EQ(ThrownText([&] { single.BuildFileImage(); }), "Desktop Database too large. Unsupported.");
}

TEST(WriterFile, WritesIdenticalFilesAndReplacesOld)
{
    CTempFolder temporary;
    std::string const folder = temporary.path;
    std::string const path = folder + "/.DS_Store";
    {
        std::ofstream old(path, std::ios::binary);
        old << std::string(20000, 'o');
    }
    CDesktopDatabase database;
    database.SetLong(".", MakeFourCharCode("QRVL"), 1);
    database.WriteToDisk(path.c_str());
    std::string const first = ReadWholeFile(path);
    database.WriteToDisk(path.c_str());
    EXPECT_TRUE(SameBytes(first, database.BuildFileImage()));
    EXPECT_TRUE(SameBytes(ReadWholeFile(path), first));
    EXPECT_EQ(ListFolder(folder), std::vector<std::string>{".DS_Store"});
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_NE(info.st_mode & S_IRGRP, 0u); // not the private mode of a temporary file
    unlink(path.c_str());
    rmdir(folder.c_str());
}

TEST(WriterFile, FailuresAreThrownAndLeaveNothingBehind)
{
    CTempFolder temporary;
    std::string const folder = temporary.path;
    CDesktopDatabase database;
    database.SetBool("a", 1, true);

    std::string const missing = folder + "/missing/.DS_Store";
    EXPECT_EQ(ThrownText([&] { database.WriteToDisk(missing.c_str()); }),
              "Unable to create desktop database file.");

    // The target is a folder: the rename fails, the temporary file goes away.
    std::string const blocked = folder + "/blocked";
    ASSERT_EQ(mkdir(blocked.c_str(), 0755), 0);
    std::string const inside = blocked + "/keep";
    std::ofstream(inside) << "x";
    EXPECT_EQ(ThrownText([&] { database.WriteToDisk(blocked.c_str()); }),
              "Unable to write desktop database file.");
    EXPECT_EQ(ListFolder(folder), std::vector<std::string>{"blocked"});

    // A database that can't be laid out leaves an existing file untouched.
    std::string const path = folder + "/.DS_Store";
    database.WriteToDisk(path.c_str());
    AddRecordOfLength(database, "big", 5000);
    EXPECT_EQ(ThrownText([&] { database.WriteToDisk(path.c_str()); }),
              "Desktop Database too large. Unsupported.");
    CDesktopDatabase small;
    small.SetBool("a", 1, true);
    EXPECT_TRUE(SameBytes(ReadWholeFile(path), small.BuildFileImage()));
    EXPECT_EQ(ListFolder(folder).size(), 2u);

    unlink(path.c_str());
    unlink(inside.c_str());
    rmdir(blocked.c_str());
    rmdir(folder.c_str());
}
