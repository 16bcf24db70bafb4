#include "engine/DiskImageEngine.h"

#include <cstdio>

bool PerformRequest(CDiskImageEngine& engine, CEngineRequest const& request)
{
    std::printf("Running Command: %s\n", FormatRequestText(request).c_str());
    std::fflush(stdout);
    return engine.Run(request) == 0;
}
