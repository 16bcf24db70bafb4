// Runs Apple's HFS+ checker (fsck_hfs, built by scripts/test.sh and named by KILNPACK_FSCK_HFS) on
// volumes the tests write. Where the checker isn't available the check is skipped with a message.
#pragma once

#include "support/ShellCommand.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace fsck_hfs_detail
{
inline uint64_t ReadLittle64(unsigned char const* p)
{
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = value << 8 | p[i];
    return value;
}
} // namespace fsck_hfs_detail

// The checker's path, or empty text (after saying why once) when the tests run without it.
inline std::string FsckHfsPath()
{
    char const* path = std::getenv("KILNPACK_FSCK_HFS");
    if (path && *path && access(path, X_OK) == 0)
        return path;
    static bool said = false;
    if (!said)
        std::fprintf(stderr, "note: fsck_hfs not available (set KILNPACK_FSCK_HFS); its check is skipped\n");
    said = true;
    return "";
}

// Checks the bare HFS+ volume that lies at `offset` for `length` bytes in `file` (length 0: the rest).
inline void ExpectHfsVolumeSound(std::string const& file, uint64_t offset = 0, uint64_t length = 0)
{
    std::string fsck = FsckHfsPath();
    if (fsck.empty())
        return;
    namespace fs = std::filesystem;
    std::string volume = file;
    std::string copy;
    if (offset != 0 || length != 0)
    {
        copy = (fs::temp_directory_path() / ("kiln-fsck-" + std::to_string(getpid()) + ".hfs")).string();
        std::ifstream in(file, std::ios::binary);
        std::ofstream out(copy, std::ios::binary | std::ios::trunc);
        in.seekg(static_cast<std::streamoff>(offset));
        std::vector<char> buffer(1 << 20);
        uint64_t left = length ? length : UINT64_MAX;
        while (left > 0 && in)
        {
            in.read(buffer.data(), static_cast<std::streamsize>(std::min<uint64_t>(left, buffer.size())));
            out.write(buffer.data(), in.gcount());
            left -= static_cast<uint64_t>(in.gcount());
        }
        volume = copy;
    }
    std::string output;
    int const status = RunCapturing(QuoteForShell(fsck) + " -fn " + QuoteForShell(volume), &output);
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("appears to be OK"), std::string::npos) << output;
    if (!copy.empty())
        std::remove(copy.c_str());
}

// Checks the HFS+ partition of a raw GPT disk (the first partition entry).
inline void ExpectDiskVolumeSound(std::string const& rawDisk)
{
    std::ifstream in(rawDisk, std::ios::binary);
    std::vector<unsigned char> entry(128);
    in.seekg(2 * 512); // the partition entries follow the GPT header at LBA 1
    in.read(reinterpret_cast<char*>(entry.data()), static_cast<std::streamsize>(entry.size()));
    ASSERT_TRUE(in) << "no partition entry in " << rawDisk;
    uint64_t first = fsck_hfs_detail::ReadLittle64(&entry[32]);
    uint64_t last = fsck_hfs_detail::ReadLittle64(&entry[40]);
    ASSERT_LE(first, last);
    ExpectHfsVolumeSound(rawDisk, first * 512, (last - first + 1) * 512);
}

// Checks the HFS+ volume inside a .dmg, expanded with dmg2img.
inline void ExpectDmgVolumeSound(std::string const& dmg)
{
    if (FsckHfsPath().empty())
        return;
    std::string raw = (std::filesystem::temp_directory_path() /
                       ("kiln-fsck-" + std::to_string(getpid()) + ".raw")).string();
    std::string output;
    int const status = RunCapturing("dmg2img -i " + QuoteForShell(dmg) + " -o " + QuoteForShell(raw), &output);
    ASSERT_EQ(status, 0) << output;
    ExpectDiskVolumeSound(raw);
    std::remove(raw.c_str());
}
