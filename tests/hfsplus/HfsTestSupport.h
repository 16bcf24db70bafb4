// Shared helpers of the HFS+ tests: temporary trees and images, and running the outside checkers.
#pragma once

#include "hfsplus/HfsVolume.h"
#include "support/FileBytes.h"
#include "support/FsckHfs.h"
#include "support/ShellCommand.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

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
