// Closing an owned file descriptor.
#include "io/FileDescriptor.h"

#include <cerrno>
#include <unistd.h>

void CFileDescriptor::Reset(int fd)
{
    if (m_fd >= 0 && m_fd != fd)
        close(m_fd);
    m_fd = fd;
}

int CFileDescriptor::Close()
{
    int const fd = Release();
    if (fd < 0)
        return 0;
    // After an interrupted close the descriptor is gone all the same on Linux and macOS; closing it
    // again could close one another thread just opened, so it is not retried.
    return close(fd) == 0 ? 0 : errno;
}
