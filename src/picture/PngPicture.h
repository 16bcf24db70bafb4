// Reading PNG pictures (with libpng) for the background pictures of a view.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct CPngPicture
{
    uint32_t width = 0;
    uint32_t height = 0;
    bool hasAlpha = false;
    std::vector<uint8_t> pixels; // rows top to bottom, 8-bit RGB or RGBA (hasAlpha) samples
};

// The picture's size from its header alone. False with libpng's reason when it isn't a PNG.
bool ReadPngSize(std::string const& path, uint32_t* width, uint32_t* height, std::string* error);

// The whole picture, converted to 8-bit RGB, or RGBA where the picture has transparency.
bool ReadPngPicture(std::string const& path, CPngPicture* picture, std::string* error);
