// Reading the preview's files from a folder on disk, never from outside it.
#include "preview/PreviewFolderReader.h"

#include "io/FileDescriptor.h"
#include "io/FullTransfer.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace
{
std::string ResolvePath(std::string const& path)
{
    char* resolved = realpath(path.c_str(), nullptr);
    if (!resolved)
        return std::string();
    std::string text(resolved);
    std::free(resolved);
    return text;
}

EVolumeEntry Refuse(std::string* error, std::string const& reason)
{
    if (error)
        *error = reason;
    return EVolumeEntry::Missing;
}
} // namespace

CVolumeReader MakeFolderVolumeReader(std::string const& root)
{
    std::string const resolvedRoot = ResolvePath(root);
    return [resolvedRoot](std::string const& volumePath, std::vector<uint8_t>* bytes, std::string* error)
    {
        if (resolvedRoot.empty())
            return Refuse(error, "the volume's folder can't be read");
        if (volumePath.empty() || volumePath[0] != '/')
            return Refuse(error, "'" + volumePath + "' is not a path from the volume's root");
        std::string const resolved = ResolvePath(resolvedRoot + volumePath);
        if (resolved.empty())
            return Refuse(error, "'" + volumePath + "' is not on the volume");
        if (resolved != resolvedRoot && resolved.compare(0, resolvedRoot.size() + 1, resolvedRoot + "/") != 0)
            return Refuse(error, "'" + volumePath + "' leads out of the volume");
        struct stat info;
        if (stat(resolved.c_str(), &info) != 0)
            return Refuse(error, "'" + volumePath + "' is not on the volume");
        if (S_ISDIR(info.st_mode))
            return EVolumeEntry::Folder;
        if (!S_ISREG(info.st_mode))
            return Refuse(error, "'" + volumePath + "' is not a file");
        if (!bytes)
            return EVolumeEntry::File;
        if (uint64_t(info.st_size) > kLargestPreviewFile)
            return Refuse(error, "'" + volumePath + "' is too large to draw from");
        CFileDescriptor file(open(resolved.c_str(), O_RDONLY | O_CLOEXEC));
        bytes->resize(size_t(info.st_size));
        if (!file.IsOpen() || !ReadFully(file.Get(), bytes->data(), bytes->size()))
        {
            bytes->clear();
            return Refuse(error, "'" + volumePath + "' can't be read: " + std::strerror(errno ? errno : EIO));
        }
        return EVolumeEntry::File;
    };
}
