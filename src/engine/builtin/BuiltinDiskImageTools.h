// The disk-image tools done in process: the stand-ins for hdiutil, bless, xattr and tiffutil, and
// the alias records of items on the volumes they attached. Each instance has its own table of
// attached volumes.
#pragma once

#include "engine/builtin/AttachedVolumes.h"
#include "engine/DiskImageTools.h"

class CBuiltinDiskImageTools : public CDiskImageTools
{
public:
    int Run(CToolCommand const& command) override;
    bool MakeMountPoint(std::string* mountPoint, std::string* error) override;
    void RemoveMountPoint(std::string const& mountPoint) override;
    bool IsMountPointStagingFolder() const override { return true; }
    CFinderInfo ReadFinderInfo(std::string const& path) override;
    bool FSNewAlias(CFileRef const* fromFile, CFileRef const& target, CAliasHandle* alias,
                    std::string* error) override;

    // Runs the operation's stand-in verb with the whole argv, the tool's name first, as the tool
    // would get it; its exit status.
    int RunStandIn(EToolOperation operation, std::vector<std::string> const& argv);

private:
    CAttachedVolumes volumes;
};
