// hdiutil detach M [-force]: writes the live folder's tree into the volume of its disk file and
// removes the folder. When the tree can't be written the folder stays and the disk keeps an empty
// volume; -force then drops the folder without writing.
#include "engine/builtin/ApfsDisk.h"
#include "hfsplus/HfsVolume.h"
#include "io/FileDescriptor.h"
#include "io/MacTime.h"
#include "engine/builtin/AttachedVolumes.h"
#include "sys/Interruption.h"
#include "sys/ProgressLine.h"
#include "sys/RemoveTree.h"
#include "engine/builtin/StandInVerbs.h"
#include "engine/ToolArguments.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace
{
CHfsVolumeSettings MakeVolumeSettings(CAttachedVolume const& volume)
{
    CHfsVolumeSettings settings;
    settings.volumeName = volume.volumeName;
    settings.sizeBytes = volume.partitionSize;
    settings.createDate = volume.createDate;
    settings.openFolderId = volume.openFolderId;
    settings.fixedIds = volume.promisedIds;
    settings.fixedDate = GetReproducibleMacTime();
    settings.finderFlags = volume.finderFlags;
    return settings;
}

// Writes the tree into the partition. A tree the writer refuses leaves the disk untouched; a write
// that breaks off midway would leave a damaged volume, so an empty one (what attach started from) is
// put back on any failure.
bool WriteVolume(CAttachedVolume const& volume, std::string* error)
{
    CFileDescriptor disk(open(volume.imagePath.c_str(), O_RDWR | O_CLOEXEC));
    int const fd = disk.Get();
    if (!disk.IsOpen())
    {
        *error = volume.imagePath + ": " + std::strerror(errno);
        return false;
    }
    CHfsVolumeSettings settings = MakeVolumeSettings(volume);
    CProgressLine line("Writing volume");
    settings.progress = [&line](uint64_t done, uint64_t total)
    {
        line.Update(done, total);
        PauseHereIfTestAsks("volume");
        return GetPendingInterrupt() == 0;
    };
    bool written = volume.apfs ? WriteApfsDiskVolume(volume, fd, settings.progress, error)
                               : WriteHfsVolume(fd, volume.partitionOffset, settings, volume.mountPoint, error);
    if (written && fsync(fd) != 0)
    {
        *error = volume.imagePath + ": " + std::strerror(errno);
        written = false;
    }
    if (!written && !volume.apfs) // the APFS writer puts its own empty container back
    {
        CHfsVolumeSettings empty = settings;
        empty.openFolderId = 0;
        empty.fixedIds.clear();
        empty.progress = nullptr;
        empty.finderFlags.clear();
        std::string ignored;
        WriteHfsVolume(fd, volume.partitionOffset, empty, std::string(), &ignored);
    }
    if (int const closeError = disk.Close(); closeError != 0 && written)
    {
        *error = volume.imagePath + ": " + std::strerror(closeError);
        written = false;
    }
    return written;
}

} // namespace

int RunHdiutilDetach(CAttachedVolumes* volumes, std::vector<std::string> const& argv)
{
    CToolArguments arguments;
    std::string error;
    if (!ParseToolArguments(argv, 2, {}, {"-force"}, &arguments, &error))
        return ReportHdiutilFailure("detach", error);
    if (arguments.operands.size() != 1)
        return ReportHdiutilFailure("detach", "expected one mount point, got " +
                                                  std::to_string(arguments.operands.size()));
    std::string const& mountPoint = arguments.operands[0];
    CAttachedVolume* volume = volumes->FindByMountPoint(mountPoint);
    if (volume == nullptr)
        return ReportHdiutilFailure("detach", mountPoint + ": no volume is attached there");

    if (!arguments.Has("-force") && !WriteVolume(*volume, &error))
        return ReportHdiutilFailure("detach", error);
    if (!RemoveTreeForced(volume->mountPoint, &error))
        return ReportHdiutilFailure("detach", error);
    std::printf("\"%s\" ejected.\n", mountPoint.c_str());
    volumes->Remove(volume->mountPoint);
    return 0;
}
