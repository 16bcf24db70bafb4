#include "io/DiskSink.h"

#include "io/FullTransfer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

bool CDiskSink::WriteZeros(uint64_t size, std::string* error)
{
    static uint8_t const kZeros[64 * 1024] = {};
    while (size > 0)
    {
        size_t const n = size_t(std::min<uint64_t>(size, sizeof kZeros));
        if (!Write(kZeros, n, error))
            return false;
        size -= n;
    }
    return true;
}

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
