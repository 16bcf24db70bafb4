// A picture and its double-resolution twin joined into one TIFF of two images, the first at 72 dpi
// and the second at 144 dpi: the form from which the Finder picks the one that suits the screen.
#pragma once

#include "picture/PngPicture.h"

#include <cstdint>
#include <string>
#include <vector>

// The TIFF file's bytes; false with a reason.
bool BuildRetinaTiff(CPngPicture const& single, CPngPicture const& twice, std::vector<uint8_t>* bytes,
                     std::string* error);
