// One retry loop for whole reads and writes, sequential and positioned.
#include "io/FullTransfer.h"

#include <cerrno>
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
