// Gathered writes: the file reads exactly as if each write had gone straight to it, and a gap of
// whole blocks between two writes stays a hole.
#include "hfsplus/HfsFileIo.h"

#include "io/FileDescriptor.h"
#include "support/FileBytes.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

TEST(HfsFileIo, GatheredWritesReadAsSeparateOnesAndKeepHoles)
{
    CTempFolder folder;
    std::string const path = folder.Join("image");
    CFileDescriptor fd(open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    ASSERT_TRUE(fd.IsOpen());
    constexpr uint64_t kMiB = 1 << 20;
    ASSERT_EQ(ftruncate(fd.Get(), 8 * kMiB), 0);

    std::string expected(8 * kMiB, '\0');
    auto expect = [&](std::string const& bytes, uint64_t at) { expected.replace(at, bytes.size(), bytes); };
    std::string const big(kMiB + 5, 'B'); // larger than the gathering buffer: written at once
    std::string error;
    {
        CGatheredWriter out(fd.Get(), 4096);
        // One-byte files in consecutive blocks, then one after a gap of whole blocks (the hole).
        for (uint64_t block = 0; block < 300; ++block)
        {
            std::string const one(1, char('a' + block % 26));
            ASSERT_TRUE(out.WriteAt(one.data(), 1, block * 4096, &error)) << error;
            expect(one, block * 4096);
        }
        ASSERT_TRUE(out.WriteAt("late", 4, 3 * kMiB, &error)) << error;
        expect("late", 3 * kMiB);
        ASSERT_TRUE(out.WriteAt(big.data(), big.size(), 4 * kMiB, &error)) << error;
        expect(big, 4 * kMiB);
        ASSERT_TRUE(out.WriteAt("end", 3, 4 * kMiB + big.size() + 10, &error)) << error;
        expect("end", 4 * kMiB + big.size() + 10);
        ASSERT_TRUE(out.Flush(&error)) << error;
    }
    EXPECT_EQ(ReadWholeFile(path), expected);

    // Between the last small file (ending in block 299) and "late" at 3 MiB nothing was written.
    off_t const data = lseek(fd.Get(), 300 * 4096, SEEK_DATA);
    if (data >= 0) // file systems without holes report the next byte
    {
        EXPECT_TRUE(data == 300 * 4096 || data >= off_t(3 * kMiB - 4096)) << data;
    }
}
