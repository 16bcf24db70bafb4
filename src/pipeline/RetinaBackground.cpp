#include "pipeline/RetinaBackground.h"

#include "engine/CommandRunner.h"
#include "picture/PngPicture.h"

#include <cstdint>
#include <cstdio>
#include <strings.h>
#include <sys/stat.h>

namespace
{
constexpr char const kPngExtension[] = ".png";
constexpr size_t kPngExtensionLength = sizeof kPngExtension - 1;

bool IsRegularFile(std::string const& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Both pictures readable, the second exactly twice the first in each direction; warns otherwise.
bool AreRetinaPair(std::string const& single, std::string const& twice)
{
    uint32_t width = 0, height = 0, width2 = 0, height2 = 0;
    std::string error;
    if (!ReadPngSize(single, &width, &height, &error) || !ReadPngSize(twice, &width2, &height2, &error))
    {
        std::fprintf(stderr, "Warning: Unable to read the picture %s; '%s' is not used.\n", error.c_str(),
                     twice.c_str());
        return false;
    }
    if (uint64_t(width2) != 2 * uint64_t(width) || uint64_t(height2) != 2 * uint64_t(height))
    {
        std::fprintf(stderr,
                     "Warning: The picture '%s' (%ux%u) is not twice the size of '%s' (%ux%u); it is not "
                     "used.\n",
                     twice.c_str(), width2, height2, single.c_str(), width, height);
        return false;
    }
    return true;
}
} // namespace

bool ChooseBackgroundPicture(std::string const& background, char const* containerPath, std::string* picture)
{
    *picture = background;
    if (background.size() <= kPngExtensionLength ||
        strcasecmp(background.c_str() + background.size() - kPngExtensionLength, kPngExtension) != 0)
        return true;
    std::string const stem = background.substr(0, background.size() - kPngExtensionLength);
    std::string const extension = background.substr(stem.size());
    std::string const folder = std::string(containerPath) + "/";
    std::string const single = folder + background;
    std::string const twice = folder + stem + "@2x" + extension;
    if (!IsRegularFile(single) || !IsRegularFile(twice) || !AreRetinaPair(single, twice))
        return true;

    std::string const tiff = stem + ".tiff";
    struct stat existing;
    if (lstat((folder + tiff).c_str(), &existing) == 0)
        std::fprintf(stderr, "Warning: The retina background replaces the existing file '%s'.\n",
                     (folder + tiff).c_str());
    if (!RunToolCommand(MakeJoinRetinaPicturesCommand(single, twice, folder + tiff)))
    {
        std::fprintf(stderr, "Error: Unable to make the retina background '%s%s'.\n", folder.c_str(),
                     tiff.c_str());
        return false;
    }
    *picture = tiff;
    return true;
}
