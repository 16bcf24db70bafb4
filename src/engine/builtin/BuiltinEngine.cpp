// The builtin engine's image steps: create, attach, detach, resize and convert.
#include "engine/builtin/BuiltinEngine.h"

#include "engine/Engines.h"
#include "engine/TemporaryMountPoint.h"
#include "io/TemporaryFolder.h"
#include "engine/builtin/ApfsDisk.h"
#include "engine/builtin/CreatedDisk.h"
#include "io/HfsConstants.h"
#include "io/MacTime.h"
#include "io/TempOutputFile.h"
#include "sys/Interruption.h"
#include "sys/ProgressLine.h"
#include "sys/ShellRun.h"
#include "udif/UdifImageSink.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
constexpr uint64_t kBlockBytes = kHfsBlockSize;
constexpr uint64_t kLargestPartition = 0xFFFFFFFFull * kBlockBytes; // HFS+ counts blocks in 32 bits

// As hdiutil reports a failed verb; the exit status for it.
int ReportHdiutilFailure(char const* verb, std::string const& reason)
{
    std::fprintf(stderr, "hdiutil: %s failed - %s\n", verb, reason.c_str());
    return 1;
}

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

std::unique_ptr<CDiskImageEngine> MakeBuiltinDiskImageEngine()
{
    return std::make_unique<CBuiltinEngine>();
}

int CBuiltinEngine::Run(CEngineRequest const& request)
{
    // A step that gives up with a thrown text fails like a tool that exits non-zero, so the pipeline
    // still detaches and cleans up.
    int status = 1;
    try
    {
        status = std::visit([this](auto const& typed) { return Handle(typed); }, request);
    }
    catch (std::exception const& error)
    {
        std::fprintf(stderr, "Internal Error: '%s'\n", error.what());
    }
    std::fflush(stdout);
    std::fflush(stderr);
    return status;
}

bool CBuiltinEngine::MakeMountPoint(std::string* mountPoint, std::string*)
{
    // Only a name: the volume is held in memory, so nothing is made there and nothing can be left.
    *mountPoint = DrawMountPointName(GetTemporaryFolder());
    return true;
}

int CBuiltinEngine::Handle(CRemoveRequest const& request)
{
    // A file outside the volume, removed by the system's own rm, which also says why it couldn't.
    return RunInShell(FormatRequestText(request));
}

int CBuiltinEngine::Handle(CCreateRequest const& request)
{
    std::string const size = std::to_string(request.sizeMegabytes) + "m";
    if (request.volumeName.empty())
        return ReportHdiutilFailure("create", "the volume name is empty");
    if (request.sizeMegabytes <= 0)
        return ReportHdiutilFailure("create", "invalid size '" + size + "': the size must be greater than zero");
    bool const apfs = request.filesystem == "APFS";
    if (!apfs && request.filesystem != "HFS+")
        return ReportHdiutilFailure("create", "only -fs HFS+ and -fs APFS volumes can be made here");
    uint64_t sizeBytes = uint64_t(request.sizeMegabytes) << 20; // whole 4 KiB blocks
    if (apfs) // a smaller container is laid out differently by Apple's tools; free space costs nothing
        sizeBytes = std::max<uint64_t>(sizeBytes, GetMinimumApfsPartitionSize() + 80 * kSectorBytes);
    CPartitionLayout layout = ComputePartitionLayout(sizeBytes / kSectorBytes);
    uint64_t partitionBytes = layout.partitionSectors * kSectorBytes;
    uint64_t minimum = GetMinimumHfsVolumeSize();
    if (!apfs && partitionBytes < minimum)
        return ReportHdiutilFailure("create", "size " + size + " is too small for an HFS+ volume (the least is " +
                                                  std::to_string((minimum + 80 * kSectorBytes + 1023) / 1024) + "k)");
    if (!apfs && partitionBytes > kLargestPartition)
        return ReportHdiutilFailure("create", "size " + size + " is too large for HFS+");

    std::string error;
    struct stat existing;
    if (lstat(request.sparseImage.c_str(), &existing) == 0)
        return ReportHdiutilFailure("create", "File exists");
    // Never over a file that appeared meanwhile; a failed create leaves nothing behind.
    CTempOutputFile disk;
    if (!disk.Open(request.sparseImage, &error))
        return ReportHdiutilFailure("create", std::strerror(disk.GetErrorNumber()));
    if (!WriteFreshDisk(disk.GetDescriptor(), layout, request.volumeName, apfs, &error))
        return ReportHdiutilFailure("create", error);
    if (!disk.Commit(&error, CTempOutputFile::ECommit::KeepExisting))
        return ReportHdiutilFailure("create", std::strerror(disk.GetErrorNumber()));
    std::printf("created: %s\n", request.sparseImage.c_str());
    return 0;
}

