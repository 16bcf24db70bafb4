// The file calls with a Linux form and a portable one: both builds must behave the same here.
#include "io/PortableFile.h"

#include "support/FileBytes.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

TEST(PortableFile, RenameWithoutReplacingMovesOnlyOntoFreeNames)
{
    CTempFolder directory;
    std::string const from = directory.WriteFile("new", "fresh");
    std::string const taken = directory.WriteFile("taken", "kept");

    EXPECT_EQ(RenameWithoutReplacing(from, taken), EEXIST);
    EXPECT_EQ(ReadWholeFile(taken), "kept");
    EXPECT_EQ(ReadWholeFile(from), "fresh");

    // A dangling symbolic link is something at the name too.
    std::string const dangling = directory.Join("dangling");
    ASSERT_EQ(symlink("nowhere", dangling.c_str()), 0);
    EXPECT_EQ(RenameWithoutReplacing(from, dangling), EEXIST);

    std::string const target = directory.Join("target");
    EXPECT_EQ(RenameWithoutReplacing(from, target), 0);
    EXPECT_EQ(ReadWholeFile(target), "fresh");
    EXPECT_FALSE(std::filesystem::exists(from));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(directory.path), {}), 3);

    EXPECT_EQ(RenameWithoutReplacing(directory.Join("missing"), directory.Join("x")),
              ENOENT);
}

TEST(PortableFile, PunchFileHoleLeavesZerosOrSaysItCant)
{
    CTempFolder directory;
    uint64_t const mib = 1 << 20;
    std::string const path = directory.WriteFile("disk", std::string(4 * mib, 'x'));
    int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    // Far from the end: a hole where the system punches one, else refused and the bytes untouched.
    int early = PunchFileHole(fd, 4096, 4096);
    // Near the end, with bytes after the range: a hole everywhere, the bytes after it kept.
    int late = PunchFileHole(fd, 2 * mib, mib + 512 * 1024);
    struct stat info;
    ASSERT_EQ(fstat(fd, &info), 0);
    close(fd);
    ASSERT_TRUE(early == 0 || early == EOPNOTSUPP) << early;
    ASSERT_EQ(late, 0);

    std::string expected(4 * mib, 'x');
    if (early == 0)
        expected.replace(4096, 4096, 4096, '\0');
    expected.replace(2 * mib, mib + 512 * 1024, mib + 512 * 1024, '\0');
    EXPECT_TRUE(ReadWholeFile(path) == expected);
    EXPECT_LE(uint64_t(info.st_blocks) * 512, 2 * mib + 512 * 1024 + 64 * 1024);
}

TEST(PortableFile, GetModificationTimeGivesTheSecondsSet)
{
    CTempFolder directory;
    std::string const path = directory.WriteFile("dated", "");
    struct timespec const times[2] = {{1000000000, 0}, {1234567890, 999999999}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(GetModificationTime(info), 1234567890);
}
