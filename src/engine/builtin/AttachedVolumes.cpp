#include "engine/builtin/AttachedVolumes.h"

#include <climits>
#include <cstdlib>
#include <vector>

namespace
{
// A path without repeated or trailing slashes and without "." parts, for folders that are gone.
std::string TidyPath(std::string const& path)
{
    std::string tidy;
    size_t i = 0;
    while (i < path.size())
    {
        size_t end = path.find('/', i);
        if (end == std::string::npos)
            end = path.size();
        std::string part = path.substr(i, end - i);
        if (!part.empty() && part != ".")
            tidy += "/" + part;
        i = end + 1;
    }
    if (tidy.empty())
        return path.empty() || path[0] != '/' ? std::string() : std::string("/");
    return path[0] == '/' ? tidy : tidy.substr(1);
}
} // namespace

std::string CanonicalPath(std::string const& path)
{
    char resolved[PATH_MAX];
    if (path.empty() || realpath(path.c_str(), resolved) == nullptr)
        return std::string();
    return resolved;
}

void CAttachedVolumes::Add(CAttachedVolume const& volume)
{
    volumes.push_back(volume);
}

void CAttachedVolumes::Remove(std::string const& mountPoint)
{
    for (auto it = volumes.begin(); it != volumes.end(); ++it)
    {
        if (it->mountPoint == mountPoint)
        {
            volumes.erase(it);
            return;
        }
    }
}

CAttachedVolume* CAttachedVolumes::FindByMountPoint(std::string const& path)
{
    // The live folder may already be gone (removed by hand); then its spelling must match.
    std::string canonical = CanonicalPath(path);
    std::string tidy = TidyPath(path);
    for (CAttachedVolume& volume : volumes)
    {
        if (volume.mountPoint == canonical || volume.mountPoint == tidy)
            return &volume;
    }
    return nullptr;
}

CAttachedVolume* CAttachedVolumes::FindByImage(std::string const& path)
{
    std::string canonical = CanonicalPath(path);
    for (CAttachedVolume& volume : volumes)
    {
        if (!canonical.empty() && volume.imagePath == canonical)
            return &volume;
    }
    return nullptr;
}

CAttachedVolume* CAttachedVolumes::FindHolding(std::string const& path, std::string* relativePath)
{
    std::string canonical = CanonicalPath(path);
    if (canonical.empty())
        return nullptr;
    for (CAttachedVolume& volume : volumes)
    {
        std::string const& root = volume.mountPoint;
        if (canonical == root)
        {
            relativePath->clear();
            return &volume;
        }
        if (canonical.size() > root.size() && canonical.compare(0, root.size(), root) == 0 &&
            canonical[root.size()] == '/')
        {
            *relativePath = canonical.substr(root.size() + 1);
            return &volume;
        }
    }
    return nullptr;
}

uint32_t PromiseCatalogId(CAttachedVolume* volume, std::string const& relativePath)
{
    if (relativePath.empty())
        return kHfsRootFolderId;
    auto found = volume->promisedIds.find(relativePath);
    if (found != volume->promisedIds.end())
        return found->second;
    uint32_t id = volume->nextCatalogId++;
    volume->promisedIds[relativePath] = id;
    return id;
}
