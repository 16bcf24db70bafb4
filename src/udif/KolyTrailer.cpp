// Serialising the 'koly' trailer at the end of a UDIF image.
#include "udif/KolyTrailer.h"

#include "io/ByteOrder.h"

#include <cstring>

namespace
{
constexpr uint32_t kFlagFlattened = 1;
constexpr uint32_t kVariantDevice = 1;
constexpr uint32_t kChecksumCrc32 = 2;
} // namespace

// The trailer (UDIFResourceFile in the public UDIF write-ups), 512 bytes, big-endian:
//   offset size meaning
//        0    4 signature 'koly'
//        4    4 version, 4
//        8    4 header size, 512
//       12    4 flags: 1 flattened
//       16    8 running data fork offset (0)
//       24    8 data fork offset (0: the data fork starts the file)
//       32    8 data fork length
//       40    8 resource fork offset (0: the resources are in the XML property list)
//       48    8 resource fork length (0)
//       56    4 segment number, 1
//       60    4 segment count, 1
//       64   16 segment ID
//       80    4 data fork checksum type: 2 CRC-32
//       84    4 checksum size in bits, 32
//       88  128 checksum value (the first word used)
//      216    8 XML property list offset
//      224    8 XML property list length
//      232   64 reserved
//      296    8 code signature offset (0: unsigned; set by the signer)
//      304    8 code signature size
//      312   40 reserved
//      352    4 master checksum type: 2 CRC-32, over the block tables' checksums
//      356    4 checksum size in bits, 32
//      360  128 checksum value (the first word used)
//      488    4 image variant: 1 device image
//      492    8 sector count, 512-byte sectors of the whole disk
//      500   12 reserved
std::array<uint8_t, kKolyTrailerSize> SerializeKolyTrailer(CKolyTrailer const& trailer)
{
    std::array<uint8_t, kKolyTrailerSize> bytes{};
    uint8_t* p = bytes.data();
    PutBe32(p, kKolySignature);
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
