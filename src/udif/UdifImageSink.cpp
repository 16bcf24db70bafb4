// Writing a UDIF image from a disk handed over in order: data fork chunks, block tables, property
// list, trailer.
//
// The image file:
//   offset              meaning
//   0                   data fork: the stored runs' bytes, compressed chunk by chunk, in disk order
//   data fork length    XML property list: "resource-fork" with a 'blkx' table per region and 'plst'
//                       (and any resources added, such as a licence agreement)
//   file size - 512     'koly' trailer (KolyTrailer.cpp)
//
// Runs of a region's block table, in disk order: each stretch of content is cut into chunks of 1 MiB
// from where the stretch begins (the region's start or the end of free space), the last one shorter
// where the region or the stretch ends; a chunk is stored compressed, raw when compression doesn't
// make it smaller, or as a zero run when it holds only zeros (the disk's first chunk is always
// stored, for readers that take an empty data fork for a damaged image). Free space is one ignored
// run. Neighbouring zero runs, and neighbouring ignored runs, are merged.
#include "udif/UdifImageSink.h"

#include "io/ByteOrder.h"
#include "io/SourceDateEpoch.h"
#include "udif/BlkxTable.h"
#include "udif/ChunkPool.h"
#include "udif/KolyTrailer.h"
#include "udif/RegionPlan.h"

#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <random>
#include <thread>

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

// Adjacent runs that store nothing are merged, so free space costs one entry however large it is.
void AppendRun(CBlkxTable& table, CBlkxRun const& run)
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
} // namespace

class CUdifImageSink::CImpl
{
public:
    CImpl(std::vector<CUdifRegion> regions, EUdifFormat format, int level, CUdifProgress progress)
        : m_regions(std::move(regions)), m_format(format), m_level(level), m_progress(std::move(progress)),
          m_out(new CTempOutputFile("image"))
    {
    }

    bool Open(std::string const& outPath, std::string* error)
    {
        m_outPath = outPath;
        if (m_format == EUdifFormat::Udzo && (m_level < 1 || m_level > 9))
            return Fail("zlib level " + std::to_string(m_level) + " is not between 1 and 9", error);
        if (!CheckRegions(m_regions, error))
            return Fail(*error, error);
        for (CUdifRegion const& region : m_regions)
        {
            CBlkxTable table;
            table.firstSector = region.startSector;
            table.sectorCount = region.sectorCount;
            table.descriptor = static_cast<uint32_t>(region.id);
            m_tables.push_back(table);
        }
        m_totalSectors = m_regions.back().startSector + m_regions.back().sectorCount;
        if (!m_out->Open(outPath, error))
            return Fail(*error, error);
        unsigned const workers = std::max(1u, std::thread::hardware_concurrency());
        m_pool.reset(new CChunkPool(m_format, m_level, workers, kChunkBytes));
        m_open = true;
        return true;
    }

    bool Write(uint8_t const* data, size_t size, uint64_t* position, std::string* error)
    {
        while (size > 0)
        {
            if (!OpenChunk(*position, error))
                return false;
            size_t const n = std::min(size, m_chunkLimit - m_chunk->inputSize);
            std::memcpy(m_chunk->input.get() + m_chunk->inputSize, data, n);
            if (!Advance(n, position, error))
                return false;
            data += n;
            size -= n;
        }
        return true;
    }

    bool WriteZeros(uint64_t size, uint64_t* position, std::string* error)
    {
        while (size > 0)
        {
            // A whole chunk of zeros is stored as a zero run without a buffer of them.
            if (!m_chunk && !m_first && *position % kSectorSize == 0 &&
                CanSubmitWholeZeroChunk(*position, size))
            {
                uint64_t const sectors = ChunkSectorsAt(*position / kSectorSize);
                if (!SubmitEmpty(EChunkKind::Zero, *position / kSectorSize, sectors, error))
                    return false;
                *position += sectors * kSectorSize;
                size -= sectors * kSectorSize;
                continue;
            }
            if (!OpenChunk(*position, error))
                return false;
            size_t const n = size_t(std::min<uint64_t>(size, m_chunkLimit - m_chunk->inputSize));
            std::memset(m_chunk->input.get() + m_chunk->inputSize, 0, n);
            if (!Advance(n, position, error))
                return false;
            size -= n;
        }
        return true;
    }

    bool Skip(uint64_t size, uint64_t* position, std::string* error)
    {
        // Only whole sectors can be left out; the bytes of a sector skipped in part are zeros.
        uint64_t const lead = std::min<uint64_t>(size, (kSectorSize - *position % kSectorSize) % kSectorSize);
        if (!WriteZeros(lead, position, error))
            return false;
        size -= lead;
        uint64_t sectors = size / kSectorSize;
        if (sectors > 0 && !CloseChunk(error))
            return false;
        while (sectors > 0)
        {
            uint64_t const start = *position / kSectorSize;
            if (!FindRegion(start, error))
                return false;
            CUdifRegion const& region = m_regions[m_region];
            uint64_t const count = std::min(sectors, region.startSector + region.sectorCount - start);
            if (!SubmitEmpty(EChunkKind::Unused, start, count, error))
                return false;
            *position += count * kSectorSize;
            sectors -= count;
        }
        return WriteZeros(size % kSectorSize, position, error);
    }

