// The alias manager operations on top of the stand-in hdiutil: an alias record can be made for an
// item on an attached volume, naming the catalog node IDs the volume will give it when written.
#include "platform/AliasManager.h"

#include "io/MacTime.h"
#include "platform/AliasRecord.h"
#include "platform/AttachedVolumes.h"

#include <sys/stat.h>

namespace
{
constexpr int kNoSuchVolumeErr = -35; // nsvErr
constexpr int kFileNotFoundErr = -43; // fnfErr
constexpr int kParameterErr = -50;    // paramErr

std::vector<std::string> SplitPath(std::string const& relativePath)
{
    std::vector<std::string> names;
    size_t start = 0;
    while (start <= relativePath.size() && !relativePath.empty())
    {
        size_t end = relativePath.find('/', start);
        if (end == std::string::npos)
            end = relativePath.size();
        names.push_back(relativePath.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

} // namespace

int FSPathMakeRef(char const* path, CFileRef* ref, bool* isDirectory)
{
    if (path == nullptr || ref == nullptr)
        return kParameterErr;
    struct stat info;
    if (stat(path, &info) != 0)
        return kFileNotFoundErr;
    ref->path = path;
    if (isDirectory != nullptr)
        *isDirectory = S_ISDIR(info.st_mode);
    return 0;
}

int FSNewAlias(CFileRef const* fromFile, CFileRef const& target, CAliasHandle* alias)
{
    if (alias == nullptr)
        return kParameterErr;
    struct stat info;
    if (stat(target.path.c_str(), &info) != 0)
        return kFileNotFoundErr;
    std::string relativePath;
    CAttachedVolume* volume = FindVolumeHolding(target.path, &relativePath);
    if (volume == nullptr)
        return kNoSuchVolumeErr;
    if (relativePath.empty())
        return kParameterErr; // the volume itself; only items on it are aliased here

    std::string fromPath;
    if (fromFile != nullptr && FindVolumeHolding(fromFile->path, &fromPath) != volume)
        return kParameterErr; // a relative path only exists between items of one volume

    // In a reproducible build every date is the one fixed date, in whatever time zone.
    uint32_t const fixedDate = GetReproducibleMacTime();
    CAliasFacts facts;
    facts.targetIsFolder = S_ISDIR(info.st_mode);
    facts.volumeName = volume->volumeName;
    facts.volumeCreateDate = volume->createDate;
    facts.volumeCreateDateGmt = fixedDate ? fixedDate : ConvertLocalMacTimeToGmt(volume->createDate);
    facts.pathNames = SplitPath(relativePath);
    std::string prefix;
    for (size_t i = 0; i + 1 < facts.pathNames.size(); ++i)
    {
        prefix += (i == 0 ? "" : "/") + facts.pathNames[i];
        facts.folderIds.push_back(PromiseCatalogId(volume, prefix));
    }
    facts.targetId = PromiseCatalogId(volume, relativePath);
    facts.targetCreateDate = fixedDate ? fixedDate : ConvertToMacTime(info.st_mtime);
    facts.targetCreateDateLocal = fixedDate ? fixedDate : ConvertGmtMacTimeToLocal(facts.targetCreateDate);
    // Like the Finder's aliases of background pictures, the record names no relative path
    // (levels -1/-1): the folder it is relative to only has to be on the same volume.

    std::vector<uint8_t> bytes = BuildAliasRecord(facts);
    if (bytes.empty())
        return kParameterErr;
    *alias = std::make_unique<CAliasRecord>();
    (*alias)->bytes.assign(bytes.begin(), bytes.end());
    return 0;
}

unsigned int GetAliasSize(CAliasHandle const& alias)
{
    return alias ? static_cast<unsigned int>(alias->bytes.size()) : 0;
}
