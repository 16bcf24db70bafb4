// Reading the disk inside a UDIF image without trusting any of its lengths.
//
// 'koly' trailer (last 512 bytes of the file, big-endian), the fields read here:
//   0 signature 'koly'   4 version   8 header size (512)   24 data fork offset   32 data fork length
//   216 XML property list offset   224 its length   492 sector count of the disk
// 'mish' block table (the Data of each resource-fork/blkx entry of the property list):
//   0 signature 'mish'   8 first sector   16 sector count   24 data offset (added to run offsets)
//   200 run count   204 runs of 40 bytes: type, comment, sector, sector count, offset, length
//   (run sectors are relative to the table's first sector; offsets to the data fork)
#include "udif/UdifImageReader.h"

#include "hfsplus/HfsFileIo.h"
#include "io/ByteOrder.h"
#include "io/PropertyList.h"
#include "io/RegularInputFile.h"
#include "udif/BlkxTable.h"
#include "udif/KolyTrailer.h"

#include <algorithm>
#include <bzlib.h>
#include <cstring>
#include <libdeflate.h>
#include <lzma.h>
#include <memory>
#include <plist/plist.h>

namespace
{
// Run types only ever read here: ADC and comments.
constexpr uint32_t kBlkxAdc = 0x80000004;
constexpr uint32_t kBlkxComment = 0x7FFFFFFE;
// Decompressed runs kept for later reads, in bytes; the run read last is kept whatever its size.
constexpr uint64_t kCacheBytes = 8u << 20;
// Disks larger than 2^40 sectors (512 TiB) are taken as damage.
constexpr uint64_t kMaxDiskSectors = uint64_t(1) << 40;
// Dictionaries of the LZMA streams are allowed this much memory.
constexpr uint64_t kLzmaMemoryLimit = 64u << 20;

struct CPlistDeleter
{
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};

bool IsCompressed(uint32_t type)
{
    return type == kBlkxZlib || type == kBlkxBzip2 || type == kBlkxLzma;
}

bool InflateZlib(uint8_t const* in, size_t inSize, uint8_t* out, size_t outSize)
{
    std::unique_ptr<libdeflate_decompressor, decltype(&libdeflate_free_decompressor)> decompressor(
        libdeflate_alloc_decompressor(), &libdeflate_free_decompressor);
    size_t produced = 0;
    return decompressor &&
           libdeflate_zlib_decompress(decompressor.get(), in, inSize, out, outSize, &produced) ==
               LIBDEFLATE_SUCCESS;
}

bool InflateBzip2(uint8_t const* in, size_t inSize, uint8_t* out, size_t outSize)
{
    unsigned int produced = static_cast<unsigned int>(outSize);
    return BZ2_bzBuffToBuffDecompress(reinterpret_cast<char*>(out), &produced,
                                      const_cast<char*>(reinterpret_cast<char const*>(in)),
                                      static_cast<unsigned int>(inSize), 0, 0) == BZ_OK;
}

// LZMA runs are read with the decoder that tells .xz from .lzma streams by their header.
bool InflateLzma(uint8_t const* in, size_t inSize, uint8_t* out, size_t outSize)
{
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_auto_decoder(&stream, kLzmaMemoryLimit, 0) != LZMA_OK)
        return false;
    stream.next_in = in;
    stream.avail_in = inSize;
    stream.next_out = out;
    stream.avail_out = outSize;
    lzma_ret result = LZMA_OK;
    while (result == LZMA_OK && stream.avail_out > 0)
    {
        size_t const before = stream.avail_in + stream.avail_out;
        result = lzma_code(&stream, LZMA_FINISH);
        if (result == LZMA_OK && stream.avail_in + stream.avail_out == before)
            break;
    }
    lzma_end(&stream);
    return result == LZMA_STREAM_END;
}
} // namespace

bool IsUdifImage(CImageReadAt const& read, uint64_t fileSize)
{
    uint8_t signature[4];
    std::string ignored;
    return fileSize >= kKolyTrailerSize && read(fileSize - kKolyTrailerSize, signature, 4, &ignored) &&
           GetBe32(signature) == kKolySignature;
}

bool IsUdifImageFile(std::string const& path)
{
    CFileDescriptor file;
    uint64_t size = 0;
    std::string ignored;
    if (OpenRegularInputFile(path, UINT64_MAX, &file, &size, &ignored) != EInputFile::Opened)
        return false;
    int const fd = file.Get();
    return IsUdifImage([fd](uint64_t offset, uint8_t* data, size_t length, std::string* error)
                       { return ReadAllAt(fd, data, length, offset, error); },
                       size);
}

uint64_t GetUdifReadBudget(uint64_t fileSize)
{
    uint64_t const base = uint64_t(64) << 20;
    return fileSize > (UINT64_MAX - base) / 64 ? UINT64_MAX : 64 * fileSize + base;
}

