#include "volume/VolumeSource.h"

#include "io/FullTransfer.h"
#include "io/PortableFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

bool OpenVolumeSource(CVolumeTree const& tree, size_t index, CFileDescriptor* source, std::string* sourcePath,
                      std::string* error)
{
    CVolumeItem const& item = tree.Get(index);
    *sourcePath = tree.GetSourcePath(index);
    std::string const& path = *sourcePath;
    // O_NONBLOCK: a FIFO swapped in for the file doesn't hang the open; the fstat below refuses it.
    CFileDescriptor opened(OpenForReadingQuietly(path, O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!opened.IsOpen())
    {
        *error = errno == ELOOP ? path + " changed while the volume was being written"
                                : "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat status
    {
    };
    if (fstat(opened.Get(), &status) != 0 || !S_ISREG(status.st_mode) || uint64_t(status.st_size) != item.size ||
        GetModificationNanoseconds(status) != item.data.sourceModifiedNanoseconds)
    {
        *error = path + " changed while the volume was being written";
        return false;
    }
    *source = std::move(opened);
    return true;
}

bool ReadVolumeSource(CFileDescriptor const& source, std::string const& path, void* data, size_t size,
                      std::string* error)
{
    if (ReadFully(source.Get(), data, size))
        return true;
    int const why = errno;
    *error = why ? "cannot read " + path + ": " + std::strerror(why)
                 : path + " changed while the volume was being written";
    return false;
}
