#include "io/DiskSink.h"

#include "io/FullTransfer.h"

#include <cerrno>
#include <cstring>

bool CFileDiskSink::Write(void const* data, size_t size, std::string* error)
{
    if (!WriteFullyAt(m_fd, data, size, m_offset + m_position))
    {
        *error = std::string("write failed: ") + (errno ? std::strerror(errno) : "no byte written");
        return false;
    }
    m_position += size;
    return true;
}

bool CFileDiskSink::Skip(uint64_t size, std::string*)
{
    m_position += size;
    return true;
}
