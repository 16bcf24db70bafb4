#include "platform/CreatedDisk.h"

#include "bytes/ByteOrder.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace
{
// Fields of the HFS+ volume header, which sits 1024 bytes into the partition.
constexpr uint64_t kVolumeHeaderOffset = 1024;
constexpr uint16_t kHfsPlusSignature = 0x482B; // 'H+'
constexpr uint16_t kHfsPlusVersion = 4;

bool CheckVolumeHeader(CCreatedDisk* disk, std::string* error)
{
    uint8_t header[512];
    ssize_t n = pread(disk->fd, header, sizeof header,
                      static_cast<off_t>(disk->PartitionOffset() + kVolumeHeaderOffset));
    if (n != static_cast<ssize_t>(sizeof header) || GetBigEndian(header, 2) != kHfsPlusSignature ||
        GetBigEndian(header + 2, 2) != kHfsPlusVersion)
    {
        *error = "the partition holds no HFS+ volume";
        return false;
    }
    disk->fileCount = static_cast<uint32_t>(GetBigEndian(header + 32, 4));
    disk->folderCount = static_cast<uint32_t>(GetBigEndian(header + 36, 4));
    return ReadHfsVolumeInfo(disk->fd, disk->PartitionOffset(), &disk->volume, error);
}
} // namespace

bool OpenCreatedDisk(std::string const& path, int openFlags, CCreatedDisk* disk, std::string* error)
{
    disk->fd = open(path.c_str(), openFlags | O_CLOEXEC);
    if (disk->fd < 0)
    {
        *error = std::strerror(errno);
        return false;
    }
    if (ReadPartitionMap(disk->fd, &disk->layout, error) && CheckVolumeHeader(disk, error))
        return true;
    close(disk->fd);
    disk->fd = -1;
    return false;
}

bool CloseCreatedDisk(CCreatedDisk* disk, std::string* error)
{
    if (disk->fd < 0)
        return true;
    int result = close(disk->fd);
    disk->fd = -1;
    if (result != 0)
    {
        *error = std::strerror(errno);
        return false;
    }
    return true;
}
