// Refusing configuration paths that would reach outside their folder; the names records are keyed by.
#include "config/PathRules.h"

#include "hfsplus/HfsNames.h"

bool IsSingleComponentName(std::string const& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

bool IsContainedRelativePath(std::string const& path)
{
    if (!path.empty() && path[0] == '/')
        return false;
    size_t start = 0;
    while (start <= path.size())
    {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        if (path.compare(start, end - start, "..") == 0)
            return false;
        start = end + 1;
    }
    return true;
}

std::string MakeRecordName(std::string const& name)
{
    return ConvertNameToDecomposedUtf8(name);
}
