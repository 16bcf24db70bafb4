// "--dump" end to end: files made by the writer are listed, broken ones reported, and each
// argument after a failure is handled normally.
#include "RunKilnpack.h"

#include "support/TempFolder.h"
#include "desktopdb/DesktopDatabase.h"
#include "desktopdb/FinderFileBuilder.h"

#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace
{
class Dump : public testing::Test
{
protected:
    CRunResult Run(std::vector<std::string> const& arguments)
    {
        return RunKilnpack(arguments, directory.path);
    }

    std::string WriteDatabase(std::string const& name, CDesktopDatabase const& database)
    {
        std::string const path = directory.Join(name);
        database.WriteToDisk(path.c_str());
        return path;
    }

    CTempFolder directory;
};

unsigned char const kBlobBytes[20] = {0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a,
                                      0x4b, 0x4c, 0x4d, 0x4e, 0x4f, 0x50, 0x51, 0x52, 0x53, 0x54};

char const* const kListing =
    "\".\" 'QRVL' : (long)1 (0x00000001)\n"
    "\"ab\" 'Iloc' : (blob 20 bytes)\n"
    "        0000: 41 42 43 44 45 46 47 48  49 4a 4b 4c 4d 4e 4f 50 'ABCDEFGHIJKLMNOP'\n"
    "        0010: 51 52 53 54                                      'QRST'\n"
    "\"Applications\" 'Iloc' : (short)65535 (0xffff)\n"
    "\"zebra\" 'ICVO' : true\n";

CDesktopDatabase const& SampleDatabase()
{
    static CDesktopDatabase database;
    if (database.IsEmpty())
    {
        database.SetBool("zebra", MakeFourCharCode("ICVO"), true);
        database.SetShort("Applications", MakeFourCharCode("Iloc"), -1);
        database.SetBlob("ab", MakeFourCharCode("Iloc"), sizeof kBlobBytes, kBlobBytes);
        database.SetLong(".", MakeFourCharCode("QRVL"), 1);
    }
    return database;
}
} // namespace

TEST_F(Dump, ListsWrittenFilesInKeyOrder)
{
    std::string const sample = WriteDatabase("sample", SampleDatabase());
    std::string const empty = WriteDatabase("empty", CDesktopDatabase());
    CRunResult const result = Run({"--dump", sample, empty, sample});
    EXPECT_EQ(result.output, std::string(kBanner) + kListing + kListing);
    EXPECT_EQ(result.errors, "");
    EXPECT_EQ(result.status, 0);
}

TEST_F(Dump, ListsMultiLeafFiles)
{
    CDesktopDatabase database;
    std::string expected;
    for (int i = 0; i < 400; ++i)
    {
        std::string const name = "item " + std::to_string(1000 + i);
        database.SetLong(name.c_str(), MakeFourCharCode("Iloc"), i);
        char line[80];
        std::snprintf(line, sizeof line, "\"%s\" 'Iloc' : (long)%d (0x%08x)\n", name.c_str(), i, i);
        expected += line;
    }
    CRunResult const result = Run({"--dump", WriteDatabase("large", database)});
    EXPECT_EQ(result.output, std::string(kBanner) + expected);
    EXPECT_EQ(result.errors, "");
}

TEST_F(Dump, BrokenFilesAreReportedAndTheNextArgumentStillRuns)
{
    std::string const sample = WriteDatabase("sample", SampleDatabase());
    std::string const notDatabase = directory.WriteFile("text", "this is not a desktop database file");
    std::string const version =
        directory.WriteFile("version", std::string("\0\0\0\2Bud1\0\0\0\0\0\0\0\0", 16));
    std::string const truncated = directory.WriteFile("short", std::string("\0\0\0\1Bud1", 8));
    std::string const missing = directory.Join("missing");

    CRunResult const result = Run({"--dump", notDatabase, sample, version, truncated, missing, sample});
    EXPECT_EQ(result.output, std::string(kBanner) + kListing + kListing);
    EXPECT_EQ(result.errors, "Internal Error: 'Unknown file signature.'\n"
                             "Internal Error: 'Unknown file version.'\n"
                             "Internal Error: 'Error: Read beyond end of block.'\n"
                             "Internal Error: 'Error: Read beyond end of block.'\n");
    EXPECT_EQ(result.status, 1);
}

