// Reading a configuration file whole into memory.
#include "config/XmlAccess.h"

#include "io/FileDescriptor.h"
#include "io/FullTransfer.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// The parser takes at most this many bytes; a larger file is refused before it is read.
constexpr off_t kMaximumFileSize = INT_MAX;

// Only a regular file is a configuration file. The open does not block, so a FIFO without a
// writer is refused at once instead of hanging the run; directories and devices are refused too.
std::unique_ptr<CFileData> ReadRegularFile(char const* path)
{
    CFileDescriptor const descriptor(open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!descriptor.IsOpen())
        return nullptr;
    std::unique_ptr<CFileData> data;
    struct stat status;
    if (fstat(descriptor.Get(), &status) == 0 && S_ISREG(status.st_mode) && status.st_size >= 0 &&
        status.st_size <= kMaximumFileSize)
    {
        try
        {
            data = std::make_unique<CFileData>(static_cast<size_t>(status.st_size));
            if (!ReadFully(descriptor.Get(), data->data(), data->size()))
                data.reset();
        }
        catch (std::bad_alloc const&)
        {
            data.reset();
        }
    }
    return data;
}
} // namespace

std::unique_ptr<CFileData> ReadFileIntoMemory(char const* path)
{
    std::unique_ptr<CFileData> data = path ? ReadRegularFile(path) : nullptr;
    if (!data)
        fprintf(stderr, "Error: Unable to access file '%s'.\n", path ? path : "");
    return data;
}
