#include "engine/builtin/CreatedDisk.h"

#include "engine/builtin/ApfsDisk.h"

#include "io/ByteOrder.h"
#include "io/FullTransfer.h"
#include "io/HfsConstants.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace
{
bool CheckVolumeHeader(CCreatedDisk* disk, std::string* error)
{
    uint8_t header[512];
    if (!ReadFullyAt(disk->fd.Get(), header, sizeof header, disk->PartitionOffset() + kHfsVolumeHeaderOffset) ||
        GetBe16(header) != kHfsPlusSignature ||
        GetBe16(header + 2) != kHfsPlusVersion)
    {
        *error = "the partition holds no HFS+ volume";
        return false;
    }
    disk->fileCount = GetBe32(header + 32);
    disk->folderCount = GetBe32(header + 36);
    return ReadHfsVolumeInfo(disk->fd.Get(), disk->PartitionOffset(), &disk->volume, error);
}
} // namespace

bool OpenCreatedDisk(std::string const& path, int openFlags, CCreatedDisk* disk, std::string* error)
{
    disk->fd.Reset(open(path.c_str(), openFlags | O_CLOEXEC));
    if (!disk->fd.IsOpen())
    {
        *error = std::strerror(errno);
        return false;
    }
    CPartitionType const* type = nullptr;
    if (!ReadPartitionMap(disk->fd.Get(), &disk->layout, error, &type))
    {
        disk->fd.Reset();
        return false;
    }
    disk->apfs = type == &GetAppleApfsPartitionType();
    if (disk->apfs && ReadApfsDiskVolume(disk->fd.Get(), disk->PartitionOffset(), &disk->volume.volumeName,
                                         &disk->volume.createDate, &disk->fileCount, error))
        return true;
    if (!disk->apfs && CheckVolumeHeader(disk, error))
        return true;
    disk->fd.Reset();
    return false;
}

bool CloseCreatedDisk(CCreatedDisk* disk, std::string* error)
{
    if (int const closeError = disk->fd.Close())
    {
        *error = std::strerror(closeError);
        return false;
    }
    return true;
}
