// Taking and releasing the lock file beside an output, and clearing what a killed build left.
#include "pipeline/BuildLock.h"

#include "io/FullTransfer.h"
#include "io/TemporaryFolder.h"
#include "sys/RemoveTree.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// Lock file: text lines "pid <number>"; a lock of an older build may also name "staging <path>", the
// folder it filled the volume in, which is removed with its other leftovers.

namespace
{
std::string ReadAll(int fd)
{
    std::string text;
    char buffer[512];
    ssize_t count;
    off_t at = 0;
    while ((count = pread(fd, buffer, sizeof buffer, at)) > 0 && text.size() < 8192)
    {
        text.append(buffer, static_cast<size_t>(count));
        at += count;
    }
    return text;
}

std::string ValueOfLine(std::string const& content, std::string const& key)
{
    std::string const prefix = key + " ";
    size_t at = 0;
    while (at < content.size())
    {
        size_t end = content.find('\n', at);
        if (end == std::string::npos)
            end = content.size();
        if (content.compare(at, prefix.size(), prefix) == 0)
            return content.substr(at + prefix.size(), end - at - prefix.size());
        at = end + 1;
    }
    return std::string();
}

// The lock file is not trusted: anyone who can write beside the output can plant one. A leftover
// it names is removed only when it is, beyond doubt, a staging folder of this user's kilnpack:
// - it lies directly in the temporary folder this run uses (GetTemporaryFolder), which is owned
//   by this user or sticky (as /tmp is), so no other user can rename entries in it;
// - its name is "mnt." and eight letters or digits, as the stand-in attach makes it;
// - it is a real folder (not a link), owned by this user, writable by no one else;
// - everything in it is a folder, regular file or symbolic link owned by this user, on the same
//   file system (no mount point inside): what copying sources, making folders and links and
//   writing desktop databases leaves, and nothing else (a device, FIFO or socket never is).
// Otherwise it is left where it is, with a warning saying why. Everything is looked at through
// descriptors opened without following links, so a link swapped in can't lead elsewhere.
bool IsStagingName(std::string const& name)
{
    if (name.size() != 12 || name.compare(0, 4, "mnt.") != 0)
        return false;
    for (size_t i = 4; i < name.size(); ++i)
    {
        char const c = name[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

// Whether the folder open as `fd` holds only what a staging folder holds (above). Folders deeper
// than this, or more entries than this, are doubt.
constexpr int kMaxStagingDepth = 256;
constexpr size_t kMaxStagingEntries = 1u << 22;

bool HoldsOnlyStagedItems(int fd, dev_t device, int depth, size_t* entries)
{
    if (depth > kMaxStagingDepth)
        return false;
    DIR* directory = fdopendir(fd);
    if (!directory)
    {
        close(fd);
        return false;
    }
    bool ok = true;
    while (ok)
    {
        errno = 0;
        dirent* entry = readdir(directory);
        if (!entry)
        {
            ok = errno == 0;
            break;
        }
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        struct stat status;
        if (++*entries > kMaxStagingEntries ||
            fstatat(dirfd(directory), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0 ||
            status.st_uid != geteuid() || status.st_dev != device)
        {
            ok = false;
            break;
        }
        if (S_ISDIR(status.st_mode))
        {
            int const child =
                openat(dirfd(directory), entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            ok = child >= 0 && HoldsOnlyStagedItems(child, device, depth + 1, entries);
        }
        else
            ok = S_ISREG(status.st_mode) || S_ISLNK(status.st_mode);
    }
    closedir(directory);
    return ok;
}

// Empty when `path` is a leftover staging folder that may be removed, else why it is left.
std::string WhyNotStagingFolder(std::string const& path)
{
    std::string const folder = GetTemporaryFolder();
    size_t const slash = path.rfind('/');
    if (slash == std::string::npos || path.substr(0, slash == 0 ? 1 : slash) != folder ||
        !IsStagingName(path.substr(slash + 1)))
        return "it is not a staging folder in '" + folder + "'";
    CFileDescriptor parent(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat status;
    if (!parent.IsOpen() || fstat(parent.Get(), &status) != 0 ||
        (status.st_uid != geteuid() && !(status.st_mode & S_ISVTX)))
        return "'" + folder + "' is neither this user's nor sticky";
    int const fd =
        openat(parent.Get(), path.c_str() + slash + 1, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return std::strerror(errno);
    size_t entries = 0;
    if (fstat(fd, &status) != 0 || status.st_uid != geteuid() || (status.st_mode & (S_IWGRP | S_IWOTH)) != 0)
    {
        close(fd);
        return "it is not a folder of this user's alone";
    }
    if (!HoldsOnlyStagedItems(fd, status.st_dev, 0, &entries))
        return "it holds what a staging folder never holds";
    return std::string();
}

// Temporary outputs beside the final path: "<name>.tmp-" and eight letters or digits.
void RemoveTemporaryOutputs(std::string const& file)
{
    size_t const slash = file.rfind('/');
    std::string const folder = slash == std::string::npos ? "." : file.substr(0, slash == 0 ? 1 : slash);
    std::string const prefix = (slash == std::string::npos ? file : file.substr(slash + 1)) + ".tmp-";
    DIR* directory = opendir(folder.c_str());
    if (!directory)
        return;
    while (dirent* entry = readdir(directory))
    {
        std::string const name = entry->d_name;
        if (name.size() != prefix.size() + 8 || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        std::string const path = folder + "/" + name;
        struct stat status;
        if (lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == geteuid() &&
            unlink(path.c_str()) == 0)
            std::fprintf(stderr, "Warning: Removed '%s', left by an interrupted build.\n", path.c_str());
    }
    closedir(directory);
}
} // namespace

CBuildLock::~CBuildLock()
{
    if (!m_fd.IsOpen())
        return;
    // Unlinked while still held (the descriptor closes after): a run that opened the old file sees it
    // is gone and opens anew.
    unlink(m_lockPath.c_str());
}

bool CBuildLock::Acquire(std::string const& file)
{
    m_lockPath = file + ".lock";
    for (int attempt = 0; attempt < 10; ++attempt)
    {
        CFileDescriptor fd(open(m_lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644));
        // Where no file can be made beside the output (a missing or read-only folder), no other build
        // can have made anything there either, and the build's own steps report the fault.
        // A lock file that is there but can't be opened (EACCES) is another user's or a planted one:
        // it fails the build, since building past it would give up the one-build-per-output rule.
        if (!fd.IsOpen() && (errno == ENOENT || errno == ENOTDIR || errno == EROFS))
            return true;
        if (!fd.IsOpen())
        {
            std::fprintf(stderr, "Error: Unable to lock '%s' (%s).\n", m_lockPath.c_str(), std::strerror(errno));
            return false;
        }
        if (flock(fd.Get(), LOCK_EX | LOCK_NB) != 0)
        {
            int const lockError = errno;
            std::string const other = ValueOfLine(ReadAll(fd.Get()), "pid");
            fd.Reset();
            if (lockError == EWOULDBLOCK)
                std::fprintf(stderr, "Error: '%s' is being built by another kilnpack (process %s); not building it.\n",
                             file.c_str(), other.empty() ? "unknown" : other.c_str());
            else
                std::fprintf(stderr, "Error: Unable to lock '%s' (%s).\n", m_lockPath.c_str(),
                             std::strerror(lockError));
            return false;
        }
        // The holder before us may have removed the file between our open and our lock.
        struct stat held;
        struct stat named;
        if (fstat(fd.Get(), &held) != 0 || stat(m_lockPath.c_str(), &named) != 0 || held.st_ino != named.st_ino ||
            held.st_dev != named.st_dev)
            continue;
        m_fd = std::move(fd);
        RemoveLeftovers(file, ReadAll(m_fd.Get()));
        m_content = "pid " + std::to_string(getpid()) + "\n";
        WriteContent();
        return true;
    }
    std::fprintf(stderr, "Error: Unable to lock '%s'.\n", m_lockPath.c_str());
    return false;
}

void CBuildLock::WriteContent()
{
    if (ftruncate(m_fd.Get(), 0) != 0 || !WriteFullyAt(m_fd.Get(), m_content.data(), m_content.size(), 0))
        std::fprintf(stderr, "Warning: Unable to write the lock file '%s' (%s).\n", m_lockPath.c_str(),
                     std::strerror(errno ? errno : EIO));
}

void CBuildLock::RemoveLeftovers(std::string const& file, std::string const& previousContent)
{
    std::string const staging = ValueOfLine(previousContent, "staging");
    std::string error;
    struct stat status;
    if (staging.empty() || lstat(staging.c_str(), &status) != 0)
        ; // nothing left, or nothing to look at
    else if (std::string const why = WhyNotStagingFolder(staging); !why.empty())
        std::fprintf(stderr, "Warning: The lock file '%s' names '%s', which is left alone: %s.\n",
                     m_lockPath.c_str(), staging.c_str(), why.c_str());
    else
    {
        if (RemoveTreeForced(staging, &error))
            std::fprintf(stderr, "Warning: Removed '%s', left by an interrupted build.\n", staging.c_str());
        else
            std::fprintf(stderr, "Warning: Unable to remove '%s', left by an interrupted build: %s.\n",
                         staging.c_str(), error.c_str());
    }
    RemoveTemporaryOutputs(file);
}
