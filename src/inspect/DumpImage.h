// Printing what a user checks in a disk image for "--dump": every desktop database of its volume
// and the volume's Finder facts.
#pragma once

#include "udif/UdifImageReader.h"

#include <cstdint>

// True when the file ends in a UDIF trailer, and so is printed as a disk image.
bool IsDiskImageFile(char const* path);

// Prints the image file's volume; a damaged image prints an error line and returns false.
bool DumpImageFile(char const* path);

// The same for an image read through `read`; errors name the image as `label`.
bool DumpDiskImage(CImageReadAt const& read, uint64_t fileSize, char const* label);
