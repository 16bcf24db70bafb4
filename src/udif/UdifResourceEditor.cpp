// Rewriting a finished image's property list and trailer with resources added.
#include "udif/UdifResourceEditor.h"

#include "hfsplus/HfsFileIo.h"
#include "io/ByteOrder.h"
#include "io/FileDescriptor.h"
#include "io/TempOutputFile.h"
#include "udif/KolyTrailer.h"

#include <algorithm>
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
constexpr size_t kCopyChunk = 1 << 20;

bool EditImage(int fd, std::string const& path, std::vector<CUdifResource> const& resources,
               std::string* error)
{
    struct stat info;
    uint8_t koly[kKolyTrailerSize];
    if (fstat(fd, &info) != 0 || info.st_size < static_cast<off_t>(kKolyTrailerSize) ||
        !ReadAllAt(fd, koly, sizeof koly, static_cast<uint64_t>(info.st_size) - kKolyTrailerSize, error) ||
        GetBe32(koly) != kKolySignature)
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
    // An image must stay readable by the image reader, whose limit this is.
    if (edited.size() > kUdifMaxPlistBytes)
    {
        *error = path + ": the property list would take " + std::to_string(edited.size() >> 20) +
                 " MB, more than the " + std::to_string(kUdifMaxPlistBytes >> 20) + " MB an image may hold";
        return false;
    }
    PutBe64(koly + 224, edited.size());

    // The new image: everything before the property list copied, then the new list and trailer.
    CTempOutputFile out("image");
    if (!out.Open(path, error))
        return false;
    std::vector<uint8_t> buffer(kCopyChunk);
    for (uint64_t done = 0; done < xmlOffset;)
    {
        size_t const n = static_cast<size_t>(std::min<uint64_t>(xmlOffset - done, buffer.size()));
        if (!ReadAllAt(fd, buffer.data(), n, done, error) || !out.Write(buffer.data(), n, error))
            return false;
        done += n;
    }
    return out.Write(edited.data(), edited.size(), error) && out.Write(koly, sizeof koly, error) &&
           out.Commit(error);
}
} // namespace

bool AddResourcesToUdifImage(std::string const& path, std::vector<CUdifResource> const& resources,
                             std::string* error)
{
    CFileDescriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.IsOpen())
    {
        *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    bool ok = false;
    // The property list is read whole: an image that names a huge one runs out of memory here.
    try
    {
        ok = EditImage(fd.Get(), path, resources, error);
    }
    catch (std::exception const& e)
    {
        *error = path + ": " + e.what();
    }
    if (int const closeError = fd.Close(); closeError != 0 && ok)
    {
        *error = path + ": " + std::strerror(closeError);
        ok = false;
    }
    return ok;
}
