// The image reader against images assembled here from every run type it reads, against images
// whose tables lie, and against a hostile image whose catalog chain hops between compressed runs:
// read with a bounded amount of decompression, and where even the cache can't help, stopped by the
// image's budget; --dump then prints an error and handles the next argument.
#include "udif/UdifImageReader.h"
#include "hfsplus/HfsCatalogListing.h"
#include "support/ShellCommand.h"
#include "support/TempFolder.h"
#include "support/ThrashingImage.h"
#include "udif/BlkxTable.h"
#include "udif/KolyTrailer.h"
#include "udif/UdifPlist.h"

#include <bzlib.h>
#include <cstring>
#include <gtest/gtest.h>
#include <libdeflate.h>
#include <lzma.h>

namespace
{
constexpr uint64_t kRunSectors = 4;

std::vector<uint8_t> Pattern(uint8_t seed)
{
    std::vector<uint8_t> bytes(kRunSectors * 512);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = uint8_t(seed + i * 7 + i / 512);
    return bytes;
}

std::vector<uint8_t> Compress(uint32_t type, std::vector<uint8_t> const& plain)
{
    std::vector<uint8_t> out(plain.size() * 2 + 1024);
    if (type == kBlkxZlib)
    {
        libdeflate_compressor* compressor = libdeflate_alloc_compressor(6);
        out.resize(libdeflate_zlib_compress(compressor, plain.data(), plain.size(), out.data(), out.size()));
        libdeflate_free_compressor(compressor);
    }
    else if (type == 0x80000006)
    {
        unsigned int length = unsigned(out.size());
        EXPECT_EQ(BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &length,
                                           const_cast<char*>(reinterpret_cast<char const*>(plain.data())),
                                           unsigned(plain.size()), 9, 0, 0),
                  BZ_OK);
        out.resize(length);
    }
    else
    {
        size_t length = 0;
        EXPECT_EQ(lzma_easy_buffer_encode(6, LZMA_CHECK_CRC64, nullptr, plain.data(), plain.size(), out.data(),
                                          &length, out.size()),
                  LZMA_OK);
        out.resize(length);
    }
    return out;
}

struct CBuiltImage
{
    std::vector<uint8_t> file;
    std::vector<uint8_t> disk; // what the image must read back as
};

// One table of five runs (zlib, bzip2, LZMA, raw, zero fill) after 2 unmapped sectors.
CBuiltImage BuildImage(std::vector<CBlkxRun>* editRuns = nullptr)
{
    CBuiltImage built;
    uint32_t const types[] = {kBlkxZlib, 0x80000006, 0x80000008, kBlkxRaw, kBlkxZeroFill};
    CBlkxTable table;
    table.firstSector = 2;
    built.disk.assign(2 * 512, 0);
    for (size_t i = 0; i < 5; ++i)
    {
        std::vector<uint8_t> const plain = types[i] == kBlkxZeroFill ? std::vector<uint8_t>(kRunSectors * 512, 0)
                                                                     : Pattern(uint8_t(i * 40));
        std::vector<uint8_t> const stored =
            types[i] == kBlkxRaw ? plain : types[i] == kBlkxZeroFill ? std::vector<uint8_t>() : Compress(types[i], plain);
        table.runs.push_back({types[i], i * kRunSectors, kRunSectors, built.file.size(), stored.size()});
        built.file.insert(built.file.end(), stored.begin(), stored.end());
        built.disk.insert(built.disk.end(), plain.begin(), plain.end());
    }
    if (editRuns)
        for (size_t i = 0; i < editRuns->size(); ++i)
            table.runs[i] = (*editRuns)[i];
    table.sectorCount = 5 * kRunSectors;
    CKolyTrailer trailer;
    trailer.dataForkLength = built.file.size();
    trailer.sectorCount = 2 + table.sectorCount;
    std::string xml, error;
    EXPECT_TRUE(BuildUdifPlist({{"whole disk", 0, SerializeBlkxTable(table)}}, &xml, &error)) << error;
    trailer.xmlOffset = built.file.size();
    trailer.xmlLength = xml.size();
    built.file.insert(built.file.end(), xml.begin(), xml.end());
    auto const koly = SerializeKolyTrailer(trailer);
    built.file.insert(built.file.end(), koly.begin(), koly.end());
    return built;
}

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
bool ListVolume(std::vector<uint8_t> const& file, CHfsVolumeListing* listing, uint64_t* work,
                std::string* error)
{
    CUdifImageReader reader;
    if (!reader.Open(ReadFrom(file), file.size(), error))
        return false;
    bool const listed =
        ReadHfsVolumeListing([&](uint64_t offset, uint8_t* data, size_t size, std::string* why)
                             { return reader.ReadDisk(offset, data, size, why); },
                             listing, error);
    *work = reader.GetWorkDone();
    return listed;
}

