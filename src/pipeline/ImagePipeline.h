// Builds one compressed disk image from one image element of the configuration.
#pragma once

#include "config/XmlTree.h"

bool ProcessImage(CXmlTree* imageTree, char const* file, char const* volumeName, char const* openFolder,
                  int size);
