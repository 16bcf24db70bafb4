// APFS disks of the builtin engine.
#include "engine/builtin/ApfsDisk.h"

#include "apfs/ApfsContainer.h"
#include "apfs/ApfsReader.h"
#include "apfs/ApfsSpaceManager.h"
#include "hfsplus/HfsFileIo.h"
#include "io/ByteOrder.h"
#include "io/MacTime.h"

#include <ctime>

namespace
{
// The container's identifiers are derived from what it is made of, so a rebuild keeps them.
std::string MakeIdentitySeed(std::string const& volumeName, uint64_t sizeBytes, uint32_t createDate)
{
    return volumeName + "\n" + std::to_string(sizeBytes) + "\n" + std::to_string(createDate);
}

} // namespace

CApfsSettings MakeApfsDiskSettings(std::string const& volumeName, uint64_t sizeBytes, uint32_t createDate)
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

namespace
{
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
    return WriteTree(fd, layout.partitionStart * kSectorBytes, empty, MakeApfsDiskSettings(volumeName, size, GetVolumeCreateDateNow()),
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
