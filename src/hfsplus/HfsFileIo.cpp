// Positioned reads and writes with retry, zeroed ranges, and copying a source file into the volume.
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
constexpr size_t kZeroCheckBlock = 4096;

bool IsAllZero(uint8_t const* p, size_t size)
{
    return size == 0 || (p[0] == 0 && memcmp(p, p + 1, size - 1) == 0);
}

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

bool CopyFileDataAt(CGatheredWriter* out, uint64_t offset, std::string const& path, uint64_t size,
                    std::string* error, std::function<bool(uint64_t bytes)> const& copied)
{
    CFileDescriptor const source(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!source.IsOpen())
    {
        *error = "cannot read " + path + ": " + strerror(errno);
        return false;
    }
    struct stat st;
    if (fstat(source.Get(), &st) != 0 || !S_ISREG(st.st_mode) || uint64_t(st.st_size) != size)
    {
        *error = path + " changed while the volume was being written";
        return false;
    }
    // Sized to the file: most files are small, and a 1 MiB allocation per file costs a map and unmap.
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[size_t(std::min<uint64_t>(size, kCopyChunk))]);
    uint64_t done = 0;
    while (done < size)
    {
        size_t const n = size_t(std::min<uint64_t>(size - done, kCopyChunk));
        if (!ReadFullyAt(source.Get(), buffer.get(), n, done))
        {
            int const why = errno;
            *error = why ? "cannot read " + path + ": " + strerror(why)
                         : path + " changed while the volume was being written";
            return false;
        }
        // Write only the 4 KiB pieces that hold data, so zeros stay holes in the image.
        for (size_t at = 0; at < n; at += kZeroCheckBlock)
        {
            size_t piece = std::min(kZeroCheckBlock, n - at);
            size_t run = piece;
            if (IsAllZero(buffer.get() + at, piece))
                continue;
            while (at + run < n)
            {
                size_t next = std::min(kZeroCheckBlock, n - at - run);
                if (IsAllZero(buffer.get() + at + run, next))
                    break;
                run += next;
            }
            if (!out->WriteAt(buffer.get() + at, run, offset + done + at, error))
                return false;
            at += run - piece;
        }
        done += uint64_t(n);
        if (copied && !copied(uint64_t(n)))
        {
            *error = "interrupted";
            return false;
        }
    }
    return true;
}
