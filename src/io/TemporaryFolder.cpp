// Finding the temporary folder as an absolute path.
#include "io/TemporaryFolder.h"

#include <cstdlib>
#include <unistd.h>
#include <vector>

std::string GetTemporaryFolder()
{
    char const* fromEnvironment = std::getenv("TMPDIR");
    std::string folder = fromEnvironment && *fromEnvironment ? fromEnvironment : "/tmp";
    if (folder[0] != '/')
    {
        std::vector<char> here(4096);
        while (getcwd(here.data(), here.size()) == nullptr && here.size() < (1u << 20))
            here.resize(here.size() * 2);
        // Without a working folder a relative name can't be made absolute: /tmp instead.
        folder = here[0] == '/' ? std::string(here.data()) + "/" + folder : "/tmp";
    }
    // "a/./b" and "a//b" become "a/b", so that the same folder always reads the same.
    std::string clean;
    size_t start = 0;
    while (start < folder.size())
    {
        size_t end = folder.find('/', start);
        if (end == std::string::npos)
            end = folder.size();
        std::string const part = folder.substr(start, end - start);
        if (!part.empty() && part != ".")
            clean += "/" + part;
        start = end + 1;
    }
    return clean.empty() ? "/" : clean;
}
