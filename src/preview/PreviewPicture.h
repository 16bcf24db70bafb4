// A PNG picture of a volume's root window as the Finder will show it, drawn at twice the
// configured size from the configuration and the files copied into the volume.
#pragma once

#include "config/XmlTree.h"

#include <string>

// Draws the window of the `image` element whose volume is filled at `volumeRoot` into `pngPath`.
// False with a one-line reason when the picture can't be drawn or written.
bool DrawPreviewPicture(CXmlTree const* imageTree, std::string const& volumeRoot, std::string const& pngPath,
                        std::string* error);
