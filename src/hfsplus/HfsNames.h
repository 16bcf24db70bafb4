// File names as HFS+ stores and orders them: Apple's decomposed UTF-16, compared case-insensitively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr size_t kHfsMaxNameLength = 255; // UTF-16 units

// Converts a UTF-8 name to its stored form: canonically decomposed (except the ranges Apple leaves
// composed), with ':' stored as '/'. Fails on invalid UTF-8 or a name longer than 255 units.
bool ConvertNameToHfs(std::string const& utf8, std::u16string* hfsName, std::string* error);

// The stored form as a POSIX name: the decomposed units in UTF-8, '/' back to ':'. This is how the
// Finder spells names outside the catalog (desktop database records, alias paths). A name the volume
// could not store is given back unchanged.
std::string ConvertNameToDecomposedUtf8(std::string const& utf8);

// The reverse, for names read back from a volume; the result is composed (NFC) UTF-8.
std::string ConvertHfsNameToUtf8(std::u16string const& hfsName);

// Case folding of HFS+ name comparison: 0 for characters that are ignored, 0xFFFF for NUL.
uint16_t FoldHfsChar(uint16_t c);

// Catalog name order (TN1150's FastUnicodeCompare: case-insensitive, letters folded to lower case,
// ignorable characters skipped): <0, 0 or >0. Units is any string of UTF-16 units; each element is
// taken as its low 16 bits, so wide strings that hold units with either sign compare alike.
template <typename Units> int CompareHfsUnits(Units const& a, Units const& b)
{
    size_t i = 0, j = 0;
    for (;;)
    {
        uint16_t ca = 0, cb = 0;
        while (ca == 0 && i < a.size())
            ca = FoldHfsChar(static_cast<uint16_t>(a[i++]));
        while (cb == 0 && j < b.size())
            cb = FoldHfsChar(static_cast<uint16_t>(b[j++]));
        if (ca != cb)
            return ca < cb ? -1 : 1;
        if (ca == 0)
            return 0;
    }
}

inline int CompareHfsNames(std::u16string const& a, std::u16string const& b)
{
    return CompareHfsUnits(a, b);
}
