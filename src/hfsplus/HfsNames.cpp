// Converting UTF-8 names to the decomposed UTF-16 HFS+ stores, and HFS+'s case-insensitive order.
#include "hfsplus/HfsNames.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>

#include <vector>

namespace
{

// Apple's decomposition leaves these ranges composed (general punctuation through CJK radicals, and
// the CJK compatibility ideographs), so names keep them as given.
bool IsKeptComposed(UChar32 c)
{
    return (c >= 0x2000 && c <= 0x2FFF) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0x2F800 && c <= 0x2FAFF);
}

bool IsIgnorable(uint32_t c)
{
    return (c >= 0x200C && c <= 0x200F) || (c >= 0x202A && c <= 0x202E) || (c >= 0x206A && c <= 0x206F) ||
           c == 0xFEFF;
}

bool IsFromUnicode2(UChar32 c)
{
    UVersionInfo age;
    u_charAge(c, age);
    return age[0] != 0 && (age[0] < 2 || (age[0] == 2 && age[1] == 0));
}

// The comparison table dates from Unicode 2.0: it folds upper to lower case only for characters of
// that era that have no canonical decomposition (stored names never hold decomposable characters),
// in the blocks Latin, Greek, Cyrillic, Armenian, Georgian, letterlike symbols and fullwidth forms.
std::vector<uint16_t> BuildFoldTable()
{
    std::vector<uint16_t> table(0x10000);
    UErrorCode status = U_ZERO_ERROR;
    icu::Normalizer2 const* nfd = icu::Normalizer2::getNFDInstance(status);
    for (uint32_t c = 0; c < 0x10000; ++c)
    {
        table[c] = uint16_t(c);
        uint32_t page = c >> 8;
        if (c == 0)
            table[c] = 0xFFFF;
        else if (IsIgnorable(c))
            table[c] = 0;
        else if (c >= 0x10A0 && c <= 0x10C5)
            table[c] = uint16_t(c + 0x30); // Georgian capitals fold to the Mkhedruli letters
        else if (page == 0x00 || page == 0x01 || page == 0x03 || page == 0x04 || page == 0x05 ||
                 page == 0x21 || page == 0xFF)
        {
            UChar32 lower = u_tolower(UChar32(c));
            icu::UnicodeString decomposition;
            bool decomposes = U_SUCCESS(status) && nfd->getDecomposition(UChar32(c), decomposition);
            if (lower != UChar32(c) && lower < 0x10000 && !decomposes && IsFromUnicode2(UChar32(c)) &&
                IsFromUnicode2(lower))
                table[c] = uint16_t(lower);
        }
    }
    return table;
}

} // namespace

uint16_t FoldHfsChar(uint16_t c)
{
    static std::vector<uint16_t> const table = BuildFoldTable();
    return table[c];
}

bool ConvertNameToHfs(std::string const& utf8, std::u16string* hfsName, std::string* error)
{
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(utf8);
    // fromUTF8 replaces malformed sequences with U+FFFD; a round trip tells them apart.
    std::string back;
    text.toUTF8String(back);
    if (back != utf8)
    {
        *error = "the name \"" + utf8 + "\" is not valid UTF-8";
        return false;
    }
    icu::Normalizer2 const* nfd = icu::Normalizer2::getNFDInstance(status);
    if (U_FAILURE(status))
    {
        *error = std::string("Unicode decomposition data unavailable: ") + u_errorName(status);
        return false;
    }
    icu::UnicodeString decomposed;
    int32_t start = 0;
    while (start < text.length())
    {
        int32_t end = start;
        bool kept = IsKeptComposed(text.char32At(start));
        while (end < text.length() && IsKeptComposed(text.char32At(end)) == kept)
            end = text.moveIndex32(end, 1);
        icu::UnicodeString part(text, start, end - start);
        if (kept)
            decomposed.append(part);
        else
            decomposed.append(nfd->normalize(part, status));
        start = end;
    }
    if (U_FAILURE(status))
    {
        *error = "cannot decompose the name \"" + utf8 + "\": " + u_errorName(status);
        return false;
    }
    if (size_t(decomposed.length()) > kHfsMaxNameLength)
    {
        *error = "the name \"" + utf8 + "\" is too long for HFS+ (" + std::to_string(decomposed.length()) +
                 " UTF-16 units, at most 255)";
        return false;
    }
    hfsName->assign(reinterpret_cast<char16_t const*>(decomposed.getBuffer()), size_t(decomposed.length()));
    for (char16_t& c : *hfsName)
        if (c == u':')
            c = u'/';
    return true;
}

std::string ConvertNameToDecomposedUtf8(std::string const& utf8)
{
    std::u16string stored;
    std::string error;
    if (!ConvertNameToHfs(utf8, &stored, &error))
        return utf8;
    for (char16_t& c : stored)
        c = c == u'/' ? u':' : c;
    std::string decomposed;
    icu::UnicodeString(reinterpret_cast<UChar const*>(stored.data()), int32_t(stored.size()))
        .toUTF8String(decomposed);
    return decomposed;
}

std::string ConvertHfsNameToUtf8(std::u16string const& hfsName)
{
    std::u16string name = hfsName;
    for (char16_t& c : name)
        if (c == u'/')
            c = u':';
    icu::UnicodeString text(reinterpret_cast<UChar const*>(name.data()), int32_t(name.size()));
    UErrorCode status = U_ZERO_ERROR;
    icu::Normalizer2 const* nfc = icu::Normalizer2::getNFCInstance(status);
    std::string utf8;
    if (U_SUCCESS(status))
        text = nfc->normalize(text, status);
    text.toUTF8String(utf8);
    return utf8;
}