bool CUdifImageReader::Open(CImageReadAt readAt, uint64_t fileSize, std::string* error)
{
    read = std::move(readAt);
    runs.clear();
    cache.clear();
    cachedBytes = 0;
    workDone = 0;
    workBudget = GetUdifReadBudget(fileSize);
    uint8_t koly[kKolyTrailerSize];
    if (fileSize < kKolyTrailerSize || !read(fileSize - kKolyTrailerSize, koly, kKolyTrailerSize, error))
        return false;
    if (GetBe32(koly) != kKolySignature || GetBe32(koly + 8) != kKolyTrailerSize)
    {
        *error = "the image has no UDIF trailer";
        return false;
    }
    uint64_t const forkOffset = GetBe64(koly + 24);
    uint64_t const forkLength = GetBe64(koly + 32);
    uint64_t const xmlOffset = GetBe64(koly + 216);
    uint64_t const xmlLength = GetBe64(koly + 224);
    diskSectors = GetBe64(koly + 492);
    uint64_t const body = fileSize - kKolyTrailerSize;
    if (forkOffset > body || forkLength > body - forkOffset || xmlOffset > body ||
        xmlLength > body - xmlOffset || diskSectors > kMaxDiskSectors)
    {
        *error = "the image's trailer points outside the file";
        return false;
    }
    if (xmlLength == 0 || xmlLength > kUdifMaxPlistBytes)
    {
        *error = "the image has no usable property list";
        return false;
    }
    std::vector<uint8_t> xml(xmlLength);
    if (!read(xmlOffset, xml.data(), xml.size(), error))
        return false;
    plist_t rootNode = ParsePropertyList(xml.data(), xml.size());
    std::unique_ptr<void, CPlistDeleter> root(rootNode);
    plist_t fork = root && plist_get_node_type(rootNode) == PLIST_DICT
                       ? plist_dict_get_item(rootNode, "resource-fork")
                       : nullptr;
    plist_t blkx = fork && plist_get_node_type(fork) == PLIST_DICT ? plist_dict_get_item(fork, "blkx") : nullptr;
    if (!blkx || plist_get_node_type(blkx) != PLIST_ARRAY)
    {
        *error = "the image's property list has no block tables";
        return false;
    }
    for (uint32_t i = 0; i < plist_array_get_size(blkx); ++i)
    {
        plist_t entry = plist_array_get_item(blkx, i);
        plist_t data = entry && plist_get_node_type(entry) == PLIST_DICT ? plist_dict_get_item(entry, "Data") : nullptr;
        uint64_t length = 0;
        char const* bytes = data && plist_get_node_type(data) == PLIST_DATA ? plist_get_data_ptr(data, &length) : nullptr;
        if (!bytes)
        {
            *error = "a block table of the image is missing";
            return false;
        }
        std::vector<uint8_t> table(bytes, bytes + length);
        if (!AddBlockTable(table, error))
            return false;
    }
    std::sort(runs.begin(), runs.end(), [](CRun const& a, CRun const& b) { return a.firstSector < b.firstSector; });
    for (size_t i = 0; i < runs.size(); ++i)
    {
        CRun const& run = runs[i];
        bool const stored = run.type == kBlkxRaw || IsCompressed(run.type);
        if ((i > 0 && runs[i - 1].firstSector + runs[i - 1].sectorCount > run.firstSector) ||
            (stored && (run.offset < forkOffset || run.offset - forkOffset > forkLength ||
                        run.length > forkLength - (run.offset - forkOffset))))
        {
            *error = "the image's block tables overlap or point outside its data";
            return false;
        }
    }
    return true;
}

bool CUdifImageReader::AddBlockTable(std::vector<uint8_t> const& table, std::string* error)
{
    if (table.size() < kMishHeaderSize || GetBe32(table.data()) != kMishSignature)
    {
        *error = "a block table of the image is damaged";
        return false;
    }
    uint64_t const first = GetBe64(&table[8]);
    uint64_t const count = GetBe64(&table[16]);
    uint64_t const dataOffset = GetBe64(&table[24]);
    uint64_t const runCount = GetBe32(&table[200]);
    if (first > diskSectors || count > diskSectors - first || runCount > (table.size() - kMishHeaderSize) / kMishRunSize)
    {
        *error = "a block table of the image is damaged";
        return false;
    }
    for (uint64_t i = 0; i < runCount; ++i)
    {
        uint8_t const* p = &table[kMishHeaderSize + i * kMishRunSize];
        CRun run{GetBe32(p), GetBe64(p + 8), GetBe64(p + 16), GetBe64(p + 24), GetBe64(p + 32)};
        if (run.type == kBlkxTerminator)
            break;
        if (run.type == kBlkxComment || run.sectorCount == 0)
            continue;
        if (run.type == kBlkxAdc || run.type == kBlkxLzfse ||
            (run.type != kBlkxZeroFill && run.type != kBlkxIgnore && run.type != kBlkxRaw && !IsCompressed(run.type)))
        {
            char text[80];
            snprintf(text, sizeof text, "the image uses run type 0x%08x, which can't be read here", run.type);
            *error = text;
            return false;
        }
        if (run.firstSector > count || run.sectorCount > count - run.firstSector || run.offset > UINT64_MAX - dataOffset ||
            (run.type != kBlkxZeroFill && run.type != kBlkxIgnore && run.sectorCount > kUdifMaxRunSectors) ||
            (IsCompressed(run.type) && (run.length == 0 || run.length > kUdifMaxRunSectors * 512)) ||
            (run.type == kBlkxRaw && run.length != run.sectorCount * 512))
        {
            *error = "a block table of the image is damaged";
            return false;
        }
        run.firstSector += first;
        run.offset += dataOffset;
        runs.push_back(run);
    }
    return true;
}

