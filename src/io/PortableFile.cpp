// Linux-only file calls (hole punch, no-replace rename, reads without access times, modification
// time) and their POSIX stand-ins.
#include "io/PortableFile.h"

#include "io/FullTransfer.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#if defined(__linux__) && !defined(KILNPACK_PORTABLE_ONLY)
#define KILNPACK_LINUX_CALLS 1
#else
#define KILNPACK_LINUX_CALLS 0
#endif

namespace
{

// A hard link can't replace an existing name, so link-then-unlink refuses like a no-replace
// rename. Where the file system has no hard links, a check before the rename is the best left.
int LinkThenUnlink(std::string const& from, std::string const& to)
{
    if (link(from.c_str(), to.c_str()) == 0)
    {
        if (unlink(from.c_str()) == 0)
            return 0;
        int error = errno;
        // Leave no second name behind: the move did not happen.
        unlink(to.c_str());
        return error;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS && errno != EMLINK)
        return errno;
    struct stat info;
    if (lstat(to.c_str(), &info) == 0)
        return EEXIST;
    return rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

// Bytes after the range that the truncation below keeps aside in memory, at most.
constexpr uint64_t kLargestKeptTail = 1 << 20;

// Without a hole-punching call, a range that reaches (nearly) to the end of the file still becomes
// a hole: the file is cut at the range's start and grown back to its size, and the few bytes that
// followed the range are written again. Elsewhere EOPNOTSUPP: the caller writes zeros instead.
int TruncateIntoHole(int fd, uint64_t offset, uint64_t size)
{
    struct stat info;
    if (fstat(fd, &info) != 0)
        return errno;
    uint64_t const fileSize = uint64_t(info.st_size);
    if (offset >= fileSize)
        return 0;
    uint64_t const end = size < fileSize - offset ? offset + size : fileSize;
    if (fileSize - end > kLargestKeptTail)
        return EOPNOTSUPP;
    std::vector<uint8_t> tail(size_t(fileSize - end));
    if (!ReadFullyAt(fd, tail.data(), tail.size(), end))
        return errno ? errno : EIO;
    if (ftruncate(fd, off_t(offset)) != 0 || ftruncate(fd, off_t(fileSize)) != 0)
        return errno;
    if (!WriteFullyAt(fd, tail.data(), tail.size(), end))
        return errno ? errno : EIO;
    return 0;
}

} // namespace

int PunchFileHole(int fd, uint64_t offset, uint64_t size)
{
#if KILNPACK_LINUX_CALLS
    if (fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, off_t(offset), off_t(size)) == 0)
        return 0;
    if (errno != EOPNOTSUPP && errno != ENOSYS)
        return errno;
#endif
    return TruncateIntoHole(fd, offset, size);
}

int RenameWithoutReplacing(std::string const& from, std::string const& to)
{
#if KILNPACK_LINUX_CALLS
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    // Only a file system (or kernel) that can't refuse to replace falls back.
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
#endif
    return LinkThenUnlink(from, to);
}

int OpenForReadingQuietly(std::string const& path, int flags)
{
#if KILNPACK_LINUX_CALLS
    int const fd = open(path.c_str(), O_RDONLY | O_NOATIME | flags);
    // O_NOATIME is refused for another user's file: that one is read as anyone would.
    if (fd >= 0 || errno != EPERM)
        return fd;
#endif
    return open(path.c_str(), O_RDONLY | flags);
}

int64_t GetModificationTime(struct stat const& info)
{
#if KILNPACK_LINUX_CALLS
    return int64_t(info.st_mtim.tv_sec);
#else
    return int64_t(info.st_mtime);
#endif
}

int64_t GetModificationNanoseconds(struct stat const& info)
{
#if KILNPACK_LINUX_CALLS
    return int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
#else
    return int64_t(info.st_mtime) * 1000000000;
#endif
}
