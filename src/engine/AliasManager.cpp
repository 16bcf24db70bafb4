#include "engine/AliasManager.h"

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
