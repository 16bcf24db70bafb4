#include "engine/builtin/StandInAlias.h"

#include "finder/AliasRecord.h"
#include "io/MacTime.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

bool MakeStandInAlias(CAttachedVolumes* volumes, CFileRef const* fromFile, CFileRef const& target,
                      CAliasHandle* alias, std::string* error)
{
    struct stat info;
    if (stat(target.path.c_str(), &info) != 0)
    {
        *error = target.path + ": " + std::strerror(errno);
        return false;
    }
    std::string relativePath;
    CAttachedVolume* volume = volumes->FindHolding(target.path, &relativePath);
    if (volume == nullptr)
    {
        *error = target.path + " is not on an attached volume";
        return false;
    }
    if (relativePath.empty())
    {
        *error = target.path + " is the volume itself; only items on it are aliased here";
        return false;
    }
    std::string fromPath;
    if (fromFile != nullptr && volumes->FindHolding(fromFile->path, &fromPath) != volume)
    {
        // A relative path only exists between items of one volume.
        *error = fromFile->path + " is not on the volume of " + target.path;
        return false;
    }

    // In a reproducible build every date is the one fixed date, in whatever time zone.
    uint32_t const fixedDate = GetReproducibleMacTime();
    CAliasFacts facts;
    facts.targetIsFolder = S_ISDIR(info.st_mode);
    facts.volumeName = volume->volumeName;
    facts.volumeCreateDate = volume->createDate;
    facts.volumeCreateDateGmt = fixedDate ? fixedDate : ConvertLocalMacTimeToGmt(volume->createDate);
    facts.pathNames = SplitRelativePath(relativePath);
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
    {
        *error = "the alias record of " + target.path + " would exceed 64 KiB";
        return false;
    }
    *alias = std::make_unique<CAliasRecord>();
    (*alias)->bytes.assign(bytes.begin(), bytes.end());
    return true;
}
