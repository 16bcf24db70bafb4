// APFS disks of the stand-in hdiutil.
#include "engine/builtin/ApfsDisk.h"

#include "apfs/ApfsContainer.h"
#include "apfs/ApfsReader.h"
#include "apfs/ApfsSpaceManager.h"
#include "hfsplus/HfsFileIo.h"
#include "io/ByteOrder.h"
#include "io/MacTime.h"
#include "volume/HostTree.h"

#include <ctime>

namespace
{
// The container's identifiers are derived from what it is made of, so a rebuild keeps them.
std::string MakeIdentitySeed(std::string const& volumeName, uint64_t sizeBytes, uint32_t createDate)
{
    return volumeName + "\n" + std::to_string(sizeBytes) + "\n" + std::to_string(createDate);
}

CApfsSettings MakeSettings(std::string const& volumeName, uint64_t sizeBytes, uint32_t createDate)
{
    CApfsSettings settings;
    settings.volumeName = volumeName;
    settings.sizeBytes = sizeBytes;
    uint32_t const fixed = GetReproducibleMacTime();
    uint32_t const gmt = fixed ? fixed : ConvertLocalMacTimeToGmt(createDate);
    settings.createTime = (int64_t(gmt) - kSecondsFrom1904To1970) * 1000000000ll;
    settings.fixedDates = fixed != 0;
    settings.identitySeed = MakeIdentitySeed(volumeName, sizeBytes, createDate);
    return settings;
}

bool WriteTree(int fd, uint64_t offset, CVolumeTree const& tree, CApfsSettings const& settings, std::string* error)
{
    CApfsPlan plan;
    if (!PlanApfsContainer(tree, settings, &plan, error))
        return false;
    CFileDiskSink sink(fd, offset);
    return StreamApfsContainer(plan, &sink, error);
}

CApfsReadAt MakeReader(int fd, uint64_t offset)
{
    return [fd, offset](uint64_t at, uint8_t* data, size_t size, std::string* error) {
        return ReadAllAt(fd, data, size, offset + at, error);
    };
}
} // namespace

uint64_t GetMinimumApfsPartitionSize()
{
    return GetMinimumApfsContainerSize();
}

bool WriteEmptyApfsDisk(int fd, CPartitionLayout const& layout, std::string const& volumeName, std::string* error)
{
    if (!WritePartitionMap(fd, layout, error, volumeName, GetAppleApfsPartitionType()))
        return false;
    CVolumeTree const empty;
    uint64_t const size = layout.partitionSectors * kSectorBytes;
    return WriteTree(fd, layout.partitionStart * kSectorBytes, empty, MakeSettings(volumeName, size, GetVolumeCreateDateNow()),
                     error);
}

bool ReadApfsDiskVolume(int fd, uint64_t partitionOffset, std::string* volumeName, uint32_t* createDate,
                        uint32_t* itemCount, std::string* error)
{
    CApfsVolumeListing listing;
    if (!ReadApfsVolumeListing(MakeReader(fd, partitionOffset), &listing, error))
        return false;
    *volumeName = listing.volumeName;
    int64_t const seconds = listing.createTime / 1000000000ll;
    *createDate = ConvertToMacTime(seconds + (GetReproducibleMacTime() ? 0 : GetLocalOffsetAt(seconds)));
    *itemCount = 0;
    for (auto const& item : listing.items)
        if (item.first >= 16)
            ++*itemCount;
    return true;
}

bool WriteApfsDiskVolume(CAttachedVolume const& volume, int fd, std::function<bool(uint64_t, uint64_t)> progress,
                         std::string* error)
{
    CVolumeTree tree;
    if (!ReadHostTree(volume.mountPoint, &tree, error, "an APFS volume"))
        return false;
    for (auto const& [path, flags] : volume.finderFlags)
    {
        size_t const index = tree.FindPath(path);
        if (index != CVolumeTree::kNone)
            tree.Get(index).finderFlags = flags;
    }
    CApfsSettings settings = MakeSettings(volume.volumeName, volume.partitionSize, volume.createDate);
    for (auto const& [path, id] : volume.promisedIds)
        if (!path.empty())
            settings.fixedInodes[path] = id;
    settings.progress = std::move(progress);
    CApfsPlan plan;
    if (!PlanApfsContainer(tree, settings, &plan, error))
        return false;
    CFileDiskSink sink(fd, volume.partitionOffset);
    if (StreamApfsContainer(plan, &sink, error))
        return true;
    std::string ignored;
    WriteTree(fd, volume.partitionOffset, CVolumeTree(),
              MakeSettings(volume.volumeName, volume.partitionSize, volume.createDate), &ignored);
    return false;
}

bool ReadApfsFreeRanges(int fd, uint64_t partitionOffset, std::vector<std::pair<uint64_t, uint64_t>>* ranges,
                        std::string* error)
{
    // The containers made here allocate one run from block 0, up to the end of the space manager's
    // internal pool; its superblock and space manager say where that ends.
    uint8_t super[kApfsBlockSize], spaceman[kApfsBlockSize];
    if (!ReadAllAt(fd, super, sizeof super, partitionOffset, error) ||
        !ReadAllAt(fd, spaceman, sizeof spaceman, partitionOffset + kApfsSpacemanBlock * kApfsBlockSize, error))
        return false;
    uint64_t const blocks = GetLe64(super + 40);
    uint64_t const used = GetLe64(spaceman + 176) + GetLe64(spaceman + 152);
    if (!IsApfsContainer(super, sizeof super) || used > blocks)
    {
        *error = "the partition holds no APFS container made here";
        return false;
    }
    if (used < blocks)
        ranges->push_back({used * kApfsBlockSize, (blocks - used) * kApfsBlockSize});
    return true;
}
