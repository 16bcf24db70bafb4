// Volumes planned from a volume tree and streamed: what the tree holds (made bytes, detached items,
// modes) reaches the volume, and a source that changed after it was listed stops the stream.
#include "HfsTestSupport.h"

#include "volume/HostTree.h"

#include <sys/time.h>

#include <functional>
#include <memory>

namespace
{
CVolumeItem MakeItem(EVolumeItemKind kind, std::string const& name, uint16_t mode)
{
    CVolumeItem item;
    item.kind = kind;
    item.name = name;
    item.mode = mode;
    item.modifiedTime = 1700000000;
    return item;
}

bool StreamToFile(CHfsVolumePlan const& plan, std::string const& path, std::string* error)
{
    int const fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    CFileDiskSink sink(fd, 0);
    bool const ok = ftruncate(fd, off_t(plan.sizeBytes)) == 0 && StreamHfsVolume(plan, sink, error);
    EXPECT_TRUE(!ok || sink.GetPosition() == plan.sizeBytes);
    close(fd);
    return ok;
}
} // namespace

TEST(HfsVolumeStream, TreeItemsReachTheVolumeAsTheTreeHoldsThem)
{
    CTempFolder work;
    CVolumeTree tree;
    size_t const folder = tree.Add(CVolumeTree::kRoot, MakeItem(EVolumeItemKind::Folder, "Locked", 0555));
    CVolumeItem made = MakeItem(EVolumeItemKind::File, ".DS_Store", 0644);
    std::string const text = "made in memory";
    made.data.bytes = std::make_shared<std::vector<uint8_t> const>(text.begin(), text.end());
    made.size = text.size();
    tree.Add(folder, made);
    CVolumeItem link = MakeItem(EVolumeItemKind::Symlink, "Applications", 0755);
    link.linkTarget = "/Applications";
    link.size = link.linkTarget.size();
    tree.Add(CVolumeTree::kRoot, link);
    tree.Detach(tree.Add(CVolumeTree::kRoot, MakeItem(EVolumeItemKind::Folder, "Dropped", 0755)));

    CHfsVolumeSettings settings = MakeSettings("Tree", 4 << 20);
    settings.finderFlags = {{"Locked", 0x4000}}; // the tree's flags count, not these
    tree.Get(tree.FindPath("Applications")).finderFlags = 0x0010;
    CHfsVolumePlan plan;
    std::string error;
    ASSERT_TRUE(PlanHfsVolume(tree, settings, &plan, &error)) << error;
    ShrinkHfsVolumePlan(&plan);
    EXPECT_EQ(plan.sizeBytes, GetMinimumHfsVolumeSize()); // so little shrinks to the least there is
    std::string const volume = work.Join("tree.hfs");
    ASSERT_TRUE(StreamToFile(plan, volume, &error)) << error;
    ExpectHfsVolumeSound(volume);

    CFileDescriptor fd(open(volume.c_str(), O_RDONLY | O_CLOEXEC));
    uint16_t flags = 1;
    ASSERT_TRUE(ReadHfsFinderFlags(fd.Get(), 0, "Locked", &flags, &error)) << error;
    EXPECT_EQ(flags, 0);
    ASSERT_TRUE(ReadHfsFinderFlags(fd.Get(), 0, "Applications", &flags, &error)) << error;
    EXPECT_EQ(flags, 0x0010);
    EXPECT_FALSE(ReadHfsFinderFlags(fd.Get(), 0, "Dropped", &flags, &error));

    std::string output;
    if (RunCapturing("7zz i", &output) != 0)
        GTEST_SKIP() << "7zz missing: the volume's files were not read back";
    ASSERT_EQ(RunCapturing("7zz x -y -o" + QuoteForShell(work.Join("x")) + " " + QuoteForShell(volume), &output), 0)
        << output;
    EXPECT_EQ(ReadWholeFile(work.Join("x/Tree/Locked/.DS_Store")), text);
    ASSERT_EQ(RunCapturing("7zz l -slt " + QuoteForShell(volume), &output), 0) << output;
    EXPECT_NE(output.find("Path = Tree/Locked\nFolder = +\n"), std::string::npos) << output;
    EXPECT_NE(output.find("Mode = dr-xr-xr-x\n"), std::string::npos) << output;
    EXPECT_FALSE(std::filesystem::exists(work.Join("x/Tree/Dropped")));
}

TEST(HfsVolumeStream, SourceChangedSinceItWasListedStopsTheStream)
{
    CTempFolder work;
    std::string const source = work.Join("payload");
    std::string const file = work.WriteFile("payload/App", std::string(10000, 'a'));
    auto const plan = [&](CHfsVolumePlan* out)
    {
        CVolumeTree tree;
        std::string error;
        ASSERT_TRUE(ReadHostTree(source, &tree, &error)) << error;
        ASSERT_TRUE(PlanHfsVolume(tree, MakeSettings("Changed", 1 << 20), out, &error)) << error;
    };
    struct
    {
        char const* what;
        std::function<void()> change;
    } const changes[] = {
        {"grown", [&] { WriteWholeFile(file, std::string(10001, 'a')); }},
        {"touched", [&] {
             struct timeval times[2] = {{1000, 0}, {1000, 0}};
             utimes(file.c_str(), times);
         }},
        {"replaced by a link", [&] {
             unlink(file.c_str());
             symlink("/etc/passwd", file.c_str());
         }},
    };
    for (auto const& change : changes)
    {
        unlink(file.c_str());
        WriteWholeFile(file, std::string(10000, 'a'));
        CHfsVolumePlan listed;
        plan(&listed);
        change.change();
        std::string error;
        EXPECT_FALSE(StreamToFile(listed, work.Join("v.hfs"), &error)) << change.what;
        EXPECT_EQ(error, file + " changed while the volume was being written") << change.what;
    }
}
