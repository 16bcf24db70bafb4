// Reproducible builds: the SOURCE_DATE_EPOCH convention. When the variable holds a Unix time, every
// date written into an image is that time and every identifier that would be random is derived
// from what the image holds, so two builds of the same input give the same bytes.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdlib>

// The variable's value when it is a plain non-negative decimal number of seconds; false otherwise
// (unset, empty or malformed, in which case the build uses the clock and fresh random values).
inline bool GetSourceDateEpoch(int64_t* seconds)
{
    char const* text = std::getenv("SOURCE_DATE_EPOCH");
    if (text == nullptr || *text < '0' || *text > '9')
        return false;
    char* end = nullptr;
    errno = 0;
    long long value = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0')
        return false;
    *seconds = value;
    return true;
}

// 64-bit FNV-1a over a byte range, continuing from `hash`: the one mixer for identifiers that are
// derived from content instead of drawn at random.
inline uint64_t MixFnv1a(uint64_t hash, void const* data, size_t size)
{
    auto const* bytes = static_cast<uint8_t const*>(data);
    for (size_t i = 0; i < size; ++i)
    {
        hash ^= bytes[i];
        hash *= 1099511628211ull;
    }
    return hash;
}

constexpr uint64_t kFnv1aStart = 14695981039346656037ull;
