// The PNG pictures an .icns file holds.
//
// .icns file, the parts read here (big-endian): 0 'icns', 4 file length; then elements of
// 0 type, 4 length (header included), 8 data. The elements read are the ones holding a PNG (every
// icon made since Mac OS X 10.7 has them); older elements are passed over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct CIcnsPng
{
    uint8_t const* data; // inside the bytes the list was made from
    size_t size;
};

// The PNG elements of the .icns file `bytes`, in file order; none when it isn't one.
std::vector<CIcnsPng> ListIcnsPngElements(std::vector<uint8_t> const& bytes);
