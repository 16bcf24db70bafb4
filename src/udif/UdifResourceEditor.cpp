// Rewriting a finished image's property list and trailer with resources added.
#include "udif/UdifResourceEditor.h"

#include "bytes/ByteOrder.h"
#include "hfsplus/HfsFileIo.h"
#include "udif/KolyTrailer.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// Fields of the 512-byte big-endian 'koly' trailer read or changed here:
//
// | Offset | Size | Meaning                                    |
// |--------|------|--------------------------------------------|
// | 0      | 4    | 'koly'                                     |
// | 4      | 4    | version (4)                                |
// | 24     | 8    | data fork offset                           |
// | 32     | 8    | data fork length                           |
// | 40     | 8    | resource fork offset (0: none)             |
// | 48     | 8    | resource fork length                       |
// | 216    | 8    | XML property list offset                   |
// | 224    | 8    | XML property list length                   |
constexpr uint32_t kKolyMagic = 0x6B6F6C79;

bool EditImage(int fd, std::string const& path, std::vector<CUdifResource> const& resources,
               std::string* error)
{
    struct stat info;
    uint8_t koly[kKolyTrailerSize];
    if (fstat(fd, &info) != 0 || info.st_size < static_cast<off_t>(kKolyTrailerSize) ||
        !ReadAllAt(fd, koly, sizeof koly, static_cast<uint64_t>(info.st_size) - kKolyTrailerSize, error) ||
        GetBe32(koly) != kKolyMagic)
    {
        *error = path + " is not a UDIF disk image (no 'koly' trailer)";
        return false;
    }
    uint64_t const trailerOffset = static_cast<uint64_t>(info.st_size) - kKolyTrailerSize;
    uint64_t const dataEnd = GetBe64(koly + 24) + GetBe64(koly + 32);
    uint64_t const xmlOffset = GetBe64(koly + 216);
    uint64_t const xmlLength = GetBe64(koly + 224);
    if (GetBe64(koly + 48) != 0 || xmlOffset < dataEnd || xmlOffset > trailerOffset ||
        xmlLength != trailerOffset - xmlOffset || xmlLength == 0)
    {
        *error = path + ": the image's property list is not where it can be rewritten";
        return false;
    }
    std::string xml(xmlLength, '\0');
    if (!ReadAllAt(fd, &xml[0], xml.size(), xmlOffset, error))
        return false;
    std::string edited;
    if (!AddResourcesToUdifPlist(xml, resources, &edited, error))
    {
        *error = path + ": " + *error;
        return false;
    }
    PutBe64(koly + 224, edited.size());
    uint64_t const end = xmlOffset + edited.size() + kKolyTrailerSize;
    if (!WriteAllAt(fd, edited.data(), edited.size(), xmlOffset, error) ||
        !WriteAllAt(fd, koly, sizeof koly, xmlOffset + edited.size(), error))
        return false;
    if (ftruncate(fd, static_cast<off_t>(end)) != 0 || fsync(fd) != 0)
    {
        *error = path + ": cannot write the property list: " + std::strerror(errno);
        return false;
    }
    return true;
}
} // namespace

bool AddResourcesToUdifImage(std::string const& path, std::vector<CUdifResource> const& resources,
                             std::string* error)
{
    int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
    {
        *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    bool ok = false;
    // The property list is read whole: an image that names a huge one runs out of memory here.
    try
    {
        ok = EditImage(fd, path, resources, error);
    }
    catch (std::exception const& e)
    {
        *error = path + ": " + e.what();
    }
    if (close(fd) != 0 && ok)
    {
        *error = path + ": " + std::strerror(errno);
        ok = false;
    }
    return ok;
}
