// Writing a raw disk as a UDIF image: data fork chunks, block tables, property list, trailer.
//
// The image file:
//   offset              meaning
//   0                   data fork: the stored runs' bytes, compressed chunk by chunk, in disk order
//   data fork length    XML property list: "resource-fork" with a 'blkx' table per region and 'plst'
//   file size - 512     'koly' trailer (KolyTrailer.cpp)
#include "udif/UdifWriter.h"

#include "io/ByteOrder.h"
#include "io/FileDescriptor.h"
#include "io/FullTransfer.h"
#include "io/SourceDateEpoch.h"
#include "io/TempOutputFile.h"
#include "udif/BlkxTable.h"
#include "udif/ChunkPool.h"
#include "udif/KolyTrailer.h"
#include "udif/RegionPlan.h"
#include "udif/UdifPlist.h"

#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace
{
constexpr uint64_t kSectorSize = 512;
constexpr size_t kChunkBytes = kBlkxChunkSectors * kSectorSize;

uint32_t UpdateCrc32WithZeros(uint32_t crc, uint64_t size)
{
    static uint8_t const kZeros[65536] = {};
    while (size > 0)
    {
        size_t const n = size < sizeof kZeros ? static_cast<size_t>(size) : sizeof kZeros;
        crc = libdeflate_crc32(crc, kZeros, n);
        size -= n;
    }
    return crc;
}

// Same content, same identifier: a name-based (version 5 style) UUID from a hash of what the image
// holds, for builds that have to repeat byte for byte.
std::array<uint8_t, 16> DeriveSegmentId(uint32_t dataForkCrc, uint32_t masterCrc, std::string const& plist)
{
    uint64_t first = MixFnv1a(kFnv1aStart, &dataForkCrc, sizeof dataForkCrc);
    first = MixFnv1a(first, &masterCrc, sizeof masterCrc);
    uint64_t second = MixFnv1a(first, plist.data(), plist.size());
    std::array<uint8_t, 16> id;
    PutBe64(id.data(), first);
    PutBe64(id.data() + 8, second);
    id[6] = static_cast<uint8_t>((id[6] & 0x0F) | 0x50);
    id[8] = static_cast<uint8_t>((id[8] & 0x3F) | 0x80);
    return id;
}

std::array<uint8_t, 16> MakeSegmentId()
{
    std::random_device random;
    std::array<uint8_t, 16> id;
    for (uint8_t& byte : id)
        byte = static_cast<uint8_t>(random());
    id[6] = static_cast<uint8_t>((id[6] & 0x0F) | 0x40); // a random (version 4) UUID
    id[8] = static_cast<uint8_t>((id[8] & 0x3F) | 0x80);
    return id;
}

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

class CUdifWriter
{
public:
    CUdifWriter(std::vector<CUdifRegion> const& regions, EUdifFormat format, CTempOutputFile& out,
                CUdifProgress const& progress)
        : m_regions(regions), m_format(format), m_out(out), m_progress(progress)
    {
        for (CUdifRegion const& region : regions)
        {
            CBlkxTable table;
            table.firstSector = region.startSector;
            table.sectorCount = region.sectorCount;
            table.descriptor = static_cast<uint32_t>(region.id);
            m_tables.push_back(table);
        }
    }

    bool WriteDataFork(CRawDisk& disk, int level, std::string* error)
    {
        unsigned const workers = std::max(1u, std::thread::hardware_concurrency());
        CChunkPool pool(m_format, level, workers, kChunkBytes);
        size_t region = 0;
        std::vector<CRegionPiece> pieces;
        size_t piece = 0;
        bool first = true;
        for (;;)
        {
            while (pool.HasFreeSlot())
            {
                while (piece == pieces.size() && region < m_regions.size())
                {
                    pieces = PlanRegionPieces(m_regions[region++]);
                    piece = 0;
                }
                if (piece == pieces.size())
                    break;
                CRegionPiece const& next = pieces[piece++];
                CChunkSlot& slot = pool.GetFreeSlot();
                slot.startSector = next.startSector;
                slot.sectorCount = next.sectorCount;
                slot.regionIndex = region - 1;
                slot.inputSize = static_cast<size_t>(next.sectorCount * kSectorSize);
                uint64_t const offset = next.startSector * kSectorSize;
                // Some readers take an image with an empty data fork for a damaged one, so the first
                // piece of the disk is stored even if it holds only zeros.
                slot.keepZeros = first;
                first = false;
                if (next.unused)
                    slot.kind = EChunkKind::Unused;
                else if (!slot.keepZeros && disk.IsHole(offset, slot.inputSize))
                    slot.kind = EChunkKind::Zero;
                else
                {
                    slot.kind = EChunkKind::Data;
                    if (!disk.Read(offset, slot.input.data(), slot.inputSize, error))
                        return false;
                }
                pool.SubmitSlot();
            }
            if (!pool.HasPending())
                return true;
            CChunkSlot const& stored = pool.WaitOldestSlot();
            if (!StoreSlot(stored, error))
                return false;
            m_sectorsDone += stored.sectorCount;
            pool.ReleaseSlot();
            if (m_progress && !m_progress(m_sectorsDone, TotalSectors()))
            {
                *error = "interrupted";
                return false;
            }
        }
    }

    // `outPath` names the image in the message of a property list that can't be built, as the
    // message of any other failure to build the image does.
    bool WriteTrailer(std::string const& outPath, std::string* error)
    {
        std::vector<CBlkxResource> resources;
        uint8_t masterInput[4];
        uint32_t masterCrc = 0;
        for (size_t i = 0; i < m_tables.size(); ++i)
        {
            resources.push_back({m_regions[i].name, m_regions[i].id, SerializeBlkxTable(m_tables[i])});
            PutBe32(masterInput, m_tables[i].crc32);
            masterCrc = libdeflate_crc32(masterCrc, masterInput, sizeof masterInput);
        }
        std::string xml;
        if (!BuildUdifPlist(resources, &xml, error))
        {
            *error = "cannot write disk image '" + outPath + "': " + *error;
            return false;
        }

        CKolyTrailer trailer;
        trailer.dataForkLength = m_dataForkLength;
        trailer.xmlOffset = m_dataForkLength;
        trailer.xmlLength = xml.size();
        int64_t epoch = 0;
        trailer.segmentId = GetSourceDateEpoch(&epoch) ? DeriveSegmentId(m_dataForkCrc, masterCrc, xml)
                                                       : MakeSegmentId();
        trailer.dataForkCrc32 = m_dataForkCrc;
        trailer.masterCrc32 = masterCrc;
        trailer.sectorCount = m_regions.back().startSector + m_regions.back().sectorCount;
        auto const koly = SerializeKolyTrailer(trailer);
        return m_out.Write(xml.data(), xml.size(), error) && m_out.Write(koly.data(), koly.size(), error);
    }

private:
    uint64_t TotalSectors() const { return m_regions.back().startSector + m_regions.back().sectorCount; }

    bool StoreSlot(CChunkSlot const& slot, std::string* error)
    {
        CBlkxTable& table = m_tables[slot.regionIndex];
        CBlkxRun run;
        run.sectorNumber = slot.startSector - table.firstSector;
        run.sectorCount = slot.sectorCount;
        run.compressedOffset = m_dataForkLength;
        switch (slot.kind)
        {
        case EChunkKind::Unused:
            run.type = kBlkxIgnore;
            break;
        case EChunkKind::Zero:
            run.type = kBlkxZeroFill;
            table.crc32 = UpdateCrc32WithZeros(table.crc32, slot.inputSize);
            break;
        case EChunkKind::Raw:
        case EChunkKind::Data:
            run.type = kBlkxRaw;
            table.crc32 = libdeflate_crc32(table.crc32, slot.input.data(), slot.inputSize);
            if (!WriteData(slot.input.data(), slot.inputSize, error))
                return false;
            break;
        case EChunkKind::Compressed:
            run.type = GetCompressedRunType(m_format);
            table.crc32 = libdeflate_crc32(table.crc32, slot.input.data(), slot.inputSize);
            if (!WriteData(slot.output.data(), slot.outputSize, error))
                return false;
            break;
        }
        run.compressedLength = m_dataForkLength - run.compressedOffset;
        AppendRun(table, run);
        return true;
    }

    // Adjacent runs that store nothing are merged, so free space costs one entry however large it is.
    static void AppendRun(CBlkxTable& table, CBlkxRun const& run)
    {
        if (!table.runs.empty() && (run.type == kBlkxZeroFill || run.type == kBlkxIgnore))
        {
            CBlkxRun& last = table.runs.back();
            if (last.type == run.type && last.sectorNumber + last.sectorCount == run.sectorNumber)
            {
                last.sectorCount += run.sectorCount;
                return;
            }
        }
        table.runs.push_back(run);
    }

    bool WriteData(uint8_t const* data, size_t size, std::string* error)
    {
        m_dataForkCrc = libdeflate_crc32(m_dataForkCrc, data, size);
        m_dataForkLength += size;
        return m_out.Write(data, size, error);
    }

    std::vector<CUdifRegion> const& m_regions;
    EUdifFormat m_format;
    CTempOutputFile& m_out;
    std::vector<CBlkxTable> m_tables;
    uint64_t m_dataForkLength = 0;
    uint32_t m_dataForkCrc = 0;
    CUdifProgress const& m_progress;
    uint64_t m_sectorsDone = 0;
};

bool WriteImage(std::string const& rawPath, std::vector<CUdifRegion> const& regions,
                std::string const& outPath, EUdifFormat format, int level, std::string* error,
                CUdifProgress const& progress)
{
    if (format == EUdifFormat::Udzo && (level < 1 || level > 9))
    {
        *error = "zlib level " + std::to_string(level) + " is not between 1 and 9";
        return false;
    }
    if (!CheckRegions(regions, error))
        return false;
    CRawDisk disk;
    if (!disk.Open(rawPath, regions.back().startSector + regions.back().sectorCount, error))
        return false;
    CTempOutputFile out("image");
    if (!out.Open(outPath, error))
        return false;
    CUdifWriter writer(regions, format, out, progress);
    return writer.WriteDataFork(disk, level, error) && writer.WriteTrailer(outPath, error) &&
           out.Commit(error);
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
