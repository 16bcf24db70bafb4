// Folding and hashing of names for a case- and normalization-insensitive APFS volume.
#include "apfs/ApfsNames.h"

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <array>

namespace
{
std::array<uint32_t, 256> MakeCrc32cTable()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i)
    {
        uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1) ? (c >> 1) ^ 0x82F63B78u : c >> 1;
        table[i] = c;
    }
    return table;
}

bool IsValidUtf8(std::string const& text)
{
    int32_t i = 0;
    int32_t const length = int32_t(text.size());
    while (i < length)
    {
        UChar32 c;
        U8_NEXT(reinterpret_cast<uint8_t const*>(text.data()), i, length, c);
        if (c < 0)
            return false;
    }
    return true;
}
} // namespace

uint32_t UpdateCrc32c(uint32_t crc, void const* data, size_t size)
{
    static std::array<uint32_t, 256> const table = MakeCrc32cTable();
    auto const* bytes = static_cast<uint8_t const*>(data);
    for (size_t i = 0; i < size; ++i)
        crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

std::u32string FoldApfsName(std::string const& utf8)
{
    if (!IsValidUtf8(utf8))
        return {};
    UErrorCode status = U_ZERO_ERROR;
    icu::Normalizer2 const* nfd = icu::Normalizer2::getNFDInstance(status);
    if (U_FAILURE(status))
        return {};
    // Folding can undo a decomposition's order, so the folded text is decomposed once more.
    icu::UnicodeString text = nfd->normalize(icu::UnicodeString::fromUTF8(utf8), status);
    text.foldCase(U_FOLD_CASE_DEFAULT);
    text = nfd->normalize(text, status);
    if (U_FAILURE(status))
        return {};
    std::u32string folded;
    for (int32_t i = 0; i < text.length();)
    {
        UChar32 const c = text.char32At(i);
        folded.push_back(char32_t(c));
        i += U16_LENGTH(c);
    }
    return folded;
}

uint32_t HashApfsName(std::u32string const& folded)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (char32_t c : folded)
    {
        uint8_t const word[4] = {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16), uint8_t(c >> 24)};
        crc = UpdateCrc32c(crc, word, 4);
    }
    return crc & 0x3FFFFF;
}
