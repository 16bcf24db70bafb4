#include "udif/TempOutputFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace
{
std::string DescribeError(char const* what, std::string const& path, int err)
{
    return std::string(what) + " '" + path + "': " + std::strerror(err);
}
} // namespace

CTempOutputFile::~CTempOutputFile()
{
    Discard();
}

void CTempOutputFile::Discard()
{
    if (m_fd >= 0)
        close(m_fd);
    m_fd = -1;
    if (!m_tempPath.empty())
        unlink(m_tempPath.c_str());
    m_tempPath.clear();
}

bool CTempOutputFile::Open(std::string const& finalPath, std::string* error)
{
    Discard();
    m_finalPath = finalPath;
    // A fresh name in the same directory, so the final rename stays on one file system. Created with
    // O_EXCL and mode 0666 so the user's umask decides the permissions, as for any new file.
    std::random_device random;
    static char const kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 100; ++attempt)
    {
        std::string path = finalPath + ".tmp-";
        for (int i = 0; i < 8; ++i)
            path += kLetters[random() % (sizeof kLetters - 1)];
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0)
        {
            m_fd = fd;
            m_tempPath = path;
            return true;
        }
        if (errno != EEXIST)
        {
            *error = DescribeError("cannot create", path, errno);
            return false;
        }
    }
    *error = "cannot find a free temporary name beside '" + finalPath + "'";
    return false;
}

bool CTempOutputFile::Write(void const* data, size_t size, std::string* error)
{
    auto const* p = static_cast<char const*>(data);
    while (size > 0)
    {
        ssize_t n = write(m_fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
        {
            *error = DescribeError("cannot write", m_tempPath, n < 0 ? errno : ENOSPC);
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool CTempOutputFile::Commit(std::string* error)
{
    if (fsync(m_fd) != 0)
    {
        *error = DescribeError("cannot write", m_tempPath, errno);
        return false;
    }
    int fd = m_fd;
    m_fd = -1;
    if (close(fd) != 0)
    {
        *error = DescribeError("cannot write", m_tempPath, errno);
        return false;
    }
    if (rename(m_tempPath.c_str(), m_finalPath.c_str()) != 0)
    {
        *error = DescribeError("cannot rename the finished image to", m_finalPath, errno);
        return false;
    }
    m_tempPath.clear();
    return true;
}
