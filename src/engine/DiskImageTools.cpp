#include "engine/DiskImageTools.h"

#include "engine/builtin/BuiltinDiskImageTools.h"

#include <cstring>

namespace
{
constexpr char const kBuiltinEngine[] = "builtin";
constexpr char const kSystemEngine[] = "hdiutil";

struct CEngineChoice
{
    bool chosen = false;
    bool useSystemTools = false;
};

CEngineChoice& Choice()
{
    static CEngineChoice choice;
    return choice;
}

bool HasSystemTools()
{
    static bool const has = MakeSystemDiskImageTools() != nullptr;
    return has;
}

CDiskImageTools*& CurrentTools()
{
    static CDiskImageTools* current = nullptr;
    return current;
}
} // namespace

std::vector<std::string> ListDiskImageEngines()
{
    std::vector<std::string> engines;
    if (HasSystemTools())
        engines.push_back(kSystemEngine);
    engines.push_back(kBuiltinEngine);
    return engines;
}

bool SelectDiskImageEngine(char const* name)
{
    CEngineChoice choice;
    choice.chosen = true;
    if (name == nullptr || *name == '\0')
        choice.useSystemTools = HasSystemTools();
    else if (std::strcmp(name, kSystemEngine) == 0 && HasSystemTools())
        choice.useSystemTools = true;
    else if (std::strcmp(name, kBuiltinEngine) != 0)
        return false;
    Choice() = choice;
    return true;
}

std::unique_ptr<CDiskImageTools> MakeDiskImageTools()
{
    if (!Choice().chosen)
        SelectDiskImageEngine(nullptr);
    if (Choice().useSystemTools)
        return MakeSystemDiskImageTools();
    return std::make_unique<CBuiltinDiskImageTools>();
}

CDiskImageTools& GetDiskImageTools()
{
    if (CurrentTools() != nullptr)
        return *CurrentTools();
    static std::unique_ptr<CDiskImageTools> const outsideBuilds = MakeDiskImageTools();
    return *outsideBuilds;
}

CDiskImageToolsScope::CDiskImageToolsScope() : tools(MakeDiskImageTools()), previous(CurrentTools())
{
    CurrentTools() = tools.get();
}

CDiskImageToolsScope::~CDiskImageToolsScope()
{
    CurrentTools() = previous;
}
