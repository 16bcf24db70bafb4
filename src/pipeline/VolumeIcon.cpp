// Copying the volume icon to the root and flagging the root folder for it.
#include "pipeline/VolumeIcon.h"

#include "engine/CommandRunner.h"
#include "pipeline/FinderFlags.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace
{
// The file name under which the Finder looks for a volume's custom icon in its root folder.
constexpr char const kVolumeIconName[] = ".VolumeIcon.icns";
} // namespace

bool CheckVolumeIcon(std::string const& icon)
{
    std::ifstream file(icon, std::ios::binary);
    if (!file)
    {
        std::fprintf(stderr, "Error: Unable to read the volume icon '%s': %s.\n", icon.c_str(),
                     std::strerror(errno));
        return false;
    }
    // An icon family file begins with the type 'icns'.
    char magic[4] = {};
    file.read(magic, sizeof magic);
    if (file.gcount() != sizeof magic || std::memcmp(magic, "icns", sizeof magic) != 0)
        std::fprintf(stderr,
                     "Warning: The volume icon '%s' is not an .icns file; the Finder will not show it.\n",
                     icon.c_str());
    return true;
}

bool ProcessVolumeIcon(std::string const& icon, std::string const& mountPoint)
{
    std::string destination = mountPoint + "/" + kVolumeIconName;
    if (!RunCommand("cp " + QuotePathArgument(icon) + " " + QuoteArgument(destination)))
    {
        std::fprintf(stderr, "Error: Unable to copy the volume icon '%s' to '%s'.\n", icon.c_str(),
                     destination.c_str());
        return false;
    }
    return AddFinderFlags(mountPoint, kFinderHasCustomIcon);
}
