// Builds one compressed disk image from one image element of the configuration.
#pragma once

#include "config/XmlTree.h"
#include "io/FileSet.h"

// `run` (may be null): the configuration's files, against which the outputs are checked before
// anything is removed, and in which they are recorded.
bool ProcessImage(CXmlTree* imageTree, char const* file, char const* volumeName, char const* openFolder,
                  int size, CRunFiles* run = nullptr);
