// Big-endian field stores for the on-disk UDIF structures.
#pragma once

#include <cstdint>

inline void PutBigEndian32(uint8_t* out, uint32_t value)
{
    for (int i = 3; i >= 0; --i, value >>= 8)
        out[i] = static_cast<uint8_t>(value);
}

inline void PutBigEndian64(uint8_t* out, uint64_t value)
{
    for (int i = 7; i >= 0; --i, value >>= 8)
        out[i] = static_cast<uint8_t>(value);
}
