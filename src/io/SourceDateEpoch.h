// Reproducible builds: the SOURCE_DATE_EPOCH convention. When the variable holds a Unix time, every
// date written into an image is that time and every identifier that would be random is derived
// from what the image holds, so two builds of the same input give the same bytes.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>

// Mac dates are unsigned 32-bit seconds since 1904: the latest Unix time they hold (2106-02-07).
constexpr int64_t kLatestSourceDateEpoch = 0xFFFFFFFFll - 2082844800ll;

// A plain decimal number of seconds, 0 to kLatestSourceDateEpoch: no sign, blank or other
// character (the reproducible-builds convention asks for an error, not a guess, on anything else).
inline bool ParseSourceDateEpoch(char const* text, int64_t* seconds)
{
    int64_t value = 0;
    if (*text == '\0')
        return false;
    for (char const* c = text; *c; ++c)
    {
        if (*c < '0' || *c > '9')
            return false;
        value = value * 10 + (*c - '0');
        if (value > kLatestSourceDateEpoch)
            return false;
    }
    *seconds = value;
    return true;
}

// The variable's value when it is set and well formed; false otherwise (then the build uses the
// clock and fresh random values). A malformed value is refused at start (CheckSourceDateEpoch), so
// during a build false means unset or empty.
inline bool GetSourceDateEpoch(int64_t* seconds)
{
    char const* text = std::getenv("SOURCE_DATE_EPOCH");
    return text != nullptr && ParseSourceDateEpoch(text, seconds);
}

// False, with the message's text, when the variable is set to something other than empty or a
// well-formed time. An empty value counts as unset, as CI systems export variables they clear.
inline bool CheckSourceDateEpoch(std::string* error)
{
    char const* text = std::getenv("SOURCE_DATE_EPOCH");
    int64_t ignored = 0;
    if (text == nullptr || *text == '\0' || ParseSourceDateEpoch(text, &ignored))
        return true;
    *error = std::string("SOURCE_DATE_EPOCH value '") + text +
             "' is not accepted; use a whole number of seconds since 1970, from 0 to " +
             std::to_string(kLatestSourceDateEpoch);
    return false;
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
