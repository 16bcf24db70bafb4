#include "engine/builtin/VolumeWriter.h"

#include "engine/builtin/ApfsDisk.h"

namespace
{
bool PlanApfsVolume(CVolumeTree const& tree, CVolumeWriterSettings const& settings, CPlannedVolume* planned,
                    std::string* error)
{
    CApfsSettings apfs = MakeApfsDiskSettings(settings.volumeName, settings.sizeBytes, settings.createDate);
    // The IDs promised to aliases are the items' inode numbers here. An APFS volume has no folder to
    // open on mount, so openFolderId has nowhere to go (the pipeline warns before it asks).
    for (auto const& [path, id] : settings.fixedIds)
    {
        if (!path.empty())
            apfs.fixedInodes[path] = id;
    }
    planned->partitionType = &GetAppleApfsPartitionType();
    return PlanApfsContainer(tree, apfs, &planned->apfsPlan, error);
}
} // namespace

bool PlanVolume(CVolumeTree const& tree, CVolumeWriterSettings const& settings, CPlannedVolume* planned,
                std::string* error)
{
    planned->apfs = settings.apfs;
    if (settings.apfs)
        return PlanApfsVolume(tree, settings, planned, error);
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
    if (planned->apfs)
    {
        // Planned again at the fewest blocks that hold the tree; the same settings otherwise, so the
        // identifiers and inode numbers stay.
        CApfsSettings smallest = planned->apfsPlan.settings;
        smallest.sizeBytes = 0;
        CApfsPlan shrunk;
        std::string ignored;
        if (PlanApfsContainer(*planned->apfsPlan.tree, smallest, &shrunk, &ignored))
            planned->apfsPlan = std::move(shrunk);
        return planned->apfsPlan.blockCount * kApfsBlockSize;
    }
    ShrinkHfsVolumePlan(&planned->hfs);
    return planned->hfs.sizeBytes;
}

bool StreamPlannedVolume(CPlannedVolume& planned, std::function<bool(uint64_t, uint64_t)> progress,
                         CDiskSink& sink, std::string* error)
{
    if (planned.apfs)
    {
        planned.apfsPlan.settings.progress = std::move(progress);
        return StreamApfsContainer(planned.apfsPlan, &sink, error);
    }
    planned.hfs.progress = std::move(progress);
    return StreamHfsVolume(planned.hfs, sink, error);
}
