#include "engine/AliasManager.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

bool FSPathMakeRef(char const* path, CFileRef* ref, bool* isDirectory, std::string* error)
{
    if (path == nullptr || ref == nullptr)
    {
        *error = "no path given";
        return false;
    }
    struct stat info;
    if (stat(path, &info) != 0)
    {
        *error = std::string(path) + ": " + std::strerror(errno);
        return false;
    }
    ref->path = path;
    if (isDirectory != nullptr)
        *isDirectory = S_ISDIR(info.st_mode);
    return true;
}

unsigned int GetAliasSize(CAliasHandle const& alias)
{
    return alias ? static_cast<unsigned int>(alias->bytes.size()) : 0;
}

std::vector<std::string> SplitRelativePath(std::string const& relativePath)
{
    std::vector<std::string> names;
    size_t start = 0;
    while (start <= relativePath.size() && !relativePath.empty())
    {
        size_t end = relativePath.find('/', start);
        if (end == std::string::npos)
            end = relativePath.size();
        names.push_back(relativePath.substr(start, end - start));
        start = end + 1;
    }
    return names;
}
