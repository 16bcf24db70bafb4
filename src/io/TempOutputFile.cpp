// Creating, filling and committing a final file under a temporary name beside it.
#include "io/TempOutputFile.h"

#include "io/FullTransfer.h"
#include "io/PortableFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
char const* DescribeKind(mode_t mode)
{
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISDIR(mode))
        return "a folder";
    return "not a regular file";
}

// Whether the entry `name` of the open folder `folder` may be replaced (see IsReplaceable).
bool IsReplaceableAt(int folder, char const* name, std::string* what)
{
    struct stat status;
    if (fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) != 0)
    {
        if (errno == ENOENT || errno == ENOTDIR)
            return true; // nothing there: the steps that make the file report a missing folder
        *what = std::string("unreadable (") + std::strerror(errno) + ")";
        return false;
    }
    if (S_ISREG(status.st_mode))
        return true;
    if (!S_ISLNK(status.st_mode))
    {
        *what = DescribeKind(status.st_mode);
        return false;
    }
    // The rename would replace the link, not its target; a link to a device is refused all the
    // same, since whoever set it up means the device.
    if (fstatat(folder, name, &status, 0) != 0 || S_ISREG(status.st_mode))
        return true;
    *what = std::string("a link to ") + DescribeKind(status.st_mode);
    return false;
}

// The folder part and the last name of a path ("a/b" gives "a" and "b", "b" gives "." and "b").
void SplitPath(std::string const& path, std::string* folder, std::string* name)
{
    size_t const slash = path.rfind('/');
    *folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    *name = slash == std::string::npos ? path : path.substr(slash + 1);
}
} // namespace

bool CTempOutputFile::IsReplaceable(std::string const& path, std::string* what)
{
    return IsReplaceableAt(AT_FDCWD, path.c_str(), what);
}

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
    int renameError = 0;
    if (mode == ECommit::Replace)
    {
        // Looked at and renamed within the one open folder, right before the rename: a folder swapped
        // for a link meanwhile can't send the file elsewhere, and a device put at the name since the
        // early check is still refused.
        std::string folderPath, name, tempName, what;
        SplitPath(m_finalPath, &folderPath, &name);
        SplitPath(m_tempPath, &folderPath, &tempName);
        CFileDescriptor folder(open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!folder.IsOpen())
            renameError = errno;
        else if (!IsReplaceableAt(folder.Get(), name.c_str(), &what))
        {
            m_errorNumber = EEXIST;
            *error = "'" + m_finalPath + "' is " + what + ", not a regular file; it is not replaced";
            return false;
        }
        else if (renameat(folder.Get(), tempName.c_str(), folder.Get(), name.c_str()) != 0)
            renameError = errno;
    }
    else
        renameError = RenameWithoutReplacing(m_tempPath, m_finalPath);
    if (renameError != 0)
        return Fail(("cannot rename the finished " + std::string(m_what) + " to").c_str(), m_finalPath,
                    renameError, error);
    m_tempPath.clear();
    return true;
}
