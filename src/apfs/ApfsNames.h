// Names as a case-insensitive APFS volume compares them: canonically decomposed and case-folded,
// and the directory-entry hash taken over that form.
#pragma once

#include <cstdint>
#include <string>

constexpr size_t kApfsMaxNameBytes = 255; // UTF-8 bytes, without the terminating NUL

// The form two names share when the volume can't tell them apart (UTF-32 code points). Empty when
// `utf8` is not valid UTF-8.
std::u32string FoldApfsName(std::string const& utf8);

// The 22-bit hash of a directory entry's name: CRC-32C (Castagnoli, seeded with all ones, not
// inverted at the end) of the folded name's code points as 32-bit little-endian words.
uint32_t HashApfsName(std::u32string const& folded);

// CRC-32C of a byte range, continuing from `crc` with neither a final nor an initial inversion.
uint32_t UpdateCrc32c(uint32_t crc, void const* data, size_t size);
