// Fixed-width integer stores and loads for on-disk structures. HFS+, UDIF and alias records are
// big-endian; the GUID partition map is little-endian.
#pragma once

#include <cstdint>

inline void PutBe16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}

inline void PutBe32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

inline void PutBe64(uint8_t* p, uint64_t v)
{
    PutBe32(p, uint32_t(v >> 32));
    PutBe32(p + 4, uint32_t(v));
}

inline uint16_t GetBe16(uint8_t const* p)
{
    return uint16_t((p[0] << 8) | p[1]);
}

inline uint32_t GetBe32(uint8_t const* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

inline uint64_t GetBe64(uint8_t const* p)
{
    return (uint64_t(GetBe32(p)) << 32) | GetBe32(p + 4);
}

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
