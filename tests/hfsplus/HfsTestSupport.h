// Shared helpers of the HFS+ tests: temporary trees and images, and running the outside checkers.
#pragma once

#include "hfsplus/HfsVolume.h"
#include "support/FsckHfs.h"
#include "support/ShellCommand.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

// A directory under $TMPDIR removed with everything in it when the test ends.
class CTempDir
{
public:
    CTempDir()
    {
        char const* base = getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/hfstest.XXXXXX";
        if (mkdtemp(&pattern[0]))
            m_path = pattern;
    }
    ~CTempDir()
    {
        std::error_code ignored;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ignored);
    }
    CTempDir(CTempDir const&) = delete;
    CTempDir& operator=(CTempDir const&) = delete;

    std::string const& GetPath() const { return m_path; }
    std::string Join(std::string const& relative) const { return m_path + "/" + relative; }

private:
    std::string m_path;
};

inline void WriteTextFile(std::string const& path, std::string const& content)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

inline std::string ReadTextFile(std::string const& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline CHfsVolumeSettings MakeSettings(std::string const& name, uint64_t size)
{
    CHfsVolumeSettings settings;
    settings.volumeName = name;
    settings.sizeBytes = size;
    settings.createDate = 3786825600u; // 2024-01-01 00:00:00 in HFS+ time
    return settings;
}

// Writes a volume into the image file at `offset`; on failure returns false and the reason.
inline bool WriteVolumeFile(std::string const& image, uint64_t offset, CHfsVolumeSettings const& settings,
                            std::string const& source, std::string* error)
{
    int fd = open(image.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
    {
        *error = "cannot open " + image;
        return false;
    }
    bool ok = WriteHfsVolume(fd, offset, settings, source, error);
    close(fd);
    // Every volume written here must also satisfy Apple's own checker.
    if (ok)
        ExpectHfsVolumeSound(image, offset, settings.sizeBytes);
    return ok;
}