    bool Finish(std::vector<CUdifResource> const& extraResources, uint64_t position, std::string* error)
    {
        if (!CloseChunk(error))
            return false;
        if (position != m_totalSectors * kSectorSize)
            return Fail("the disk ended after " + std::to_string(position) + " of its " +
                            std::to_string(m_totalSectors * kSectorSize) + " bytes",
                        error);
        while (m_pool->HasPending())
            if (!StoreOldest(error))
                return false;
        if (!WriteTrailer(extraResources, error) || !m_out->Commit(error))
            return Fail(*error, error);
        m_open = false;
        return true;
    }

    // Gives the image up at once: the workers stop and the temporary file goes.
    bool Fail(std::string const& reason, std::string* error)
    {
        *error = reason;
        m_failed = true;
        m_chunk = nullptr;
        m_pool.reset();
        m_out.reset();
        return false;
    }

    bool CheckUsable(std::string* error)
    {
        if (m_open && !m_failed)
            return true;
        *error = m_failed ? "the image was not written: an earlier step failed" : "the image is not open";
        return false;
    }

private:
    uint64_t ChunkSectorsAt(uint64_t sector) const
    {
        CUdifRegion const& region = m_regions[m_region];
        return std::min(kBlkxChunkSectors, region.startSector + region.sectorCount - sector);
    }

    bool CanSubmitWholeZeroChunk(uint64_t position, uint64_t size)
    {
        std::string ignored;
        uint64_t const sector = position / kSectorSize;
        return FindRegion(sector, &ignored) && size >= ChunkSectorsAt(sector) * kSectorSize;
    }

    // Moves m_region to the region that holds `sector`.
    bool FindRegion(uint64_t sector, std::string* error)
    {
        while (m_region < m_regions.size() &&
               sector >= m_regions[m_region].startSector + m_regions[m_region].sectorCount)
            ++m_region;
        if (m_region == m_regions.size())
            return Fail("more bytes were given than the disk's " + std::to_string(m_totalSectors) +
                            " sectors hold",
                        error);
        return true;
    }

    // The chunk that takes the byte at `position`, begun if there is none.
    bool OpenChunk(uint64_t position, std::string* error)
    {
        if (m_chunk)
            return true;
        uint64_t const sector = position / kSectorSize;
        if (!FindRegion(sector, error) || !WaitForFreeSlot(error))
            return false;
        m_chunk = &m_pool->GetFreeSlot();
        m_chunk->kind = EChunkKind::Data;
        m_chunk->startSector = sector;
        m_chunk->sectorCount = ChunkSectorsAt(sector);
        m_chunk->regionIndex = m_region;
        m_chunk->inputSize = 0;
        // Some readers take an image with an empty data fork for a damaged one, so the first piece
        // of the disk is stored even if it holds only zeros.
        m_chunk->keepZeros = m_first;
        m_first = false;
        m_chunkLimit = size_t(m_chunk->sectorCount * kSectorSize);
        return true;
    }

    bool Advance(size_t n, uint64_t* position, std::string* error)
    {
        m_chunk->inputSize += n;
        *position += n;
        return m_chunk->inputSize < m_chunkLimit || CloseChunk(error);
    }

    // Submits the open chunk, cut short at the last whole sector given (the rest are zeros).
    bool CloseChunk(std::string* error)
    {
        if (!m_chunk)
            return true;
        size_t const size = (m_chunk->inputSize + kSectorSize - 1) / kSectorSize * kSectorSize;
        std::memset(m_chunk->input.get() + m_chunk->inputSize, 0, size - m_chunk->inputSize);
        m_chunk->inputSize = size;
        m_chunk->sectorCount = size / kSectorSize;
        m_chunk = nullptr;
        m_pool->SubmitSlot();
        (void)error;
        return true;
    }

    bool SubmitEmpty(EChunkKind kind, uint64_t start, uint64_t sectors, std::string* error)
    {
        if (!WaitForFreeSlot(error))
            return false;
        CChunkSlot& slot = m_pool->GetFreeSlot();
        slot.kind = kind;
        slot.startSector = start;
        slot.sectorCount = sectors;
        slot.regionIndex = m_region;
        slot.inputSize = size_t(sectors * kSectorSize);
        slot.keepZeros = false;
        m_first = false;
        m_pool->SubmitSlot();
        return true;
    }

    bool WaitForFreeSlot(std::string* error)
    {
        while (!m_pool->HasFreeSlot())
            if (!StoreOldest(error))
                return false;
        return true;
    }

