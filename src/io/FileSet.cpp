// Adding and finding files by identity and by path.
#include "io/FileSet.h"

#include "io/AbsolutePath.h"

#include <sys/stat.h>

void CFileSet::Add(std::string const& path)
{
    struct stat status;
    if (stat(path.c_str(), &status) == 0)
        m_identities.insert({status.st_dev, status.st_ino});
    m_paths.insert(MakeAbsolutePath(path));
}

bool CFileSet::Contains(std::string const& path) const
{
    struct stat status;
    if (stat(path.c_str(), &status) == 0 && m_identities.count({status.st_dev, status.st_ino}) != 0)
        return true;
    return m_paths.count(MakeAbsolutePath(path)) != 0;
}
