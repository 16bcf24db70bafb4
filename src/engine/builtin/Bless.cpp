// bless --openfolder M/F: F, a folder of an attached volume, becomes the folder the Finder opens
// when the volume is mounted. Its catalog node ID is promised now and written at detach.
#include "engine/builtin/AttachedVolumes.h"
#include "engine/builtin/StandInVerbs.h"
#include "engine/ToolArguments.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

int RunBless(CAttachedVolumes* volumes, std::vector<std::string> const& argv)
{
    CToolArguments arguments;
    std::string error;
    if (!ParseToolArguments(argv, 1, {"--openfolder"}, {}, &arguments, &error) ||
        !arguments.operands.empty() || !arguments.Has("--openfolder"))
    {
        std::fprintf(stderr, "bless: %s\nUsage: bless --openfolder <folder>\n",
                     error.empty() ? "unsupported arguments" : error.c_str());
        return 1;
    }
    std::string const& folder = arguments.Value("--openfolder");
    struct stat info;
    if (stat(folder.c_str(), &info) != 0)
    {
        std::fprintf(stderr, "bless: can't use '%s' as the open folder: %s\n", folder.c_str(),
                     std::strerror(errno));
        return 1;
    }
    if (!S_ISDIR(info.st_mode))
    {
        std::fprintf(stderr, "bless: can't use '%s' as the open folder: not a folder\n", folder.c_str());
        return 1;
    }
    std::string relativePath;
    CAttachedVolume* volume = volumes->FindHolding(folder, &relativePath);
    if (volume == nullptr)
    {
        std::fprintf(stderr, "bless: can't use '%s' as the open folder: it is not on an attached volume\n",
                     folder.c_str());
        return 1;
    }
    volume->openFolderId = PromiseCatalogId(volume, relativePath);
    return 0;
}
