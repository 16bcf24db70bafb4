// Compressing one data fork chunk in the stream form that each UDIF image format stores.
#pragma once

#include <cstddef>
#include <cstdint>

struct libdeflate_compressor;

// The read-only image formats the writer makes. Chunk run types and stream forms per format:
//
// | Format | Run type   | One chunk is stored as                         | Readers that decode it          |
// |--------|------------|------------------------------------------------|---------------------------------|
// | UDZO   | 0x80000005 | one zlib stream (RFC 1950)                     | macOS, 7-Zip, dmg2img           |
// | UDBZ   | 0x80000006 | one bzip2 stream ("BZh9", 900 kB blocks)       | macOS 10.4+, 7-Zip, dmg2img     |
// | ULMO   | 0x80000008 | one .xz stream holding one LZMA2 block         | macOS 10.15+, 7-Zip             |
// | UDRO   | 0x00000001 | the bytes as they are                          | every reader                    |
//
// Every format also uses 0x00000000 (reads as zeros) and 0x00000002 (free space, reads as zeros) for
// chunks that store nothing, and 0x00000001 for a chunk that would not get smaller. 0x80000007
// (LZFSE, ULFO) is not written: no LZFSE library ships with Debian. The type numbers and the xz
// stream form of 0x80000008 are those 7-Zip's DMG reader decodes (DmgHandler.cpp: METHOD_ZLIB,
// METHOD_BZIP2, METHOD_LZFSE, METHOD_XZ); dmg2img decodes 0x80000005 and 0x80000006.
enum class EUdifFormat
{
    Udzo,
    Udbz,
    Ulmo,
    Udro,
};

// The run type of a chunk that was compressed in `format`.
uint32_t GetCompressedRunType(EUdifFormat format);

// One per worker thread: holds the compressor state that is worth keeping between chunks.
class CChunkCodec
{
public:
    // `level` is the zlib level (1 to 9) for UDZO; the other formats use their tools' strongest
    // usual setting (bzip2 -9, xz -6).
    CChunkCodec(EUdifFormat format, int level);
    ~CChunkCodec();
    CChunkCodec(CChunkCodec const&) = delete;
    CChunkCodec& operator=(CChunkCodec const&) = delete;

    // Compresses `size` bytes into at most `capacity` bytes; 0 when the stream would not fit (or the
    // format stores chunks uncompressed, or memory ran out), in which case the chunk is stored as it
    // is. Never throws: it runs on worker threads.
    size_t Compress(uint8_t const* input, size_t size, uint8_t* output, size_t capacity);

private:
    EUdifFormat m_format;
    libdeflate_compressor* m_deflate = nullptr;
};
