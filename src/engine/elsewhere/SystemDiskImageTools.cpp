// Systems other than macOS have no disk-image tools of their own: the builtin ones serve.
#include "engine/DiskImageTools.h"

std::unique_ptr<CDiskImageTools> MakeSystemDiskImageTools()
{
    return nullptr;
}
