// Writing a raw disk file as a UDIF image: its regions are read piece by piece into the image sink,
// free sectors and holes of the sparse file without reading them.
#include "udif/UdifWriter.h"

#include "io/FileDescriptor.h"
#include "io/FullTransfer.h"
#include "udif/RegionPlan.h"
#include "udif/UdifImageSink.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
constexpr uint64_t kSectorSize = 512;

class CRawDisk
{
public:
    bool Open(std::string const& path, uint64_t sectors, std::string* error)
    {
        m_path = path;
        m_fd.Reset(open(path.c_str(), O_RDONLY | O_CLOEXEC));
        struct stat info;
        if (!m_fd.IsOpen() || fstat(m_fd.Get(), &info) != 0)
        {
            *error = "cannot open raw disk image '" + path + "': " + std::strerror(errno);
            return false;
        }
        if (!S_ISREG(info.st_mode) || static_cast<uint64_t>(info.st_size) / kSectorSize < sectors)
        {
            *error = "raw disk image '" + path + "' is smaller than its partition map (" +
                     std::to_string(sectors) + " sectors)";
            return false;
        }
        return true;
    }

    // True if the byte range is a hole of the sparse file, known to read as zeros without reading it.
    bool IsHole(uint64_t offset, uint64_t size)
    {
        if (!m_seekData)
            return false;
        if (offset >= m_nextData)
        {
            off_t next = lseek(m_fd.Get(), static_cast<off_t>(offset), SEEK_DATA);
            if (next >= 0)
                m_nextData = static_cast<uint64_t>(next);
            else if (errno == ENXIO)
                m_nextData = UINT64_MAX;
            else
            {
                m_seekData = false; // the file system can't tell; read everything
                return false;
            }
        }
        return offset + size <= m_nextData;
    }

    bool Read(uint64_t offset, uint8_t* buffer, size_t size, std::string* error)
    {
        if (ReadFullyAt(m_fd.Get(), buffer, size, offset))
            return true;
        int const why = errno;
        *error = "cannot read raw disk image '" + m_path + "': " + (why ? std::strerror(why) : "it ended early");
        return false;
    }

private:
    std::string m_path;
    CFileDescriptor m_fd;
    bool m_seekData = true;
    uint64_t m_nextData = 0; // no data lies between the last offset asked about and this one
};

bool WriteImage(std::string const& rawPath, std::vector<CUdifRegion> const& regions,
                std::string const& outPath, EUdifFormat format, int level, std::string* error,
                CUdifProgress const& progress)
{
    CUdifImageSink image(regions, format, level, progress);
    if (!image.Open(outPath, error))
        return false;
    CRawDisk disk;
    if (!disk.Open(rawPath, regions.back().startSector + regions.back().sectorCount, error))
        return false;
    std::vector<uint8_t> buffer;
    for (CUdifRegion const& region : regions)
    {
        for (CRegionPiece const& piece : PlanRegionPieces(region))
        {
            uint64_t const offset = piece.startSector * kSectorSize;
            size_t const size = static_cast<size_t>(piece.sectorCount * kSectorSize);
            if (piece.unused)
            {
                if (!image.Skip(piece.sectorCount * kSectorSize, error))
                    return false;
                continue;
            }
            if (disk.IsHole(offset, size))
            {
                if (!image.WriteZeros(size, error))
                    return false;
                continue;
            }
            buffer.resize(size);
            if (!disk.Read(offset, buffer.data(), size, error) || !image.Write(buffer.data(), size, error))
                return false;
        }
    }
    return image.Finish({}, error);
}
} // namespace

bool WriteUdifImage(std::string const& rawPath, std::vector<CUdifRegion> const& regions,
                    std::string const& outPath, EUdifFormat format, int level, std::string* error,
                    CUdifProgress const& progress)
{
    std::string ignored;
    if (!error)
        error = &ignored;
    try
    {
        return WriteImage(rawPath, regions, outPath, format, level, error, progress);
    }
    catch (std::exception const& e)
    {
        *error = std::string("cannot write disk image '") + outPath + "': " + e.what();
        return false;
    }
}
