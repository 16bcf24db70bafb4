// The APFS writer checked end to end by independent readers: apfsprogs' apfsck, libfsapfs's
// fsapfsinfo and 7-Zip read back every folder, file byte, mode and link of a written container.
#include "apfs/ApfsContainer.h"
#include "apfs/ApfsNames.h"
#include "hfsplus/HfsNames.h"
#include "io/FileDescriptor.h"
#include "support/FileBytes.h"
#include "support/ShellCommand.h"
#include "support/TempFolder.h"
#include "volume/HostTree.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <sstream>

namespace
{
bool HasTool(char const* name)
{
    return RunShell(std::string("command -v ") + name + " >/dev/null 2>&1") == 0;
}

// A volume path with each name decomposed as the volume stores it.
std::string DecomposePath(std::string const& path)
{
    std::string result, name;
    std::istringstream parts(path);
    while (std::getline(parts, name, '/'))
        result += (result.empty() ? "" : "/") + ConvertNameToDecomposedUtf8(name);
    return result;
}

bool WriteContainer(CApfsPlan const& plan, std::string const& path, std::string* error)
{
    int const fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    CFileDiskSink sink(fd, 0);
    bool ok = StreamApfsContainer(plan, &sink, error) && ftruncate(fd, off_t(sink.GetPosition())) == 0;
    close(fd);
    return ok;
}

std::string Md5Of(std::string const& path)
{
    std::string out;
    RunCapturing("md5sum " + QuoteForShell(path), &out);
    return out.substr(0, 32);
}

// A payload with what a disk image holds: an application bundle with an executable, documents,
// an empty file, a composed name, a link, a hidden picture folder, and enough files in one
// folder for trees of more than one level.
struct CPayload
{
    CTempFolder folder;
    CVolumeTree tree;
    std::map<std::string, std::string> files; // volume path -> source path
    CPayload()
    {
        folder.WriteFile("src/Example.app/Contents/MacOS/Example", "#!/bin/sh\necho hi\n");
        chmod(folder.Join("src/Example.app/Contents/MacOS/Example").c_str(), 0755);
        std::string big;
        for (int i = 0; i < 300000; ++i)
            big.push_back(char('a' + (i * 31) % 26));
        folder.WriteFile("src/Example.app/Contents/Resources/big.bin", big);
        folder.WriteFile("src/Read Me.txt", "Read me.\n");
        folder.WriteFile("src/empty", "");
        folder.WriteFile("src/Caf\xc3\xa9.txt", "composed");
        // Names whose folding is more than one letter to one: sharp s, a ligature, final sigma, a
        // title-case digraph, a precomposed Hangul syllable; the checker recomputes their hashes.
        for (char const* name : {"Stra\xc3\x9f" "e", "\xef\xac\x81le", "\xce\xa3\xce\xbf\xcf\x82", "\xc7\x85", "\xed\x95\x9c"})
            folder.WriteFile(std::string("src/names/") + name, name);
        for (int i = 0; i < 1500; ++i)
            folder.WriteFile("src/many/file-" + std::to_string(i) + ".txt", "file " + std::to_string(i) + "\n");
        symlink("/Applications", folder.Join("src/Applications").c_str());
        symlink("Example.app/Contents/Resources", folder.Join("src/Resources").c_str());
        std::string error;
        EXPECT_TRUE(ReadHostTree(folder.Join("src"), &tree, &error, "an APFS volume")) << error;
        CVolumeItem store;
        store.kind = EVolumeItemKind::File;
        store.name = ".DS_Store";
        store.mode = 0644;
        store.data.bytes = std::make_shared<std::vector<uint8_t>>(std::vector<uint8_t>{0, 0, 0, 1, 'B', 'u', 'd', '1'});
        store.size = 8;
        tree.Add(CVolumeTree::kRoot, store);
        tree.Get(CVolumeTree::kRoot).finderFlags = 0x0400;
        tree.Get(tree.FindPath("Read Me.txt")).finderFlags = 0x4010;
        for (size_t i = 0; i < tree.GetCount(); ++i)
            if (tree.Get(i).kind == EVolumeItemKind::File && !tree.Get(i).data.bytes)
                files[tree.GetPath(i)] = tree.GetSourcePath(i);
    }
};
} // namespace

