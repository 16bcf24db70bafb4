// Taking and releasing the lock file beside an output, and clearing what a killed build left.
#include "pipeline/BuildLock.h"

#include "io/FullTransfer.h"
#include "sys/RemoveTree.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// Lock file: text lines "pid <number>" and, once the volume is attached, "staging <path>".

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

// Only a folder named as the stand-in attach names its mount points ("mnt." and eight letters or
// digits) is taken for a staging folder, so a damaged lock file can't make us remove anything else.
bool LooksLikeStagingFolder(std::string const& path)
{
    size_t const slash = path.rfind('/');
    std::string const name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (path.empty() || path[0] != '/' || name.size() != 12 || name.compare(0, 4, "mnt.") != 0)
        return false;
    for (size_t i = 4; i < name.size(); ++i)
    {
        char const c = name[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    }
    struct stat status;
    return lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
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
        if (lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && unlink(path.c_str()) == 0)
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
        if (!fd.IsOpen() && (errno == ENOENT || errno == ENOTDIR || errno == EACCES || errno == EROFS))
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

void CBuildLock::RecordStagingFolder(std::string const& path)
{
    if (!m_fd.IsOpen())
        return;
    m_content += "staging " + path + "\n";
    WriteContent();
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
    if (LooksLikeStagingFolder(staging))
    {
        if (RemoveTreeForced(staging, &error))
            std::fprintf(stderr, "Warning: Removed '%s', left by an interrupted build.\n", staging.c_str());
        else
            std::fprintf(stderr, "Warning: Unable to remove '%s', left by an interrupted build: %s.\n",
                         staging.c_str(), error.c_str());
    }
    RemoveTemporaryOutputs(file);
}
