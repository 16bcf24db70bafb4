// Positioned reads and writes with retry, zeroed ranges, and gathered writes.
#include "hfsplus/HfsFileIo.h"

#include "io/FileDescriptor.h"
#include "io/FullTransfer.h"
#include "io/PortableFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace
{

constexpr size_t kCopyChunk = 1 << 20;

} // namespace

bool WriteAllAt(int fd, void const* data, size_t size, uint64_t offset, std::string* error)
{
    if (WriteFullyAt(fd, data, size, offset))
        return true;
    int const why = errno;
    *error = std::string("cannot write the disk image: ") + (why ? strerror(why) : "no progress");
    return false;
}

bool ReadAllAt(int fd, void* data, size_t size, uint64_t offset, std::string* error)
{
    if (ReadFullyAt(fd, data, size, offset))
        return true;
    int const why = errno;
    *error = std::string("cannot read the disk image: ") + (why ? strerror(why) : "it ends too soon");
    return false;
}

bool ZeroFileRange(int fd, uint64_t offset, uint64_t size, std::string* error)
{
    if (size == 0)
        return true;
    int punched = PunchFileHole(fd, offset, size);
    if (punched == 0)
        return true;
    if (punched != EOPNOTSUPP)
    {
        *error = std::string("cannot clear the volume's space in the disk image: ") + strerror(punched);
        return false;
    }
    std::vector<uint8_t> zeros(std::min<uint64_t>(size, kCopyChunk));
    while (size > 0)
    {
        size_t n = size_t(std::min<uint64_t>(size, zeros.size()));
        if (!WriteAllAt(fd, zeros.data(), n, offset, error))
            return false;
        offset += n;
        size -= n;
    }
    return true;
}

bool EnsureFileSize(int fd, uint64_t size, std::string* error)
{
    struct stat st;
    if (fstat(fd, &st) != 0)
    {
        *error = std::string("cannot examine the disk image: ") + strerror(errno);
        return false;
    }
    if (uint64_t(st.st_size) < size && ftruncate(fd, off_t(size)) != 0)
    {
        *error = std::string("cannot grow the disk image: ") + strerror(errno);
        return false;
    }
    return true;
}

CGatheredWriter::CGatheredWriter(int fd, size_t maxGap) : m_fd(fd), m_maxGap(maxGap) {}

bool CGatheredWriter::WriteAt(void const* data, size_t size, uint64_t offset, std::string* error)
{
    uint64_t const end = m_start + m_pending.size();
    bool const follows = !m_pending.empty() && offset >= end && offset - end < m_maxGap;
    if (!follows || m_pending.size() + (offset - end) + size > kCopyChunk)
    {
        if (!Flush(error))
            return false;
        if (size >= kCopyChunk)
            return WriteAllAt(m_fd, data, size, offset, error);
        m_start = offset;
    }
    m_pending.resize(size_t(offset - m_start), 0);
    auto const* bytes = static_cast<uint8_t const*>(data);
    m_pending.insert(m_pending.end(), bytes, bytes + size);
    return true;
}

bool CGatheredWriter::Flush(std::string* error)
{
    if (m_pending.empty())
        return true;
    bool const written = WriteAllAt(m_fd, m_pending.data(), m_pending.size(), m_start, error);
    m_pending.clear();
    return written;
}
