#include "pipeline/FinderFlags.h"

#include "config/XmlAccess.h"
#include "io/ByteOrder.h"

#include <cstdio>

bool AddFinderFlags(CDiskImageEngine& engine, std::string const& path, uint16_t flags)
{
    // What the item's Finder info holds now; a copied item may bring type, creator or flags along.
    CFinderInfoRequest request{engine.ReadFinderInfo(path), path};
    PutBe16(&request.info[kFinderFlagsAt], uint16_t(GetBe16(&request.info[kFinderFlagsAt]) | flags));
    if (PerformRequest(engine, request))
        return true;
    std::fprintf(stderr, "Error: Unable to set the Finder flags of '%s'.\n", path.c_str());
    return false;
}

bool ProcessItemFinderFlags(CDiskImageEngine& engine, CXmlNode const* itemNode, std::string const& itemPath)
{
    uint16_t flags = 0;
    if (GetNodeAttributeOrDefault(itemNode, "hide_extension", false))
        flags |= kFinderHideExtension;
    if (GetNodeAttributeOrDefault(itemNode, "hidden", false))
        flags |= kFinderIsInvisible;
    return flags == 0 || AddFinderFlags(engine, itemPath, flags);
}
