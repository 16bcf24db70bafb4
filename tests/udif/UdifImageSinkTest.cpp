// The image sink taking a disk straight from a writer: bytes given in odd pieces, skips that end
// inside a sector, a disk of the wrong length and a stopped write.
#include "udif/UdifImageSink.h"

#include "support/FileBytes.h"
#include "support/ShellCommand.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

namespace
{
std::vector<CUdifRegion> MakeRegions()
{
    CUdifRegion first, second;
    first.name = "first : 0";
    first.id = -1;
    first.sectorCount = 3000;
    second.name = "second : 1";
    second.id = 0;
    second.startSector = 3000;
    second.sectorCount = 1000;
    return {first, second};
}
} // namespace

TEST(UdifImageSink, OddPiecesAndSkipsReadBackAsTheDisk)
{
    CTempFolder work;
    std::string disk; // what the image must read back as
    CUdifImageSink image(MakeRegions(), EUdifFormat::Udzo, 6);
    std::string error;
    ASSERT_TRUE(image.Open(work.Join("out.dmg"), &error)) << error;
    auto const give = [&](std::string const& bytes)
    {
        ASSERT_TRUE(image.Write(bytes.data(), bytes.size(), &error)) << error;
        disk += bytes;
    };
    give(std::string(700, 'a'));                    // ends inside a sector
    ASSERT_TRUE(image.Skip(5000, &error)) << error; // its tail, 8 whole sectors and a bit
    disk += std::string(5000, '\0');
    give(std::string(1500000, 'b')); // across a chunk and into the next region
    ASSERT_TRUE(image.WriteZeros(3000 * 512 - disk.size() + 200, &error)) << error;
    disk.resize(3000 * 512 + 200, '\0');
    give(std::string(1000 * 512 - 200, 'c'));
    EXPECT_EQ(image.GetPosition(), disk.size());
    EXPECT_FALSE(image.Write("x", 1, &error)); // the disk is full
    EXPECT_EQ(error, "more bytes were given than the disk's 4000 sectors hold");
    EXPECT_FALSE(image.Finish({}, &error)); // and the image was given up with it
    EXPECT_EQ(ListFolder(work.path), std::vector<std::string>());

    CUdifImageSink again(MakeRegions(), EUdifFormat::Udzo, 6);
    ASSERT_TRUE(again.Open(work.Join("out.dmg"), &error)) << error;
    ASSERT_TRUE(again.Write(disk.data(), 700, &error) && again.Skip(5000, &error) &&
                again.Write(disk.data() + 5700, disk.size() - 5700, &error))
        << error;
    ASSERT_TRUE(again.Finish({}, &error)) << error;
    EXPECT_EQ(ListFolder(work.path), std::vector<std::string>{"out.dmg"});

    std::string output;
    if (RunCapturing("7zz i", &output) != 0)
        GTEST_SKIP() << "7zz missing: the image was not read back";
    ASSERT_EQ(RunCapturing("7zz x -tdmg -y -o" + QuoteForShell(work.Join("x")) + " " +
                               QuoteForShell(work.Join("out.dmg")),
                           &output),
              0)
        << output;
    std::vector<std::string> const regions = ListFolder(work.Join("x"));
    ASSERT_EQ(regions.size(), 2u) << output;
    EXPECT_TRUE(ReadWholeFile(work.Join("x/" + regions[0])) + ReadWholeFile(work.Join("x/" + regions[1])) ==
                disk);
}

TEST(UdifImageSink, ShortDiskOrStoppedWriteLeavesNothing)
{
    CTempFolder work;
    std::string error;
    {
        CUdifImageSink image(MakeRegions(), EUdifFormat::Udbz, 0);
        ASSERT_TRUE(image.Open(work.Join("short.dmg"), &error)) << error;
        ASSERT_TRUE(image.WriteZeros(4000 * 512 - 1, &error)) << error;
        EXPECT_FALSE(image.Finish({}, &error));
        EXPECT_EQ(error, "the disk ended after 2047999 of its 2048000 bytes");
    }
    {
        CUdifImageSink image(MakeRegions(), EUdifFormat::Ulmo, 0,
                             [](uint64_t done, uint64_t) { return done < 2048; });
        ASSERT_TRUE(image.Open(work.Join("stopped.dmg"), &error)) << error;
        std::string const bytes(4000 * 512, 'd');
        bool const written = image.Write(bytes.data(), bytes.size(), &error) && image.Finish({}, &error);
        EXPECT_FALSE(written);
        EXPECT_EQ(error, "interrupted");
    }
    EXPECT_EQ(ListFolder(work.path), std::vector<std::string>());
}
