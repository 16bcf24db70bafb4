// Positioned reads and writes with retry, zeroed ranges, and copying a source file into the volume.
#include "hfsplus/HfsFileIo.h"
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

class CFileCloser
{
public:
    explicit CFileCloser(int fd) : m_fd(fd) {}
    ~CFileCloser()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    CFileCloser(CFileCloser const&) = delete;
    CFileCloser& operator=(CFileCloser const&) = delete;

private:
    int m_fd;
};

} // namespace

bool WriteAllAt(int fd, void const* data, size_t size, uint64_t offset, std::string* error)
{
    auto const* p = static_cast<uint8_t const*>(data);
    while (size > 0)
    {
        ssize_t n = pwrite(fd, p, size, off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
        {
            *error = std::string("cannot write the disk image: ") + (n < 0 ? strerror(errno) : "no progress");
            return false;
        }
        p += n;
        size -= size_t(n);
        offset += uint64_t(n);
    }
    return true;
}

bool ReadAllAt(int fd, void* data, size_t size, uint64_t offset, std::string* error)
{
    auto* p = static_cast<uint8_t*>(data);
    while (size > 0)
    {
        ssize_t n = pread(fd, p, size, off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
        {
            *error =
                std::string("cannot read the disk image: ") + (n < 0 ? strerror(errno) : "it ends too soon");
            return false;
        }
        p += n;
        size -= size_t(n);
        offset += uint64_t(n);
    }
    return true;
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

bool CopyFileDataAt(int fd, uint64_t offset, std::string const& path, uint64_t size, std::string* error,
                    std::function<bool(uint64_t bytes)> const& copied)
{
    int source = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (source < 0)
    {
        *error = "cannot read " + path + ": " + strerror(errno);
        return false;
    }
    CFileCloser closer(source);
    struct stat st;
    if (fstat(source, &st) != 0 || !S_ISREG(st.st_mode) || uint64_t(st.st_size) != size)
    {
        *error = path + " changed while the volume was being written";
        return false;
    }
    // Sized to the file: most files are small, and a 1 MiB allocation per file costs a map and unmap.
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[size_t(std::min<uint64_t>(size, kCopyChunk))]);
    uint64_t done = 0;
    while (done < size)
    {
        size_t want = size_t(std::min<uint64_t>(size - done, kCopyChunk));
        ssize_t n = pread(source, buffer.get(), want, off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
        {
            *error = "cannot read " + path + ": " + strerror(errno);
            return false;
        }
        if (n == 0)
        {
            *error = path + " changed while the volume was being written";
            return false;
        }
        // Write only the 4 KiB pieces that hold data, so zeros stay holes in the image.
        for (size_t at = 0; at < size_t(n); at += kZeroCheckBlock)
        {
            size_t piece = std::min(kZeroCheckBlock, size_t(n) - at);
            size_t run = piece;
            if (IsAllZero(buffer.get() + at, piece))
                continue;
            while (at + run < size_t(n))
            {
                size_t next = std::min(kZeroCheckBlock, size_t(n) - at - run);
                if (IsAllZero(buffer.get() + at + run, next))
                    break;
                run += next;
            }
            if (!WriteAllAt(fd, buffer.get() + at, run, offset + done + at, error))
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
