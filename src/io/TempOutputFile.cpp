// Creating, filling and committing a final file under a temporary name beside it.
#include "io/TempOutputFile.h"

#include "io/FullTransfer.h"
#include "io/PortableFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <unistd.h>

CTempOutputFile::~CTempOutputFile()
{
    Discard();
}

void CTempOutputFile::Discard()
{
    m_fd.Reset();
    if (!m_tempPath.empty())
        unlink(m_tempPath.c_str());
    m_tempPath.clear();
}

bool CTempOutputFile::Fail(char const* what, std::string const& path, int errorNumber, std::string* error)
{
    m_errorNumber = errorNumber;
    *error = std::string(what) + " '" + path + "': " + std::strerror(errorNumber);
    return false;
}

bool CTempOutputFile::Open(std::string const& finalPath, std::string* error)
{
    Discard();
    m_finalPath = finalPath;
    // A fresh name in the same directory, so the final rename stays on one file system. Created with
    // O_EXCL and mode 0666 so the user's umask decides the permissions, as for any new file; open for
    // reading too, for libraries that read back what they wrote.
    std::random_device random;
    static char const kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 100; ++attempt)
    {
        std::string path = finalPath + ".tmp-";
        for (int i = 0; i < 8; ++i)
            path += kLetters[random() % (sizeof kLetters - 1)];
        CFileDescriptor fd(open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (fd.IsOpen())
        {
            m_fd = std::move(fd);
            m_tempPath = path;
            return true;
        }
        if (errno != EEXIST)
            return Fail("cannot create", path, errno, error);
    }
    m_errorNumber = EEXIST;
    *error = "cannot find a free temporary name beside '" + finalPath + "'";
    return false;
}

bool CTempOutputFile::Write(void const* data, size_t size, std::string* error)
{
    if (WriteFully(m_fd.Get(), data, size))
        return true;
    return Fail("cannot write", m_tempPath, errno ? errno : ENOSPC, error);
}

bool CTempOutputFile::Commit(std::string* error, ECommit mode)
{
    if (fsync(m_fd.Get()) != 0)
        return Fail("cannot write", m_tempPath, errno, error);
    if (int const closeError = m_fd.Close())
        return Fail("cannot write", m_tempPath, closeError, error);
    int const renameError = mode == ECommit::Replace
                                ? (rename(m_tempPath.c_str(), m_finalPath.c_str()) == 0 ? 0 : errno)
                                : RenameWithoutReplacing(m_tempPath, m_finalPath);
    if (renameError != 0)
        return Fail(("cannot rename the finished " + std::string(m_what) + " to").c_str(), m_finalPath,
                    renameError, error);
    m_tempPath.clear();
    return true;
}
