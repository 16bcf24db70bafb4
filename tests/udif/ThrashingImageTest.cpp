// A hostile image whose catalog chain hops between compressed runs: read with a bounded amount
// of decompression, and, where even the cache can't help, stopped by the image's budget; --dump
// then prints an error and handles the next argument.
#include "hfsplus/HfsCatalogListing.h"
#include "support/ShellCommand.h"
#include "support/TempFolder.h"
#include "support/ThrashingImage.h"
#include "udif/UdifImageReader.h"

#include <cstring>
#include <gtest/gtest.h>

namespace
{
CImageReadAt ReadFrom(std::vector<uint8_t> const& file)
{
    return [&file](uint64_t offset, uint8_t* data, size_t size, std::string* error) {
        if (offset > file.size() || size > file.size() - offset)
        {
            *error = "past the end";
            return false;
        }
        std::memcpy(data, file.data() + offset, size);
        return true;
    };
}

// Lists the bare volume of the image; the reader's work afterwards in `work`.
bool ListVolume(std::vector<uint8_t> const& file, CHfsVolumeListing* listing, uint64_t* work, std::string* error)
{
    CUdifImageReader reader;
    if (!reader.Open(ReadFrom(file), file.size(), error))
        return false;
    bool const listed = ReadHfsVolumeListing(
        [&](uint64_t offset, uint8_t* data, size_t size, std::string* why) {
            return reader.ReadDisk(offset, data, size, why);
        },
        listing, error);
    *work = reader.GetWorkDone();
    return listed;
}

std::string Dump(std::string const& image)
{
    std::string output;
    int const status = RunCapturing(QuoteForShell(KILNPACK_BINARY) + " --dump " + QuoteForShell(image) + " --version", &output);
    return std::to_string(status) + "\n" + output;
}
} // namespace

// 512 leaves alternate between two 1 MiB runs: without the cache 512 MiB are decompressed; with
// it each run once (3 MiB, run 0 included), plus the 2 MiB of nodes handed out.
TEST(ThrashingImage, EachRunIsDecompressedAboutOnce)
{
    std::vector<uint8_t> const file = ThrashingImage::Build(2);
    EXPECT_LT(file.size(), 64u << 10);
    CHfsVolumeListing listing;
    uint64_t work = 0;
    std::string error;
    ASSERT_TRUE(ListVolume(file, &listing, &work, &error)) << error;
    EXPECT_EQ(listing.volumeName, "Thrash");
    EXPECT_LE(work, uint64_t(6) << 20);

    CTempFolder folder;
    std::string const path = folder.path + "/thrash.dmg";
    WriteWholeFile(path, std::string(file.begin(), file.end()));
    std::string const dumped = Dump(path);
    EXPECT_EQ(dumped.rfind("0\n", 0), 0u) << dumped;
    EXPECT_NE(dumped.find("Volume name: \"Thrash\""), std::string::npos) << dumped;
}

// 7,168 leaves hop between seven 4 MiB runs, more than the cache holds: 28 GiB to decompress. The
// budget (64 times the file's size and 64 MiB) stops the reading with an error, and the run goes
// on with the next argument.
TEST(ThrashingImage, WorkBeyondTheBudgetStopsTheReading)
{
    std::vector<uint8_t> const file = ThrashingImage::Build(7, 1024);
    CHfsVolumeListing listing;
    uint64_t work = 0;
    std::string error;
    EXPECT_FALSE(ListVolume(file, &listing, &work, &error));
    uint64_t const budget = GetUdifReadBudget(file.size());
    EXPECT_EQ(budget, 64 * file.size() + (64u << 20));
    EXPECT_EQ(error, "reading it takes more than " + std::to_string(budget >> 20) +
                         " MB of decompressed data, far more than an image of its size holds");
    EXPECT_LE(work, budget);

    CTempFolder folder;
    std::string const path = folder.path + "/thrash.dmg";
    WriteWholeFile(path, std::string(file.begin(), file.end()));
    std::string const dumped = Dump(path);
    EXPECT_EQ(dumped.rfind("1\n", 0), 0u) << dumped;
    EXPECT_NE(dumped.find("Error: Unable to read the disk image '" + path + "': " + error + "."), std::string::npos)
        << dumped;
    EXPECT_NE(dumped.find("Version: 0.1"), std::string::npos) << dumped;
}
