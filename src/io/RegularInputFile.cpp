// Opening and reading regular input files, bounded.
#include "io/RegularInputFile.h"

#include "io/FullTransfer.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>

namespace
{
EInputFile Check(struct stat const& status, uint64_t maxBytes, std::string* reason)
{
    if (!S_ISREG(status.st_mode))
    {
        *reason = S_ISDIR(status.st_mode) ? "a folder, not a regular file" : "not a regular file";
        return EInputFile::Unreadable;
    }
    if (status.st_size < 0 || uint64_t(status.st_size) > maxBytes)
    {
        *reason = "larger than " + DescribeByteLimit(maxBytes);
        return EInputFile::TooLarge;
    }
    return EInputFile::Opened;
}
} // namespace

std::string DescribeByteLimit(uint64_t bytes)
{
    if (bytes >= (1u << 20) && bytes % (1u << 20) == 0)
        return std::to_string(bytes >> 20) + " MB";
    return std::to_string(bytes) + " bytes";
}

EInputFile OpenRegularInputFile(std::string const& path, uint64_t maxBytes, CFileDescriptor* fd,
                                uint64_t* size, std::string* reason, ELastLink lastLink)
{
    bool const follow = lastLink == ELastLink::Follow;
    struct stat status;
    if ((follow ? stat(path.c_str(), &status) : lstat(path.c_str(), &status)) != 0)
    {
        *reason = std::strerror(errno);
        return EInputFile::Unreadable;
    }
    if (EInputFile const checked = Check(status, maxBytes, reason); checked != EInputFile::Opened)
        return checked;
    // O_NONBLOCK: a name swapped for a FIFO after the stat still doesn't hang the open.
    CFileDescriptor opened(
        open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | (follow ? 0 : O_NOFOLLOW)));
    if (!opened.IsOpen())
    {
        *reason = std::strerror(errno);
        return EInputFile::Unreadable;
    }
    if (fstat(opened.Get(), &status) != 0)
    {
        *reason = std::strerror(errno);
        return EInputFile::Unreadable;
    }
    if (EInputFile const checked = Check(status, maxBytes, reason); checked != EInputFile::Opened)
        return checked;
    *size = uint64_t(status.st_size);
    *fd = std::move(opened);
    return EInputFile::Opened;
}

EInputFile ReadRegularInputFile(std::string const& path, uint64_t maxBytes, std::vector<uint8_t>* bytes,
                                std::string* reason, ELastLink lastLink)
{
    CFileDescriptor fd;
    uint64_t size = 0;
    EInputFile const opened = OpenRegularInputFile(path, maxBytes, &fd, &size, reason, lastLink);
    if (opened != EInputFile::Opened)
        return opened;
    try
    {
        bytes->resize(size_t(size));
    }
    catch (std::bad_alloc const&)
    {
        *reason = std::strerror(ENOMEM);
        return EInputFile::Unreadable;
    }
    // A file that shrank meanwhile reads short: refused like any read error.
    if (!ReadFully(fd.Get(), bytes->data(), bytes->size()))
    {
        *reason = errno ? std::strerror(errno) : "the file ended early";
        return EInputFile::Unreadable;
    }
    return EInputFile::Opened;
}
