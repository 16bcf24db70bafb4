// Fixed-width integer stores and loads for on-disk structures, the one byte-order API of the
// project. HFS+, UDIF, alias records and desktop databases are big-endian (Be); the GUID partition
// map is little-endian (Le). A store keeps the low bits of the value that fit the width.
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

// Big-endian fields whose width is only known at run time (1 to 8 bytes), as binary property
// lists size their offsets.
inline void PutBe(uint8_t* p, uint64_t v, int byteCount)
{
    for (int i = byteCount - 1; i >= 0; --i, v >>= 8)
        p[i] = uint8_t(v);
}

inline uint64_t GetBe(uint8_t const* p, int byteCount)
{
    uint64_t v = 0;
    for (int i = 0; i < byteCount; ++i)
        v = (v << 8) | p[i];
    return v;
}

inline void PutLe16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

inline void PutLe32(uint8_t* p, uint32_t v)
{
    PutLe16(p, uint16_t(v));
    PutLe16(p + 2, uint16_t(v >> 16));
}

inline void PutLe64(uint8_t* p, uint64_t v)
{
    PutLe32(p, uint32_t(v));
    PutLe32(p + 4, uint32_t(v >> 32));
}

inline uint16_t GetLe16(uint8_t const* p)
{
    return uint16_t(p[0] | (p[1] << 8));
}

inline uint32_t GetLe32(uint8_t const* p)
{
    return uint32_t(GetLe16(p)) | (uint32_t(GetLe16(p + 2)) << 16);
}

inline uint64_t GetLe64(uint8_t const* p)
{
    return uint64_t(GetLe32(p)) | (uint64_t(GetLe32(p + 4)) << 32);
}
