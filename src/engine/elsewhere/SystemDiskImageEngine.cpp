// Systems other than macOS have no disk-image tools of their own: the builtin engine serves.
#include "engine/Engines.h"

std::unique_ptr<CDiskImageEngine> MakeSystemDiskImageEngine()
{
    return nullptr;
}