TEST(ApfsContainer, IsReadBackWholeByApfsckFsapfsinfoAnd7Zip)
{
    CPayload payload;
    CApfsSettings settings;
    settings.volumeName = "Example";
    settings.createTime = 1700000000ll * 1000000000ll;
    settings.identitySeed = "Example";
    CApfsPlan plan;
    std::string error;
    ASSERT_TRUE(PlanApfsContainer(payload.tree, settings, &plan, &error)) << error;
    std::string const image = payload.folder.Join("container.apfs");
    ASSERT_TRUE(WriteContainer(plan, image, &error)) << error;
    EXPECT_EQ(uint64_t(std::filesystem::file_size(image)), plan.blockCount * kApfsBlockSize);
    EXPECT_EQ(plan.blockCount, 32768u) << "an automatic size takes the smallest container: 128 MiB";

    if (!HasTool("apfsck"))
        GTEST_SKIP() << "apfsck (apfsprogs) is not installed";
    std::string out;
    EXPECT_EQ(RunCapturing("apfsck -cuw " + QuoteForShell(image), &out), 0) << out;
    EXPECT_EQ(out, "");

    if (!HasTool("fsapfsinfo"))
        GTEST_SKIP() << "fsapfsinfo (libfsapfs-utils) is not installed";
    std::string const body = payload.folder.Join("body.txt");
    ASSERT_EQ(RunCapturing("fsapfsinfo " + QuoteForShell(image), &out), 0) << out;
    EXPECT_NE(out.find("Name\t\t\t\t: Example\n"), std::string::npos) << out;
    ASSERT_EQ(RunCapturing("fsapfsinfo -H -B " + QuoteForShell(body) + " -d " + QuoteForShell(image), &out), 0) << out;
    // Body file lines: MD5|/{volume UUID}/path|inode|mode|...
    std::map<std::string, std::string> listed;
    std::istringstream lines(ReadWholeFile(body));
    for (std::string line; std::getline(lines, line);)
    {
        size_t const bar = line.find('|'), start = line.find("}/"), end = line.find('|', bar + 1);
        if (bar != std::string::npos && start != std::string::npos && end != std::string::npos)
            listed[line.substr(start + 2, end - start - 2)] = line.substr(0, bar);
    }
    for (auto const& file : payload.files)
        EXPECT_EQ(listed[DecomposePath(file.first)], Md5Of(file.second)) << file.first;
    EXPECT_EQ(listed.count("Applications -> /Applications"), 1u);
    EXPECT_EQ(listed.size(), payload.files.size() + 1 + 2 + 6 + 1) << "files, .DS_Store, links, six folders, the root";

    if (!HasTool("7zz"))
        GTEST_SKIP() << "7zz is not installed";
    std::string const extracted = payload.folder.Join("out");
    ASSERT_EQ(RunCapturing("7zz x -y -o" + QuoteForShell(extracted) + " " + QuoteForShell(image), &out), 0) << out;
    for (auto const& file : payload.files)
    {
        std::string const copy = extracted + "/" + DecomposePath(file.first);
        EXPECT_EQ(ReadWholeFile(copy), ReadWholeFile(file.second)) << file.first;
        struct stat a{}, b{};
        ASSERT_EQ(lstat(copy.c_str(), &a), 0) << file.first;
        ASSERT_EQ(lstat(file.second.c_str(), &b), 0);
        EXPECT_EQ(a.st_mode & 0777, b.st_mode & 0777) << file.first;
    }
    // 7-Zip rewrites absolute link targets into its output folder, so a relative link is compared.
    char target[64] = {};
    ASSERT_GT(readlink((extracted + "/Resources").c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "Example.app/Contents/Resources");
    // The Finder info travels as an extended attribute, which 7-Zip extracts beside the file.
    std::string const info = ReadWholeFile(extracted + "/Read Me.txt:com.apple.FinderInfo");
    ASSERT_EQ(info.size(), 32u);
    EXPECT_EQ(info.substr(8, 2), std::string("\x40\x10", 2)) << "flags word, big-endian";
}

TEST(ApfsContainer, GivesTheSameBytesForTheSameTreeKeepsPromisedInodesAndShrinksToItsContent)
{
    CPayload payload;
    CApfsSettings settings;
    settings.volumeName = "Example";
    settings.createTime = 1700000000ll * 1000000000ll;
    settings.fixedDates = true;
    settings.identitySeed = "Example 1024";
    settings.sizeBytes = 1024ull << 20;
    settings.fixedInodes = {{"Read Me.txt", 40}, {"gone.png", 17}};
    std::string error;
    CApfsPlan first, second;
    ASSERT_TRUE(PlanApfsContainer(payload.tree, settings, &first, &error)) << error;
    ASSERT_TRUE(PlanApfsContainer(payload.tree, settings, &second, &error)) << error;
    std::string const one = payload.folder.Join("one.apfs"), two = payload.folder.Join("two.apfs");
    ASSERT_TRUE(WriteContainer(first, one, &error)) << error;
    ASSERT_TRUE(WriteContainer(second, two, &error)) << error;
    EXPECT_EQ(RunShell("cmp -s " + QuoteForShell(one) + " " + QuoteForShell(two)), 0);
    EXPECT_EQ(first.inodes[payload.tree.FindPath("Read Me.txt")], 40u);
    for (uint64_t inode : first.inodes)
        EXPECT_NE(inode, 17u) << "a promised number stays reserved";

    // Shrunk as an automatic size does: planned again at the fewest blocks, the same inodes kept.
    CApfsSettings smallest = settings;
    smallest.sizeBytes = 0;
    CApfsPlan shrunk;
    ASSERT_TRUE(PlanApfsContainer(payload.tree, smallest, &shrunk, &error)) << error;
    EXPECT_EQ(shrunk.blockCount * kApfsBlockSize, GetMinimumApfsContainerSize());
    EXPECT_EQ(shrunk.inodes, first.inodes);
    ASSERT_TRUE(WriteContainer(shrunk, one, &error)) << error;
    EXPECT_EQ(std::filesystem::file_size(one), GetMinimumApfsContainerSize());

    if (!HasTool("apfsck") || !HasTool("fsapfsinfo"))
        GTEST_SKIP() << "apfsck (apfsprogs) or fsapfsinfo (libfsapfs-utils) is not installed";
    std::string out;
    EXPECT_EQ(RunCapturing("apfsck -cuw " + QuoteForShell(one), &out), 0) << out;
    std::string const body = payload.folder.Join("body.txt");
    ASSERT_EQ(RunCapturing("fsapfsinfo -H -B " + QuoteForShell(body) + " -d " + QuoteForShell(one), &out), 0) << out;
    std::string const listing = ReadWholeFile(body);
    EXPECT_NE(listing.find(Md5Of(payload.files["Read Me.txt"]) + "|"), std::string::npos);
    EXPECT_NE(listing.find("}/Read Me.txt|40|-rw-r--r--|99|99|9|1700000000.000000000|"), std::string::npos) << listing.substr(0, 2000);
}

TEST(ApfsContainer, RefusesNamesTheVolumeCantTellApartAndAPayloadTooBigForItsSize)
{
    for (auto const& names : std::vector<std::pair<std::string, std::string>>{
             {"Read Me", "READ ME"}, {"Caf\xc3\xa9", "Cafe\xcc\x81"}, {"\xc3\x84rger", "a\xcc\x88RGER"}})
    {
        CVolumeTree tree;
        CVolumeItem folder;
        folder.name = names.first;
        folder.mode = 0755;
        tree.Add(CVolumeTree::kRoot, folder);
        folder.name = names.second;
        folder.kind = EVolumeItemKind::Symlink;
        folder.linkTarget = "x";
        tree.Add(CVolumeTree::kRoot, folder);
        CApfsPlan plan;
        std::string error;
        EXPECT_FALSE(PlanApfsContainer(tree, CApfsSettings(), &plan, &error));
        EXPECT_EQ(error, "'" + names.first + "' and '" + names.second + "' have names the APFS volume can't tell apart");
        EXPECT_TRUE(plan.metadata.empty());
    }
    EXPECT_EQ(HashApfsName(FoldApfsName("Read Me")), HashApfsName(FoldApfsName("rEAD mE")));

    CVolumeTree tree;
    CVolumeItem big;
    big.kind = EVolumeItemKind::File;
    big.name = "big";
    big.size = 200ull << 20;
    big.data.sourcePath = "/nonexistent";
    tree.Add(CVolumeTree::kRoot, big);
    CApfsSettings settings;
    settings.sizeBytes = 128ull << 20;
    CApfsPlan plan;
    std::string error;
    EXPECT_FALSE(PlanApfsContainer(tree, settings, &plan, &error));
    EXPECT_EQ(error, "the files need 205 MB of an APFS container of 128 MB: they do not fit");

    // A source that changed after it was listed, or became a link, stops the write.
    CTempFolder folder;
    std::string const source = folder.WriteFile("src/file.txt", "before");
    CVolumeTree listed;
    ASSERT_TRUE(ReadHostTree(folder.Join("src"), &listed, &error)) << error;
    ASSERT_TRUE(PlanApfsContainer(listed, CApfsSettings(), &plan, &error)) << error;
    WriteWholeFile(source, "after!");
    EXPECT_FALSE(WriteContainer(plan, folder.Join("out.apfs"), &error));
    EXPECT_EQ(error, source + " changed while the volume was being written");
    std::filesystem::remove(source);
    ASSERT_EQ(symlink("/etc/passwd", source.c_str()), 0);
    EXPECT_FALSE(WriteContainer(plan, folder.Join("out.apfs"), &error));
    EXPECT_EQ(error, source + " changed while the volume was being written");
}
