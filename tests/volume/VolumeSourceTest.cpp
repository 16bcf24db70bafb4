// Reading copied files back while a volume is written: the path comes from the copied folder, the
// source must still be what was listed, and reading it leaves its access time alone.
#include "support/TempFolder.h"
#include "volume/HostTree.h"
#include "volume/VolumeSource.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
struct timespec AccessTime(std::string const& path)
{
    struct stat status
    {
    };
    EXPECT_EQ(stat(path.c_str(), &status), 0);
    return status.st_atim;
}
} // namespace

TEST(VolumeSource, ReadsTheListedFileWithoutTouchingItsAccessTimeAndRefusesOneThatChanged)
{
    CTempFolder folder;
    std::string const inner = folder.WriteFile("App/Contents/Resources/strings.txt", "hello");
    folder.WriteFile("App/other.txt", "x");
    // An access time older than the modification time is one that a read updates even under relatime.
    struct timespec const times[2] = {{1000000000, 0}, {1500000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, inner.c_str(), times, 0), 0);

    CVolumeTree tree;
    size_t app = CVolumeTree::kNone;
    std::string error;
    ASSERT_TRUE(AddHostItem(&tree, CVolumeTree::kRoot, "Renamed.app", folder.Join("App"), &app, &error)) << error;
    size_t const file = tree.FindPath("Renamed.app/Contents/Resources/strings.txt");
    ASSERT_NE(file, CVolumeTree::kNone);

    CFileDescriptor source;
    std::string path;
    ASSERT_TRUE(OpenVolumeSource(tree, file, &source, &path, &error)) << error;
    EXPECT_EQ(path, inner); // the host name of the copied folder, not the volume's
    char bytes[8] = {};
    ASSERT_EQ(read(source.Get(), bytes, sizeof bytes), 5);
    EXPECT_EQ(std::string(bytes, 5), "hello");
    source.Reset();
#if defined(__linux__)
    EXPECT_EQ(AccessTime(inner).tv_sec, 1000000000);
#endif

    // Grown since it was listed, or swapped for a link: either way not the file that was planned.
    folder.WriteFile("App/Contents/Resources/strings.txt", "hello, world");
    EXPECT_FALSE(OpenVolumeSource(tree, file, &source, &path, &error));
    EXPECT_EQ(error, inner + " changed while the volume was being written");
    ASSERT_EQ(unlink(inner.c_str()), 0);
    ASSERT_EQ(symlink(folder.Join("App/other.txt").c_str(), inner.c_str()), 0);
    EXPECT_FALSE(OpenVolumeSource(tree, file, &source, &path, &error));
    EXPECT_EQ(error, inner + " changed while the volume was being written");
    ASSERT_EQ(unlink(inner.c_str()), 0);
    EXPECT_FALSE(OpenVolumeSource(tree, file, &source, &path, &error));
    EXPECT_EQ(error, "cannot read " + inner + ": No such file or directory");
}
