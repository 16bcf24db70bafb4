// A picture and its double-resolution twin joined into one TIFF of two images, the first at 72 dpi
// and the second at 144 dpi: the form from which the Finder picks the one that suits the screen.
#pragma once

#include "picture/PngPicture.h"

#include <string>

// Writes the TIFF at `path` in one piece (a temporary file renamed into place); false with a reason.
bool WriteRetinaTiff(std::string const& path, CPngPicture const& single, CPngPicture const& twice,
                     std::string* error);
