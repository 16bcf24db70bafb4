// Builds one compressed disk image from one image element of the configuration.
#pragma once

#include "config/XmlTree.h"
#include "engine/DiskImageEngine.h"

// The engine makes the volume and the image; each image starts from a detached engine and leaves it so.
bool ProcessImage(CDiskImageEngine& engine, CXmlTree* imageTree, char const* file, char const* volumeName,
                  char const* openFolder, int size);