TEST_F(Dump, DamagedRecordsPrintNothingOfTheirFile)
{
    // A record whose name length is negative: the file's earlier records are not printed.
    CDesktopDatabase database;
    database.SetLong("a", MakeFourCharCode("long"), 1);
    database.SetLong("b", MakeFourCharCode("long"), 2);
    std::string image = database.BuildFileImage();
    size_t const second = image.find(std::string("\0\0\0\1\0b", 6));
    ASSERT_NE(second, std::string::npos);
    image.replace(second, 4, std::string("\xff\xff\xff\xff", 4));
    std::string const damaged = directory.WriteFile("damaged", image);

    CRunResult const result = Run({"--dump", damaged, WriteDatabase("sample", SampleDatabase())});
    EXPECT_EQ(result.output, std::string(kBanner) + kListing);
    EXPECT_EQ(result.errors, "Internal Error: 'Error: Invalid File Contents: Invalid String Length.'\n");
}

TEST_F(Dump, ListsEveryValueType)
{
    CDesktopDatabase database;
    database.SetType(".", MakeFourCharCode("icvl"), MakeFourCharCode("icnv"));
    database.SetUnicodeString("ab", MakeFourCharCode("cmmt"), u"\"caf\u00e9\"\n");
    database.SetComp("ab", MakeFourCharCode("lg1S"), 1234567);
    database.SetDate("ab", MakeFourCharCode("moDD"), (uint64_t(3061152000u) << 16) + 0x8000);
    database.SetBool("ab", MakeFourCharCode("dscl"), true);
    CRunResult const result = Run({"--dump", WriteDatabase("types", database)});
    EXPECT_EQ(result.output, std::string(kBanner) + "\".\" 'icvl' : (type)'icnv'\n"
                                                    "\"ab\" 'cmmt' : (ustr)\"\\\"caf\xc3\xa9\\\"\\n\"\n"
                                                    "\"ab\" 'dscl' : true\n"
                                                    "\"ab\" 'lg1S' : (comp)1234567 (0x000000000012d687)\n"
                                                    "\"ab\" 'moDD' : (dutc)200615657504768 "
                                                    "(2001-01-01 00:00:00.5 UTC)\n");
    EXPECT_EQ(result.errors, "");
}

TEST_F(Dump, ListsFinderLaidOutFilesInKeyOrder)
{
    // Three levels of 128-byte and larger nodes, placed and numbered at random, the file ending
    // 4 bytes after its last block.
    CDesktopDatabase database;
    std::string expected;
    size_t const count = CFinderFileBuilder::CountTreeRecords(3, 4, 3);
    for (size_t i = 0; i < count; ++i)
    {
        std::string const name = "file " + std::to_string(100 + i);
        database.SetLong(name.c_str(), MakeFourCharCode("Iloc"), static_cast<long>(i));
        char line[80];
        std::snprintf(line, sizeof line, "\"%s\" 'Iloc' : (long)%d (0x%08x)\n", name.c_str(),
                      static_cast<int>(i), static_cast<unsigned int>(i));
        expected += line;
    }
    CFinderFileBuilder builder(2026);
    unsigned int const root = builder.AddTree(CFinderFileBuilder::EncodeRecords(database), 3, 4, 3);
    std::string const path = directory.WriteFile("finder", builder.Build(root));
    CRunResult const result = Run({"--dump", path});
    EXPECT_EQ(result.output, std::string(kBanner) + expected);
    EXPECT_EQ(result.errors, "");
}

// Only regular files are read: a folder, a FIFO without a writer, a socket or a device each draw one
// error line without hanging or aborting the run, and the next argument is handled as usual.
TEST_F(Dump, AnythingButARegularFileIsRefusedAndTheRunGoesOn)
{
    std::string const folder = directory.Join("folder");
    std::string const fifo = directory.Join("fifo");
    std::string const socketPath = directory.Join("socket");
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int const listener = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, socketPath.c_str());
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    std::string const sample = WriteDatabase("sample", SampleDatabase());
    CRunResult const result = Run({"--dump", folder, fifo, socketPath, "/dev/null", sample});
    close(listener);
    EXPECT_EQ(result.output, std::string(kBanner) + kListing);
    EXPECT_EQ(result.errors, "Error: Unable to access file '" + folder + "'.\n" +
                                 "Error: Unable to access file '" + fifo + "'.\n" +
                                 "Error: Unable to access file '" + socketPath + "'.\n" +
                                 "Error: Unable to access file '/dev/null'.\n");
    EXPECT_EQ(result.status, 1);
}
