// Compressing one chunk with libdeflate (zlib streams), libbz2 or liblzma, as each format stores it.
#include "udif/ChunkCodec.h"

#include "udif/BlkxTable.h"

#include <bzlib.h>
#include <libdeflate.h>
#include <lzma.h>

#include <algorithm>
#include <climits>
#include <new>

namespace
{
// The libdeflate level that compresses at least as well as zlib at a given level, and faster.
// libdeflate's levels 8 and 9 search so deep that highly repetitive data compresses at under 2 MB/s,
// slower than zlib at level 9; level 7 already beats zlib's level 9 output on every kind of data
// we measured (text, code, binaries, localisations), at several times zlib's speed.
int ChooseLibdeflateLevel(int zlibLevel)
{
    return std::min(std::max(zlibLevel, 1), 7);
}

constexpr int kBzip2BlockSize = 9; // 900 kB blocks, as bzip2 -9
constexpr uint32_t kXzPreset = 6;  // as xz -6
// A chunk is at most 1 MiB, so a larger dictionary than that only costs memory and set-up time
// (preset 6 asks for 8 MiB); the stream comes out the same.
constexpr uint32_t kXzDictionary = 1u << 20;

size_t CompressBzip2(uint8_t const* input, size_t size, uint8_t* output, size_t capacity)
{
    if (size > UINT_MAX || capacity > UINT_MAX)
        return 0;
    unsigned int outSize = static_cast<unsigned int>(capacity);
    int result = BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(output), &outSize,
                                          const_cast<char*>(reinterpret_cast<char const*>(input)),
                                          static_cast<unsigned int>(size), kBzip2BlockSize, 0, 0);
    // Out of memory too leaves the chunk stored as it is: still a sound image.
    return result == BZ_OK ? outSize : 0;
}

size_t CompressXz(uint8_t const* input, size_t size, uint8_t* output, size_t capacity)
{
    lzma_options_lzma options;
    if (lzma_lzma_preset(&options, kXzPreset))
        return 0;
    options.dict_size = kXzDictionary;
    lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    size_t written = 0;
    lzma_ret result = lzma_stream_buffer_encode(filters, LZMA_CHECK_CRC64, nullptr, input, size, output,
                                                &written, capacity);
    return result == LZMA_OK ? written : 0;
}
} // namespace

CChunkCodec::CChunkCodec(EUdifFormat format, int level) : m_format(format)
{
    if (format == EUdifFormat::Udzo)
    {
        m_deflate = libdeflate_alloc_compressor(ChooseLibdeflateLevel(level));
        if (!m_deflate)
            throw std::bad_alloc();
    }
}

CChunkCodec::~CChunkCodec()
{
    if (m_deflate)
        libdeflate_free_compressor(m_deflate);
}

size_t CChunkCodec::Compress(uint8_t const* input, size_t size, uint8_t* output, size_t capacity)
{
    switch (m_format)
    {
    case EUdifFormat::Udzo:
        return libdeflate_zlib_compress(m_deflate, input, size, output, capacity);
    case EUdifFormat::Udbz:
        return CompressBzip2(input, size, output, capacity);
    case EUdifFormat::Ulmo:
        return CompressXz(input, size, output, capacity);
    case EUdifFormat::Udro:
        break;
    }
    return 0;
}

uint32_t GetCompressedRunType(EUdifFormat format)
{
    switch (format)
    {
    case EUdifFormat::Udzo:
        return kBlkxZlib;
    case EUdifFormat::Udbz:
        return kBlkxBzip2;
    case EUdifFormat::Ulmo:
        return kBlkxLzma;
    case EUdifFormat::Udro:
        break;
    }
    return kBlkxRaw;
}
