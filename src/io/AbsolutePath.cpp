// Making a path absolute and tidy.
#include "io/AbsolutePath.h"

#include <unistd.h>
#include <vector>

std::string MakeAbsolutePath(std::string const& path)
{
    std::string full = path;
    if (full.empty() || full[0] != '/')
    {
        std::vector<char> here(4096);
        while (getcwd(here.data(), here.size()) == nullptr && here.size() < (1u << 20))
            here.resize(here.size() * 2);
        if (here[0] == '/')
            full = std::string(here.data()) + "/" + full;
    }
    std::string clean;
    size_t start = 0;
    while (start < full.size())
    {
        size_t end = full.find('/', start);
        if (end == std::string::npos)
            end = full.size();
        std::string const part = full.substr(start, end - start);
        if (!part.empty() && part != ".")
            clean += (clean.empty() && full[0] != '/' ? "" : "/") + part;
        start = end + 1;
    }
    return clean.empty() ? (full[0] == '/' ? "/" : ".") : clean;
}
