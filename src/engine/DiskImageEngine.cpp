#include "engine/DiskImageEngine.h"

#include <cstdio>
#include <cstring>

namespace
{
constexpr char const kBuiltinEngine[] = "builtin";
constexpr char const kSystemEngine[] = "hdiutil";
} // namespace

std::unique_ptr<CDiskImageEngine> ChooseDiskImageEngine(char const* name, std::string* accepted)
{
    std::unique_ptr<CDiskImageEngine> system = MakeSystemDiskImageEngine();
    bool const hasSystem = system != nullptr;
    if ((name == nullptr || *name == '\0') && hasSystem)
        return system;
    if (name == nullptr || *name == '\0' || std::strcmp(name, kBuiltinEngine) == 0)
        return MakeBuiltinDiskImageEngine();
    if (std::strcmp(name, kSystemEngine) == 0 && hasSystem)
        return system;
    *accepted = hasSystem ? std::string("'") + kSystemEngine + "' or '" + kBuiltinEngine + "'"
                          : std::string("'") + kBuiltinEngine + "'";
    return nullptr;
}

bool PerformRequest(CDiskImageEngine& engine, CEngineRequest const& request)
{
    std::printf("Running Command: %s\n", FormatRequestText(request).c_str());
    std::fflush(stdout);
    return engine.Run(request) == 0;
}
