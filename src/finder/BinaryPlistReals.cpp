// Widening the 4-byte reals of a binary property list to 8-byte doubles.
//
// Binary property list layout (all numbers big-endian):
//   offset 0        8 bytes   "bplist00"
//   offset 8        ...       objects; a real is the marker 0x22 (4-byte float) or 0x23 (8-byte double)
//                             followed by its bytes
//   table offset    n * size  offset of each object, in object number order, `size` bytes each
//   last 32 bytes   trailer:  6 unused, 1 sort version, 1 offset size, 1 reference size,
//                             8 object count, 8 top object number, 8 table offset
// Objects refer to each other by number, so objects may move as long as the table follows them.
#include "finder/BinaryPlistReals.h"

#include "io/ByteOrder.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <utility>

namespace
{
constexpr size_t kHeaderBytes = 8;
constexpr size_t kTrailerBytes = 32;
constexpr uint8_t kFloatMarker = 0x22;
constexpr uint8_t kDoubleMarker = 0x23;
constexpr char const* kDamaged = "Damaged binary property list.";

int BytesForOffset(size_t largest)
{
    return largest <= 0xFF ? 1 : largest <= 0xFFFF ? 2 : largest <= 0xFFFFFFFFu ? 4 : 8;
}
} // namespace

bool WidenBinaryPlistReals(std::vector<unsigned char> const& bytes, std::vector<unsigned char>* wide,
                           std::string* error)
{
    if (bytes.size() < kHeaderBytes + kTrailerBytes || std::memcmp(bytes.data(), "bplist00", 8) != 0)
    {
        *error = "Not a binary property list.";
        return false;
    }
    uint8_t const* trailer = bytes.data() + bytes.size() - kTrailerBytes;
    int offsetSize = trailer[6];
    uint64_t objectCount = GetBe64(trailer + 8);
    uint64_t tableOffset = GetBe64(trailer + 24);
    uint64_t tableEnd = bytes.size() - kTrailerBytes;
    if (offsetSize < 1 || offsetSize > 8 || tableOffset < kHeaderBytes || tableOffset > tableEnd ||
        objectCount > (tableEnd - tableOffset) / uint64_t(offsetSize))
    {
        *error = kDamaged;
        return false;
    }

    std::vector<uint64_t> offsets(objectCount);
    for (uint64_t i = 0; i < objectCount; ++i)
    {
        uint64_t const offset = GetBe(bytes.data() + tableOffset + i * uint64_t(offsetSize), offsetSize);
        if (offset < kHeaderBytes || offset >= tableOffset)
        {
            *error = kDamaged;
            return false;
        }
        offsets[i] = offset;
    }

    // Objects lie back to back: each ends where the next one in the file begins.
    std::vector<size_t> order(objectCount);
    std::iota(order.begin(), order.end(), size_t(0));
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return offsets[a] < offsets[b]; });

    std::vector<unsigned char> out(bytes.begin(), bytes.begin() + kHeaderBytes);
    std::vector<uint64_t> newOffsets(objectCount);
    for (size_t k = 0; k < order.size(); ++k)
    {
        uint64_t start = offsets[order[k]];
        uint64_t end = k + 1 < order.size() ? offsets[order[k + 1]] : tableOffset;
        newOffsets[order[k]] = out.size();
        if (bytes[start] == kFloatMarker && end - start >= 5)
        {
            float single;
            uint32_t singleBits = GetBe32(bytes.data() + start + 1);
            std::memcpy(&single, &singleBits, sizeof(single));
            double wide = single;
            uint64_t wideBits;
            std::memcpy(&wideBits, &wide, sizeof(wideBits));
            uint8_t field[9] = {kDoubleMarker};
            PutBe64(field + 1, wideBits);
            out.insert(out.end(), field, field + sizeof(field));
            out.insert(out.end(), bytes.begin() + long(start + 5), bytes.begin() + long(end));
        }
        else
            out.insert(out.end(), bytes.begin() + long(start), bytes.begin() + long(end));
    }

    uint64_t newTableOffset = out.size();
    int newOffsetSize = BytesForOffset(newTableOffset);
    out.resize(out.size() + newOffsets.size() * size_t(newOffsetSize));
    for (size_t i = 0; i < newOffsets.size(); ++i)
        PutBe(out.data() + newTableOffset + i * size_t(newOffsetSize), newOffsets[i], newOffsetSize);
    out.insert(out.end(), trailer, trailer + kTrailerBytes);
    uint8_t* newTrailer = out.data() + out.size() - kTrailerBytes;
    newTrailer[6] = uint8_t(newOffsetSize);
    PutBe64(newTrailer + 24, newTableOffset);
    *wide = std::move(out);
    return true;
}