int CBuiltinEngine::Handle(CAttachRequest const& request)
{
    if (m_volume)
        return ReportHdiutilFailure("attach", m_volume->sparseImage + " is attached; only one volume at a time");
    std::string error;
    CCreatedDisk disk;
    if (!OpenCreatedDisk(request.sparseImage, O_RDONLY, &disk, &error))
        return ReportHdiutilFailure("attach", request.sparseImage + ": " + error);
    CloseCreatedDisk(&disk, &error);
    // The tree starts empty; attaching a volume that holds files would lose them.
    if (disk.fileCount != 0 || disk.folderCount != 0)
        return ReportHdiutilFailure("attach", request.sparseImage + ": the volume already holds files; only a freshly "
                                                                    "created volume can be attached here");
    m_planned.erase(request.sparseImage);
    CVolume volume;
    volume.sparseImage = request.sparseImage;
    volume.mountPoint = request.mountPoint;
    volume.volumeName = disk.volume.volumeName;
    volume.createDate = disk.volume.createDate;
    volume.layout = disk.layout;
    volume.apfs = disk.apfs;
    volume.nextCatalogId = kHfsFirstUserId;
    m_volume = std::move(volume);
    std::printf("attached: %s at %s\n", request.sparseImage.c_str(), request.mountPoint.c_str());
    return 0;
}

int CBuiltinEngine::Handle(CDetachRequest const& request)
{
    if (!m_volume || m_volume->mountPoint != request.mountPoint)
        return ReportHdiutilFailure("detach", request.mountPoint + ": no volume is attached there");
    if (!request.force)
    {
        if (!m_volume->detachFailure.empty())
            return ReportHdiutilFailure("detach", m_volume->detachFailure);
        CVolumeWriterSettings settings;
        settings.apfs = m_volume->apfs;
        settings.volumeName = m_volume->volumeName;
        settings.sizeBytes = m_volume->layout.partitionSectors * kSectorBytes;
        settings.createDate = m_volume->createDate;
        settings.openFolderId = m_volume->openFolderId;
        settings.fixedIds = m_volume->promisedIds;
        settings.fixedDate = GetReproducibleMacTime();
        settings.describePrefix = request.mountPoint + "/";
        CPlannedDisk planned;
        planned.tree = std::make_unique<CVolumeTree>(std::move(m_volume->tree));
        planned.tree->Compact(); // nothing is added after this, and the plan is made beside it
        planned.layout = m_volume->layout;
        planned.guidSeed = m_volume->volumeName;
        std::string error;
        PauseHereIfTestAsks("volume");
        if (!PlanVolume(*planned.tree, settings, &planned.volume, &error))
            return ReportHdiutilFailure("detach", error);
        m_planned[m_volume->sparseImage] = std::move(planned);
    }
    std::printf("\"%s\" ejected.\n", request.mountPoint.c_str());
    m_volume.reset();
    return 0;
}

int CBuiltinEngine::Handle(CResizeRequest const& request)
{
    if (m_volume && m_volume->sparseImage == request.sparseImage)
        return ReportHdiutilFailure("resize", request.sparseImage + " is attached; detach it first");
    auto found = m_planned.find(request.sparseImage);
    if (found == m_planned.end())
        return ReportHdiutilFailure("resize", request.sparseImage + ": no detached volume of this image");
    CPlannedDisk& disk = found->second;
    uint64_t const volumeBytes = ShrinkPlannedVolume(&disk.volume);
    CPartitionLayout layout = ComputePartitionLayout(disk.layout.totalSectors - disk.layout.partitionSectors +
                                                     volumeBytes / kSectorBytes);
    if (layout.totalSectors != disk.layout.totalSectors)
    {
        // The disk's map is written anew for the smaller disk, without the volume name.
        disk.layout = layout;
        disk.guidSeed.clear();
    }
    return 0;
}

int CBuiltinEngine::Handle(CConvertRequest const& request)
{
    if (m_volume && m_volume->sparseImage == request.sparseImage)
        return ReportHdiutilFailure("convert", request.sparseImage + " is attached; detach it first");
    if (request.file.empty())
        return ReportHdiutilFailure("convert", "no output path given (-o)");
    struct stat existing;
    if (lstat(request.file.c_str(), &existing) == 0)
        return ReportHdiutilFailure("convert", request.file + ": File exists");
    auto found = m_planned.find(request.sparseImage);
    if (found == m_planned.end())
        return ReportHdiutilFailure("convert", request.sparseImage + ": no detached volume of this image");
    CPlannedDisk& disk = found->second;

    std::string error;
    bool written = false;
    {
        // Cleared again before anything else is printed.
        CProgressLine line("Compressing");
        CUdifProgress progress = [&line](uint64_t done, uint64_t total)
        {
            line.Update(done, total, kSectorBytes);
            PauseHereIfTestAsks("compress");
            return GetPendingInterrupt() == 0;
        };
        CUdifImageSink image(ListPartitionRegions(disk.layout, *disk.volume.partitionType), request.format->format,
                             request.format->zlibLevel, progress);
        auto streamVolume = [&disk](CDiskSink& sink, std::string* reason)
        {
            return StreamPlannedVolume(disk.volume, [](uint64_t, uint64_t) { return GetPendingInterrupt() == 0; },
                                       sink, reason);
        };
        written = image.Open(request.file, &error) &&
                  StreamGptDisk(disk.layout, streamVolume, image, &error, disk.guidSeed, *disk.volume.partitionType) &&
                  image.Finish(m_licence, &error);
    }
    m_planned.erase(found);
    if (!written)
        return ReportHdiutilFailure("convert", error);
    std::printf("created: %s\n", request.file.c_str());
    return 0;
}
