// hdiutil resize -sectors min P: shrinks a detached disk that create made, and its volume, to what the
// volume holds; the partition map is rewritten for the smaller disk.
#include "apfs/ApfsContainer.h"
#include "engine/builtin/AttachedVolumes.h"
#include "engine/builtin/CreatedDisk.h"
#include "engine/builtin/StandInVerbs.h"
#include "engine/ToolArguments.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace
{
bool ShrinkDisk(CCreatedDisk const& disk, std::string* error)
{
    uint64_t volumeBytes = 0;
    if (disk.apfs ? !ShrinkApfsContainer(disk.fd.Get(), disk.PartitionOffset(), disk.PartitionSize(), &volumeBytes, error)
                  : !ShrinkHfsVolume(disk.fd.Get(), disk.PartitionOffset(), disk.PartitionSize(), &volumeBytes, error))
        return false;
    CPartitionLayout layout = ComputePartitionLayout(disk.layout.totalSectors - disk.layout.partitionSectors +
                                                     volumeBytes / kSectorBytes);
    if (layout.totalSectors == disk.layout.totalSectors)
        return true;
    if (ftruncate(disk.fd.Get(), static_cast<off_t>(layout.totalSectors * kSectorBytes)) != 0)
    {
        *error = std::strerror(errno);
        return false;
    }
    return WritePartitionMap(disk.fd.Get(), layout, error, std::string(),
                             disk.apfs ? GetAppleApfsPartitionType() : GetAppleHfsPartitionType());
}
} // namespace

int RunHdiutilResize(CAttachedVolumes* volumes, std::vector<std::string> const& argv)
{
    CToolArguments arguments;
    std::string error;
    if (!ParseToolArguments(argv, 2, {"-sectors"}, {}, &arguments, &error))
        return ReportHdiutilFailure("resize", error);
    if (arguments.operands.size() != 1)
        return ReportHdiutilFailure("resize", "expected one image path, got " +
                                                  std::to_string(arguments.operands.size()));
    if (arguments.Value("-sectors") != "min")
        return ReportHdiutilFailure("resize", "only -sectors min is supported here");
    std::string const& imagePath = arguments.operands[0];
    if (volumes->FindByImage(imagePath) != nullptr)
        return ReportHdiutilFailure("resize", imagePath + " is attached; detach it first");

    CCreatedDisk disk;
    if (!OpenCreatedDisk(imagePath, O_RDWR, &disk, &error))
        return ReportHdiutilFailure("resize", imagePath + ": " + error);
    bool shrunk = ShrinkDisk(disk, &error);
    if (shrunk && fsync(disk.fd.Get()) != 0)
    {
        error = std::strerror(errno);
        shrunk = false;
    }
    std::string closeError;
    if (!CloseCreatedDisk(&disk, &closeError) && shrunk)
    {
        error = closeError;
        shrunk = false;
    }
    return shrunk ? 0 : ReportHdiutilFailure("resize", imagePath + ": " + error);
}
