// One retry loop for whole reads and writes, sequential and positioned.
#include "io/FullTransfer.h"

#include "io/RegularInputFile.h"

#include "io/FileDescriptor.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace
{
// `call(data, count, offset)` moves up to `count` bytes; the loop goes on until all moved.
template <typename Byte, typename Call>
bool TransferFully(Byte* data, size_t size, uint64_t offset, Call call)
{
    while (size > 0)
    {
        ssize_t const n = call(data, size, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
        {
            if (n == 0)
                errno = 0;
            return false;
        }
        data += n;
        size -= size_t(n);
        offset += uint64_t(n);
    }
    return true;
}
} // namespace

bool ReadFully(int fd, void* data, size_t size)
{
    return TransferFully(static_cast<uint8_t*>(data), size, 0,
                         [fd](uint8_t* p, size_t n, uint64_t) { return read(fd, p, n); });
}

bool WriteFully(int fd, void const* data, size_t size)
{
    return TransferFully(static_cast<uint8_t const*>(data), size, 0,
                         [fd](uint8_t const* p, size_t n, uint64_t) { return write(fd, p, n); });
}

bool ReadFullyAt(int fd, void* data, size_t size, uint64_t offset)
{
    return TransferFully(static_cast<uint8_t*>(data), size, offset,
                         [fd](uint8_t* p, size_t n, uint64_t at) { return pread(fd, p, n, off_t(at)); });
}

bool WriteFullyAt(int fd, void const* data, size_t size, uint64_t offset)
{
    return TransferFully(static_cast<uint8_t const*>(data), size, offset,
                         [fd](uint8_t const* p, size_t n, uint64_t at) { return pwrite(fd, p, n, off_t(at)); });
}

bool ReadRegularFileWhole(std::string const& path, uint64_t maxBytes, std::vector<uint8_t>* bytes,
                          std::string* error)
{
    CFileDescriptor const file(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat status;
    if (!file.IsOpen() || fstat(file.Get(), &status) != 0)
    {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(status.st_mode))
    {
        *error = path + ": not a regular file";
        return false;
    }
    if (uint64_t(status.st_size) > maxBytes)
    {
        *error = path + ": larger than " + std::to_string(maxBytes >> 20) + " MB";
        return false;
    }
    bytes->resize(static_cast<size_t>(status.st_size));
    if (!ReadFully(file.Get(), bytes->data(), bytes->size()))
    {
        *error = path + ": " + (errno ? std::strerror(errno) : "the file became shorter");
        return false;
    }
    return true;
}
