// What every step of one image's build works with: the engine that makes the volume and the image,
// and which Finder records the views write.
#pragma once

#include "config/FinderRecordSet.h"
#include "engine/DiskImageEngine.h"

struct CBuildContext
{
    CDiskImageEngine& engine;
    EFinderRecordSet recordSet = EFinderRecordSet::Legacy;
};
