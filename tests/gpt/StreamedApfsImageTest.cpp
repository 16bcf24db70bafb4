// An APFS container planned from a volume tree and streamed through the GUID partition map into an
// image sink, as the builtin engine's convert does without a raw disk: 7-Zip finds the Apple_APFS
// partition in the image and apfsck accepts the container it holds.
#include "apfs/ApfsContainer.h"
#include "gpt/GuidPartitionMap.h"
#include "udif/UdifImageSink.h"
#include "volume/HostTree.h"

#include "support/FileBytes.h"
#include "support/ShellCommand.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>

TEST(StreamedApfsImage, IsAnApfsPartitionThatSevenZipAndApfsckRead)
{
    CTempFolder work;
    WriteWholeFile(work.path + "/payload/Read Me.txt", "Read me first.\n");
    WriteWholeFile(work.path + "/payload/App.app/Contents/MacOS/App", std::string(300000, 'k'));
    CVolumeTree tree;
    std::string error;
    ASSERT_TRUE(ReadHostTree(work.path + "/payload", &tree, &error, "an APFS volume")) << error;
    CApfsSettings settings;
    settings.volumeName = "Streamed";
    settings.identitySeed = "Streamed";
    CApfsPlan plan;
    ASSERT_TRUE(PlanApfsContainer(tree, settings, &plan, &error)) << error;

    CPartitionLayout const layout = ComputePartitionLayout(plan.blockCount * kApfsBlockSize / kSectorBytes + 80);
    std::string const dmg = work.path + "/Streamed.dmg";
    CUdifImageSink image(ListPartitionRegions(layout, GetAppleApfsPartitionType()), EUdifFormat::Udzo, 9);
    ASSERT_TRUE(image.Open(dmg, &error)) << error;
    CPartitionStreamer const container = [&](CDiskSink& sink, std::string* why) {
        return StreamApfsContainer(plan, &sink, why);
    };
    ASSERT_TRUE(StreamGptDisk(layout, container, image, &error, "Streamed", GetAppleApfsPartitionType())) << error;
    ASSERT_TRUE(image.Finish({}, &error)) << error;

    if (RunShell("command -v 7zz >/dev/null") != 0)
        GTEST_SKIP() << "7zz is not installed";
    std::string out;
    ASSERT_EQ(RunCapturing("7zz x -tdmg -y -o" + QuoteForShell(work.path + "/parts") + " " + QuoteForShell(dmg), &out), 0)
        << out;
    std::string const partition = work.path + "/parts/4.apfs";
    ASSERT_TRUE(std::filesystem::exists(partition)) << out;
    ASSERT_EQ(RunCapturing("7zz x -y -o" + QuoteForShell(work.path + "/files") + " " + QuoteForShell(partition), &out), 0)
        << out;
    EXPECT_EQ(ReadWholeFile(work.path + "/files/App.app/Contents/MacOS/App"), std::string(300000, 'k'));
    if (RunShell("command -v apfsck >/dev/null") != 0)
        GTEST_SKIP() << "apfsck (apfsprogs) is not installed";
    EXPECT_EQ(RunCapturing("apfsck -cuw " + QuoteForShell(partition), &out), 0) << out;
}
