// Copying the volume icon to the root and flagging the root folder for it.
#include "pipeline/VolumeIcon.h"

#include "io/FullTransfer.h"
#include "io/RegularInputFile.h"
#include "pipeline/FinderFlags.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace
{
// The file name under which the Finder looks for a volume's custom icon in its root folder.
constexpr char const kVolumeIconName[] = ".VolumeIcon.icns";
} // namespace

bool CheckVolumeIcon(std::string const& icon)
{
    CFileDescriptor file;
    uint64_t size = 0;
    std::string reason;
    EInputFile const opened = OpenRegularInputFile(icon, kMaxPictureFileBytes, &file, &size, &reason);
    if (opened != EInputFile::Opened)
    {
        std::fprintf(stderr, "Error: Unable to read the volume icon '%s': %s%s.\n", icon.c_str(),
                     reason.c_str(), opened == EInputFile::TooLarge ? ", the most an icon may take" : "");
        return false;
    }
    // An icon family file begins with the type 'icns'.
    char magic[4] = {};
    if (!ReadFully(file.Get(), magic, sizeof magic) || std::memcmp(magic, "icns", sizeof magic) != 0)
        std::fprintf(stderr,
                     "Warning: The volume icon '%s' is not an .icns file; the Finder will not show it.\n",
                     icon.c_str());
    return true;
}

bool ProcessVolumeIcon(CDiskImageEngine& engine, std::string const& icon, std::string const& mountPoint)
{
    std::string destination = mountPoint + "/" + kVolumeIconName;
    // An item of the configuration took the name: the icon never replaces it, nor goes through it
    // when it is a link (which may lead out of the volume).
    if (engine.LookUp(destination) != EVolumeEntry::None)
    {
        std::fprintf(stderr,
                     "Error: The volume icon can't be copied to '%s': an item of the configuration has that "
                     "name.\n",
                     destination.c_str());
        return false;
    }
    if (!PerformRequest(engine, CCopyRequest{icon, destination, false}))
    {
        std::fprintf(stderr, "Error: Unable to copy the volume icon '%s' to '%s'.\n", icon.c_str(),
                     destination.c_str());
        return false;
    }
    return AddFinderFlags(engine, mountPoint, kFinderHasCustomIcon);
}
