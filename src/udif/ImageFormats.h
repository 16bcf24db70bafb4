// The image formats kilnpack writes, as hdiutil convert names them: one table that the configuration
// checks against, the convert command is written from and the image writer compresses by.
#pragma once

#include "udif/ChunkCodec.h"

#include <string>

struct CImageFormat
{
    char const* name;     // "UDZO"
    EUdifFormat format;
    char const* imageKey; // the -imagekey of hdiutil convert, or null where the format takes none
    int zlibLevel;        // the level that key asks for (UDZO only; the others ignore it)
};

// The format of that name in any letter case, or null for one kilnpack doesn't write.
CImageFormat const* FindImageFormat(std::string const& name);
// UDZO, the default.
CImageFormat const& GetDefaultImageFormat();
