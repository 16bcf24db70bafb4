// The 512-byte 'koly' trailer that ends every UDIF image and locates its parts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

constexpr size_t kKolyTrailerSize = 512;
constexpr uint32_t kKolySignature = 0x6B6F6C79; // 'koly'
// The largest property list an image may carry: the image reader refuses larger ones, and the
// licence editor refuses to write one. Block tables take some 60 bytes per MiB of disk (16 MiB for
// 250 GiB); seventeen licence texts of the 4 MB allowed take some 95 MB as base64.
constexpr uint64_t kUdifMaxPlistBytes = uint64_t(128) << 20;
// Where a signed image's trailer locates its code signature (two big-endian 64-bit fields; 0 when
// unsigned): the signature lies between the property list and the trailer.
constexpr size_t kKolyCodeSignatureOffset = 296;
constexpr size_t kKolyCodeSignatureSize = 304;

struct CKolyTrailer
{
    uint64_t dataForkLength = 0; // the data fork starts the file
    uint64_t xmlOffset = 0;
    uint64_t xmlLength = 0;
    std::array<uint8_t, 16> segmentId{};
    uint32_t dataForkCrc32 = 0;
    uint32_t masterCrc32 = 0; // over the block tables' checksums
    uint64_t sectorCount = 0;
};

// Serialises a version 4, flattened, single-segment device image trailer.
std::array<uint8_t, kKolyTrailerSize> SerializeKolyTrailer(CKolyTrailer const& trailer);
