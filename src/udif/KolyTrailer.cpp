#include "udif/KolyTrailer.h"

#include "io/ByteOrder.h"

#include <cstring>

namespace
{
constexpr uint32_t kFlagFlattened = 1;
constexpr uint32_t kVariantDevice = 1;
constexpr uint32_t kChecksumCrc32 = 2;
} // namespace

std::array<uint8_t, kKolyTrailerSize> SerializeKolyTrailer(CKolyTrailer const& trailer)
{
    std::array<uint8_t, kKolyTrailerSize> bytes{};
    uint8_t* p = bytes.data();
    PutBe32(p, 0x6B6F6C79); // 'koly'
    PutBe32(p + 4, 4);
    PutBe32(p + 8, kKolyTrailerSize);
    PutBe32(p + 12, kFlagFlattened);
    PutBe64(p + 16, 0); // running data fork offset
    PutBe64(p + 24, 0); // data fork offset
    PutBe64(p + 32, trailer.dataForkLength);
    PutBe64(p + 40, 0); // no resource fork: its contents live in the XML
    PutBe64(p + 48, 0);
    PutBe32(p + 56, 1); // segment 1 of 1
    PutBe32(p + 60, 1);
    std::memcpy(p + 64, trailer.segmentId.data(), trailer.segmentId.size());
    PutBe32(p + 80, kChecksumCrc32);
    PutBe32(p + 84, 32);
    PutBe32(p + 88, trailer.dataForkCrc32);
    PutBe64(p + 216, trailer.xmlOffset);
    PutBe64(p + 224, trailer.xmlLength);
    PutBe32(p + 352, kChecksumCrc32);
    PutBe32(p + 356, 32);
    PutBe32(p + 360, trailer.masterCrc32);
    PutBe32(p + 488, kVariantDevice);
    PutBe64(p + 492, trailer.sectorCount);
    return bytes;
}
