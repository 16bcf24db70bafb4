#include "picture/IcnsElements.h"

#include "io/ByteOrder.h"

#include <algorithm>
#include <cstring>

std::vector<CIcnsPng> ListIcnsPngElements(std::vector<uint8_t> const& bytes)
{
    std::vector<CIcnsPng> pngs;
    if (bytes.size() < 8 || std::memcmp(bytes.data(), "icns", 4) != 0)
        return pngs;
    size_t const end = std::min<size_t>(bytes.size(), GetBe32(&bytes[4]));
    for (size_t at = 8; at + 8 <= end;)
    {
        size_t const length = GetBe32(&bytes[at + 4]);
        if (length < 8 || length > end - at)
            break;
        static uint8_t const kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        if (length >= 16 && std::memcmp(&bytes[at + 8], kPngSignature, 8) == 0)
            pngs.push_back({&bytes[at + 8], length - 8});
        at += length;
    }
    return pngs;
}
