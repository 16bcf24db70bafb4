// Opening a file kilnpack reads or copies itself (a configuration file, the volume icon, a licence
// text, a picture): only a regular file, and only up to a size the caller names. Anything else
// (a folder, FIFO, device or socket, or a link to one) is refused without waiting on it.
#pragma once

#include "io/FileDescriptor.h"

#include <cstdint>
#include <string>
#include <vector>

// The largest picture or icon file kilnpack reads (.icns, PNG).
constexpr uint64_t kMaxPictureFileBytes = uint64_t(64) << 20;

enum class EInputFile
{
    Opened,
    Unreadable, // missing, not allowed, or not a regular file: the reason says which
    TooLarge,   // a regular file above the limit
};

// Whether a symbolic link as the path's last component is followed (an input the user named) or
// refused (an item of a volume, whose link may lead out of it).
enum class ELastLink
{
    Follow,
    Refuse,
};

// The name is looked at with stat before it is opened (a FIFO or device is never opened), opened
// without blocking and looked at again with fstat, in case it changed meanwhile. On anything but
// Opened, `reason` says why in words that follow the path ("No such file or directory", "not a
// regular file", "larger than 64 MB").
EInputFile OpenRegularInputFile(std::string const& path, uint64_t maxBytes, CFileDescriptor* fd,
                                uint64_t* size, std::string* reason, ELastLink lastLink = ELastLink::Follow);

// The whole file, through OpenRegularInputFile.
EInputFile ReadRegularInputFile(std::string const& path, uint64_t maxBytes, std::vector<uint8_t>* bytes,
                                std::string* reason, ELastLink lastLink = ELastLink::Follow);

// "64 MB", "4 MB": how a limit is named in messages.
std::string DescribeByteLimit(uint64_t bytes);
