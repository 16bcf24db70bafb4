// The atomic output file: the final name only ever holds a complete file, and nothing else is left.
#include "io/TempOutputFile.h"

#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace
{
std::string ReadWhole(std::string const& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

size_t CountEntries(std::filesystem::path const& folder)
{
    return size_t(std::distance(std::filesystem::directory_iterator(folder), {}));
}
} // namespace

TEST(TempOutputFile, FinalNameChangesOnlyOnCommit)
{
    CTempFolder directory;
    std::string const target = directory.WriteFile("out.bin", "old");
    std::string error;
    {
        CTempOutputFile out;
        ASSERT_TRUE(out.Open(target, &error)) << error;
        EXPECT_EQ(out.GetTempPath().rfind(target + ".tmp-", 0), 0u);
        EXPECT_EQ(out.GetTempPath().size(), target.size() + 13);
        ASSERT_TRUE(out.Write("half", 4, &error)) << error;
        EXPECT_EQ(ReadWhole(target), "old");
    } // not committed: discarded
    EXPECT_EQ(ReadWhole(target), "old");
    EXPECT_EQ(CountEntries(directory.path), 1u);

    CTempOutputFile out;
    ASSERT_TRUE(out.Open(target, &error)) << error;
    ASSERT_TRUE(out.Write("new", 3, &error)) << error;
    ASSERT_TRUE(out.Commit(&error)) << error;
    EXPECT_EQ(ReadWhole(target), "new");
    EXPECT_EQ(CountEntries(directory.path), 1u);
}

TEST(TempOutputFile, KeepExistingRefusesATakenNameAndLeavesBothAlone)
{
    CTempFolder directory;
    std::string const taken = directory.WriteFile("taken", "kept");
    std::string const free = directory.Join("free");
    std::string error;
    {
        CTempOutputFile out("image");
        ASSERT_TRUE(out.Open(taken, &error)) << error;
        ASSERT_TRUE(out.Write("fresh", 5, &error)) << error;
        EXPECT_FALSE(out.Commit(&error, CTempOutputFile::ECommit::KeepExisting));
        EXPECT_EQ(out.GetErrorNumber(), EEXIST);
        EXPECT_EQ(error, "cannot rename the finished image to '" + taken + "': File exists");
    }
    EXPECT_EQ(ReadWhole(taken), "kept");
    EXPECT_EQ(CountEntries(directory.path), 1u);

    CTempOutputFile out;
    ASSERT_TRUE(out.Open(free, &error)) << error;
    ASSERT_TRUE(out.Write("fresh", 5, &error)) << error;
    ASSERT_TRUE(out.Commit(&error, CTempOutputFile::ECommit::KeepExisting)) << error;
    EXPECT_EQ(ReadWhole(free), "fresh");
    // Made like any new file: the umask decides its permissions.
    struct stat info;
    ASSERT_EQ(stat(free.c_str(), &info), 0);
    mode_t const mask = umask(0);
    umask(mask);
    EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);
}

TEST(TempOutputFile, OpenInAMissingFolderSaysWhy)
{
    CTempFolder directory;
    std::string error;
    CTempOutputFile out;
    EXPECT_FALSE(out.Open(directory.Join("missing/out.bin"), &error));
    EXPECT_EQ(out.GetErrorNumber(), ENOENT);
    EXPECT_NE(error.find("cannot create '"), std::string::npos) << error;
    EXPECT_EQ(CountEntries(directory.path), 0u);
}
