// Builds one compressed disk image from one image element of the configuration.
#pragma once

#include "config/XmlTree.h"
#include "engine/DiskImageEngine.h"
#include "io/FileSet.h"

// The engine makes the volume and the image; each image starts from a detached engine and leaves it
// so. `run` (may be null): the configuration's files, against which the outputs are checked before
// anything is removed, and in which they are recorded.
bool ProcessImage(CDiskImageEngine& engine, CXmlTree* imageTree, char const* file, char const* volumeName,
                  char const* openFolder, int size, CRunFiles* run = nullptr);
