// A PNG picture of a volume's root window as the Finder will show it, drawn at twice the
// configured size from the configuration and the files copied into the volume.
#pragma once

#include "config/XmlTree.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// How the picture reads the volume: the bytes of the file at a path under the volume root (false
// when there is none or it can't be read; a link is never followed), and whether a path names a folder.
struct CPreviewVolume
{
    std::function<bool(std::string const& path, std::vector<uint8_t>* bytes)> readFile;
    std::function<bool(std::string const& path)> isFolder;
};

// Draws the window of the `image` element whose volume is filled at `volumeRoot` into `pngPath`.
// False with a one-line reason when the picture can't be drawn or written.
bool DrawPreviewPicture(CXmlTree const* imageTree, std::string const& volumeRoot, CPreviewVolume const& volume,
                        std::string const& pngPath, std::string* error);