std::string Dump(std::string const& image)
{
    std::string output;
    int const status = RunCapturing(
        QuoteForShell(KILNPACK_BINARY) + " --dump " + QuoteForShell(image) + " --version", &output);
    return std::to_string(status) + "\n" + output;
}
} // namespace

TEST(UdifImageReader, ReadsEveryRunTypeAcrossRunBoundaries)
{
    CBuiltImage const built = BuildImage();
    ASSERT_TRUE(IsUdifImage(ReadFrom(built.file), built.file.size()));
    CUdifImageReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(ReadFrom(built.file), built.file.size(), &error)) << error;
    ASSERT_EQ(reader.GetDiskSize(), built.disk.size());
    std::vector<uint8_t> whole(built.disk.size());
    ASSERT_TRUE(reader.ReadDisk(0, whole.data(), whole.size(), &error)) << error;
    EXPECT_EQ(whole, built.disk);
    // Reads that straddle runs, out of order, so that the one-run cache is refilled.
    for (uint64_t offset : {uint64_t(5000), uint64_t(700), uint64_t(8000), uint64_t(2040)})
    {
        std::vector<uint8_t> part(3000);
        ASSERT_TRUE(reader.ReadDisk(offset, part.data(), part.size(), &error)) << error;
        EXPECT_TRUE(std::equal(part.begin(), part.end(), built.disk.begin() + long(offset))) << offset;
    }
    std::vector<uint8_t> beyond(16);
    EXPECT_FALSE(reader.ReadDisk(built.disk.size() - 8, beyond.data(), beyond.size(), &error));
}

TEST(UdifImageReader, RefusesTablesThatLie)
{
    struct CCase
    {
        char const* what;
        CBlkxRun run;
        bool opens;
    } const cases[] = {
        {"past the data fork", {kBlkxRaw, 0, kRunSectors, 1u << 20, kRunSectors * 512}, false},
        {"beyond its table", {kBlkxZeroFill, 0, 1000, 0, 0}, false},
        {"a huge run", {kBlkxZlib, 0, kUdifMaxRunSectors + 1, 0, 10}, false},
        {"an unknown type", {0x80000004, 0, kRunSectors, 0, 10}, false},
        {"damaged zlib data", {kBlkxZlib, 0, kRunSectors, 1, 10}, true},
        {"nothing stored", {kBlkxZlib, 0, kRunSectors, 0, 0}, false},
        {"overlapping runs", {kBlkxZeroFill, 2, kRunSectors, 0, 0}, false},
    };
    for (CCase const& test : cases)
    {
        std::vector<CBlkxRun> runs = {test.run};
        CBuiltImage const built = BuildImage(&runs);
        CUdifImageReader reader;
        std::string error;
        bool const opened = reader.Open(ReadFrom(built.file), built.file.size(), &error);
        EXPECT_EQ(opened, test.opens) << test.what << ": " << error;
        if (opened)
        {
            std::vector<uint8_t> whole(built.disk.size());
            EXPECT_FALSE(reader.ReadDisk(0, whole.data(), whole.size(), &error)) << test.what;
            EXPECT_EQ(error, "a compressed run of the image is damaged");
        }
        else
            EXPECT_FALSE(error.empty()) << test.what;
    }
    CBuiltImage built = BuildImage();
    built.file.resize(built.file.size() - 1);
    EXPECT_FALSE(IsUdifImage(ReadFrom(built.file), built.file.size()));
}

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
    EXPECT_NE(dumped.find("Error: Unable to read the disk image '" + path + "': " + error + "."),
              std::string::npos)
        << dumped;
    EXPECT_NE(dumped.find("Version: 0.1"), std::string::npos) << dumped;
}