bool CUdifImageReader::SpendWork(uint64_t bytes, std::string* error)
{
    if (stopCheck && stopCheck())
    {
        *error = "stopped by a signal";
        return false;
    }
    if (bytes > workBudget - workDone)
    {
        *error = "reading it takes more than " + std::to_string(workBudget >> 20) +
                 " MB of decompressed data, far more than an image of its size holds";
        return false;
    }
    workDone += bytes;
    return true;
}

std::vector<uint8_t> const* CUdifImageReader::LoadRun(size_t index, std::string* error)
{
    for (auto cached = cache.begin(); cached != cache.end(); ++cached)
        if (cached->index == index)
        {
            cache.splice(cache.begin(), cache, cached);
            return &cache.front().bytes;
        }
    CRun const& run = runs[index];
    if (!SpendWork(run.sectorCount * 512, error))
        return nullptr;
    std::vector<uint8_t> bytes(run.sectorCount * 512, 0);
    std::vector<uint8_t> stored(run.length);
    if (!read(run.offset, stored.data(), stored.size(), error))
        return nullptr;
    bool ok = true;
    if (run.type == kBlkxRaw)
        bytes.swap(stored);
    else if (run.type == kBlkxZlib)
        ok = InflateZlib(stored.data(), stored.size(), bytes.data(), bytes.size());
    else if (run.type == kBlkxBzip2)
        ok = InflateBzip2(stored.data(), stored.size(), bytes.data(), bytes.size());
    else
        ok = InflateLzma(stored.data(), stored.size(), bytes.data(), bytes.size());
    if (!ok)
    {
        *error = "a compressed run of the image is damaged";
        return nullptr;
    }
    while (!cache.empty() && cachedBytes + bytes.size() > kCacheBytes)
    {
        cachedBytes -= cache.back().bytes.size();
        cache.pop_back();
    }
    cachedBytes += bytes.size();
    cache.push_front({index, std::move(bytes)});
    return &cache.front().bytes;
}

bool CUdifImageReader::ReadDisk(uint64_t offset, uint8_t* data, size_t size, std::string* error)
{
    uint64_t const diskSize = GetDiskSize();
    if (offset > diskSize || size > diskSize - offset)
    {
        *error = "the image's disk is shorter than its volume claims";
        return false;
    }
    if (!SpendWork(size, error))
        return false;
    while (size > 0)
    {
        uint64_t const sector = offset / 512;
        auto next = std::upper_bound(runs.begin(), runs.end(), sector,
                                     [](uint64_t s, CRun const& run) { return s < run.firstSector; });
        size_t const index = size_t(next - runs.begin());
        bool const inRun = index > 0 && sector < runs[index - 1].firstSector + runs[index - 1].sectorCount;
        bool const stored = inRun && runs[index - 1].type != kBlkxZeroFill && runs[index - 1].type != kBlkxIgnore;
        size_t part;
        if (stored)
        {
            CRun const& run = runs[index - 1];
            std::vector<uint8_t> const* bytes = LoadRun(index - 1, error);
            if (!bytes)
                return false;
            uint64_t const within = offset - run.firstSector * 512;
            part = size_t(std::min<uint64_t>(size, bytes->size() - within));
            std::memcpy(data, bytes->data() + within, part);
        }
        else
        {
            // Zero runs and sectors no run maps read as zeros, up to the next run.
            uint64_t const gapEnd = inRun                  ? (runs[index - 1].firstSector + runs[index - 1].sectorCount) * 512
                                    : index < runs.size() ? runs[index].firstSector * 512
                                                          : diskSize;
            part = size_t(std::min<uint64_t>(size, gapEnd - offset));
            std::memset(data, 0, part);
        }
        data += part;
        offset += part;
        size -= part;
    }
    return true;
}
