#include "pipeline/FinderFlags.h"

#include "config/XmlAccess.h"
#include "engine/CommandRunner.h"
#include "io/ByteOrder.h"
#include "engine/DiskImageTools.h"

#include <cstdio>

bool AddFinderFlags(std::string const& path, uint16_t flags)
{
    // What the item's Finder info holds now; a copied item may bring type, creator or flags along.
    CFinderInfo info = GetDiskImageTools().ReadFinderInfo(path);
    PutBe16(&info[kFinderFlagsAt], uint16_t(GetBe16(&info[kFinderFlagsAt]) | flags));
    if (RunToolCommand(MakeSetFinderInfoCommand(info, path)))
        return true;
    std::fprintf(stderr, "Error: Unable to set the Finder flags of '%s'.\n", path.c_str());
    return false;
}

bool ProcessItemFinderFlags(CXmlNode const* itemNode, std::string const& itemPath)
{
    uint16_t flags = 0;
    if (GetNodeAttributeOrDefault(itemNode, "hide_extension", false))
        flags |= kFinderHideExtension;
    if (GetNodeAttributeOrDefault(itemNode, "hidden", false))
        flags |= kFinderIsInvisible;
    return flags == 0 || AddFinderFlags(itemPath, flags);
}
