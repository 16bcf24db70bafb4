// Printing what a user checks in a disk image for "--dump": every desktop database of its volume
// and the volume's Finder facts.
#pragma once

#include "udif/UdifImageReader.h"

#include <cstdint>
#include <functional>

// True when the file ends in a UDIF trailer, and so is printed as a disk image.
bool IsDiskImageFile(char const* path);

// Prints the image file's volume; a damaged image prints an error line and returns false.
bool DumpImageFile(char const* path);

// The same for an image read through `read`; errors name the image as `label`. The reading stops,
// with an error, when `stop` says so, or once the image has taken more work than its size allows.
bool DumpDiskImage(CImageReadAt const& read, uint64_t fileSize, char const* label,
                   std::function<bool()> stop = nullptr);
