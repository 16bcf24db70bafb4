#include "engine/builtin/VolumeWriter.h"

bool PlanVolume(CVolumeTree const& tree, CVolumeWriterSettings const& settings, CPlannedVolume* planned,
                std::string* error)
{
    CHfsVolumeSettings hfs;
    hfs.volumeName = settings.volumeName;
    hfs.sizeBytes = settings.sizeBytes;
    hfs.createDate = settings.createDate;
    hfs.openFolderId = settings.openFolderId;
    hfs.fixedIds = settings.fixedIds;
    hfs.fixedDate = settings.fixedDate;
    planned->partitionType = &GetAppleHfsPartitionType();
    return PlanHfsVolumeFromTree(tree, hfs, settings.describePrefix, &planned->hfs, error);
}

uint64_t ShrinkPlannedVolume(CPlannedVolume* planned)
{
    ShrinkHfsVolumePlan(&planned->hfs);
    return planned->hfs.sizeBytes;
}

bool StreamPlannedVolume(CPlannedVolume& planned, std::function<bool(uint64_t, uint64_t)> progress,
                         CDiskSink& sink, std::string* error)
{
    planned.hfs.progress = std::move(progress);
    return StreamHfsVolume(planned.hfs, sink, error);
}
