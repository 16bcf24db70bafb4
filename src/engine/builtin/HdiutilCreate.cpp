// hdiutil create -type SPARSE -fs HFS+ -volname V -size Nm P: a sparse raw disk file with a GUID
// partition map and an empty HFS+ volume (-fs APFS: an empty APFS container, of at least its
// smallest size), written under a temporary name and then moved into place.
#include "engine/builtin/ApfsDisk.h"
#include "gpt/GuidPartitionMap.h"
#include "hfsplus/HfsVolume.h"
#include "io/HfsConstants.h"
#include "io/MacTime.h"
#include "io/TempOutputFile.h"
#include "engine/builtin/StandInVerbs.h"
#include "engine/ToolArguments.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
constexpr uint64_t kBlockBytes = kHfsBlockSize;
constexpr uint64_t kLargestPartition = 0xFFFFFFFFull * kBlockBytes; // HFS+ counts blocks in 32 bits

// Builds the disk in the open temporary file; false with a reason.
bool WriteFreshDisk(int fd, CPartitionLayout const& layout, std::string const& volumeName, bool apfs,
                    std::string* error)
{
    if (ftruncate(fd, static_cast<off_t>(layout.totalSectors * kSectorBytes)) != 0)
    {
        *error = std::strerror(errno);
        return false;
    }
    if (apfs)
        return WriteEmptyApfsDisk(fd, layout, volumeName, error);
    if (!WritePartitionMap(fd, layout, error, volumeName))
        return false;
    CHfsVolumeSettings settings;
    settings.volumeName = volumeName;
    settings.sizeBytes = layout.partitionSectors * kSectorBytes;
    settings.createDate = GetVolumeCreateDateNow();
    return WriteHfsVolume(fd, layout.partitionStart * kSectorBytes, settings, std::string(), error);
}
} // namespace

int RunHdiutilCreate(std::vector<std::string> const& argv)
{
    CToolArguments arguments;
    std::string error;
    if (!ParseToolArguments(argv, 2, {"-type", "-fs", "-volname", "-size"}, {}, &arguments, &error))
        return ReportHdiutilFailure("create", error);
    if (arguments.operands.size() != 1)
        return ReportHdiutilFailure("create", "expected one image path, got " +
                                                  std::to_string(arguments.operands.size()));
    if (arguments.Value("-type") != "SPARSE")
        return ReportHdiutilFailure("create", "only -type SPARSE images can be made here");
    bool const apfs = arguments.Value("-fs") == "APFS";
    if (arguments.Value("-fs") != "HFS+" && !apfs)
        return ReportHdiutilFailure("create", "only -fs HFS+ and -fs APFS volumes can be made here");
    if (!arguments.Has("-size"))
        return ReportHdiutilFailure("create", "no size given (-size)");
    std::string volumeName = arguments.Has("-volname") ? arguments.Value("-volname") : "untitled";
    if (volumeName.empty())
        return ReportHdiutilFailure("create", "the volume name is empty");

    unsigned long long sizeBytes = 0;
    if (!ParseImageSize(arguments.Value("-size"), &sizeBytes, &error))
        return ReportHdiutilFailure("create", error);
    // Whole 4 KiB blocks, so that the partition holds whole allocation blocks.
    if (sizeBytes > ~0ULL - kBlockBytes)
        return ReportHdiutilFailure("create", "size " + arguments.Value("-size") + " is too large");
    sizeBytes = (sizeBytes + kBlockBytes - 1) / kBlockBytes * kBlockBytes;
    if (apfs)
        sizeBytes = std::max<uint64_t>(sizeBytes, GetMinimumApfsPartitionSize() + 80 * kSectorBytes);
    CPartitionLayout layout = ComputePartitionLayout(sizeBytes / kSectorBytes);
    uint64_t partitionBytes = layout.partitionSectors * kSectorBytes;
    uint64_t minimum = GetMinimumHfsVolumeSize();
    if (partitionBytes < minimum)
        return ReportHdiutilFailure(
            "create", "size " + arguments.Value("-size") + " is too small for an HFS+ volume (the least is " +
                          std::to_string((minimum + 80 * kSectorBytes + 1023) / 1024) + "k)");
    if (partitionBytes > kLargestPartition)
        return ReportHdiutilFailure("create", "size " + arguments.Value("-size") + " is too large for HFS+");

    std::string const& path = arguments.operands[0];
    struct stat existing;
    if (lstat(path.c_str(), &existing) == 0)
        return ReportHdiutilFailure("create", "File exists");

    // Never over a file that appeared meanwhile; a failed create leaves nothing behind.
    CTempOutputFile disk;
    if (!disk.Open(path, &error))
        return ReportHdiutilFailure("create", std::strerror(disk.GetErrorNumber()));
    if (!WriteFreshDisk(disk.GetDescriptor(), layout, volumeName, apfs, &error))
        return ReportHdiutilFailure("create", error);
    if (!disk.Commit(&error, CTempOutputFile::ECommit::KeepExisting))
        return ReportHdiutilFailure("create", std::strerror(disk.GetErrorNumber()));
    std::printf("created: %s\n", path.c_str());
    return 0;
}
