// Fixed-width integer stores and loads for the on-disk structures the stand-ins write: the GUID
// partition map is little-endian, HFS+ and alias records are big-endian.
#pragma once

#include <cstdint>

inline void PutLittleEndian(uint8_t* out, uint64_t value, int byteCount)
{
    for (int i = 0; i < byteCount; ++i, value >>= 8)
        out[i] = static_cast<uint8_t>(value);
}

inline uint64_t GetLittleEndian(uint8_t const* in, int byteCount)
{
    uint64_t value = 0;
    for (int i = byteCount - 1; i >= 0; --i)
        value = (value << 8) | in[i];
    return value;
}

inline void PutBigEndian(uint8_t* out, uint64_t value, int byteCount)
{
    for (int i = byteCount - 1; i >= 0; --i, value >>= 8)
        out[i] = static_cast<uint8_t>(value);
}

inline uint64_t GetBigEndian(uint8_t const* in, int byteCount)
{
    uint64_t value = 0;
    for (int i = 0; i < byteCount; ++i)
        value = (value << 8) | in[i];
    return value;
}