    bool StoreOldest(std::string* error)
    {
        CChunkSlot const& stored = m_pool->WaitOldestSlot();
        bool const ok = StoreSlot(stored, error);
        m_sectorsDone += stored.sectorCount;
        m_pool->ReleaseSlot();
        if (!ok)
            return Fail(*error, error);
        if (m_progress && !m_progress(m_sectorsDone, m_totalSectors))
            return Fail("interrupted", error);
        return true;
    }

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
            table.crc32 = libdeflate_crc32(table.crc32, slot.input.get(), slot.inputSize);
            if (!WriteData(slot.input.get(), slot.inputSize, error))
                return false;
            break;
        case EChunkKind::Compressed:
            run.type = GetCompressedRunType(m_format);
            table.crc32 = libdeflate_crc32(table.crc32, slot.input.get(), slot.inputSize);
            if (!WriteData(slot.output.get(), slot.outputSize, error))
                return false;
            break;
        }
        run.compressedLength = m_dataForkLength - run.compressedOffset;
        AppendRun(table, run);
        return true;
    }

    bool WriteData(uint8_t const* data, size_t size, std::string* error)
    {
        m_dataForkCrc = libdeflate_crc32(m_dataForkCrc, data, size);
        m_dataForkLength += size;
        return m_out->Write(data, size, error);
    }

    // The identifier is derived from the property list without the extra resources, so that an image
    // given them here is the one AddResourcesToUdifImage makes of the image without them.
    bool WriteTrailer(std::vector<CUdifResource> const& extraResources, std::string* error)
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
        std::string xml, edited;
        if (!BuildUdifPlist(resources, &xml, error) ||
            (!extraResources.empty() && !AddResourcesToUdifPlist(xml, extraResources, &edited, error)))
        {
            *error = "cannot write disk image '" + m_outPath + "': " + *error;
            return false;
        }
        CKolyTrailer trailer;
        trailer.dataForkLength = m_dataForkLength;
        trailer.xmlOffset = m_dataForkLength;
        int64_t epoch = 0;
        trailer.segmentId =
            GetSourceDateEpoch(&epoch) ? DeriveSegmentId(m_dataForkCrc, masterCrc, xml) : MakeSegmentId();
        if (!extraResources.empty())
            xml.swap(edited);
        trailer.xmlLength = xml.size();
        trailer.dataForkCrc32 = m_dataForkCrc;
        trailer.masterCrc32 = masterCrc;
        trailer.sectorCount = m_totalSectors;
        auto const koly = SerializeKolyTrailer(trailer);
        return m_out->Write(xml.data(), xml.size(), error) && m_out->Write(koly.data(), koly.size(), error);
    }

    std::vector<CUdifRegion> m_regions;
    EUdifFormat m_format;
    int m_level;
    CUdifProgress m_progress;
    std::string m_outPath;
    std::unique_ptr<CTempOutputFile> m_out;
    std::vector<CBlkxTable> m_tables;
    std::unique_ptr<CChunkPool> m_pool; // after m_out: stopped first, before the file goes
    uint64_t m_totalSectors = 0;
    size_t m_region = 0;
    CChunkSlot* m_chunk = nullptr; // the chunk being filled
    size_t m_chunkLimit = 0;
    bool m_first = true;
    bool m_open = false;
    bool m_failed = false;
    uint64_t m_dataForkLength = 0;
    uint32_t m_dataForkCrc = 0;
    uint64_t m_sectorsDone = 0;
};

CUdifImageSink::CUdifImageSink(std::vector<CUdifRegion> regions, EUdifFormat format, int level,
                               CUdifProgress progress)
    : m_impl(new CImpl(std::move(regions), format, level, std::move(progress)))
{
}

CUdifImageSink::~CUdifImageSink() = default;

namespace
{
// Running out of memory (or threads) fails the step with a reason, as any other failure does.
template <typename F> bool Guarded(CUdifImageSink::CImpl& impl, std::string* error, F const& step)
{
    try
    {
        return step();
    }
    catch (std::exception const& e)
    {
        return impl.Fail(std::string("cannot write the disk image: ") + e.what(), error);
    }
}
} // namespace

bool CUdifImageSink::Open(std::string const& outPath, std::string* error)
{
    return Guarded(*m_impl, error, [&] { return m_impl->Open(outPath, error); });
}

bool CUdifImageSink::Write(void const* data, size_t size, std::string* error)
{
    return m_impl->CheckUsable(error) &&
           Guarded(*m_impl, error,
                   [&]
                   { return m_impl->Write(static_cast<uint8_t const*>(data), size, &m_position, error); });
}

bool CUdifImageSink::Skip(uint64_t size, std::string* error)
{
    return m_impl->CheckUsable(error) &&
           Guarded(*m_impl, error, [&] { return m_impl->Skip(size, &m_position, error); });
}

bool CUdifImageSink::WriteZeros(uint64_t size, std::string* error)
{
    return m_impl->CheckUsable(error) &&
           Guarded(*m_impl, error, [&] { return m_impl->WriteZeros(size, &m_position, error); });
}

bool CUdifImageSink::Finish(std::vector<CUdifResource> const& extraResources, std::string* error)
{
    return m_impl->CheckUsable(error) &&
           Guarded(*m_impl, error, [&] { return m_impl->Finish(extraResources, m_position, error); });
}
