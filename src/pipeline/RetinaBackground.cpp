#include "pipeline/RetinaBackground.h"

#include "picture/PngPicture.h"

#include <cstdint>
#include <cstdio>
#include <strings.h>
#include <vector>

namespace
{
constexpr char const kPngExtension[] = ".png";
constexpr size_t kPngExtensionLength = sizeof kPngExtension - 1;

// Both pictures readable, the second exactly twice the first in each direction; warns otherwise.
bool AreRetinaPair(CDiskImageEngine& engine, std::string const& single, std::string const& twice)
{
    uint32_t width = 0, height = 0, width2 = 0, height2 = 0;
    std::vector<uint8_t> singleBytes, twiceBytes;
    std::string error;
    if (!engine.ReadFile(single, &singleBytes, &error) || !engine.ReadFile(twice, &twiceBytes, &error) ||
        !ReadPngSize(singleBytes, single, &width, &height, &error) ||
        !ReadPngSize(twiceBytes, twice, &width2, &height2, &error))
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

bool ChooseBackgroundPicture(CDiskImageEngine& engine, std::string const& background, char const* containerPath,
                             std::string* picture)
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
    if (engine.LookUp(single) != EVolumeEntry::File || engine.LookUp(twice) != EVolumeEntry::File ||
        !AreRetinaPair(engine, single, twice))
        return true;

    std::string const tiff = stem + ".tiff";
    // The TIFF is made only under a free name: it never replaces an item of the configuration, nor
    // goes through a link (which may lead out of the volume).
    if (engine.LookUp(folder + tiff) != EVolumeEntry::None)
    {
        std::fprintf(stderr,
                     "Error: The retina background can't be written to '%s': an item of the configuration has "
                     "that name.\n",
                     (folder + tiff).c_str());
        return false;
    }
    if (!PerformRequest(engine, CRetinaJoinRequest{single, twice, folder + tiff}))
    {
        std::fprintf(stderr, "Error: Unable to make the retina background '%s%s'.\n", folder.c_str(),
                     tiff.c_str());
        return false;
    }
    *picture = tiff;
    return true;
}
