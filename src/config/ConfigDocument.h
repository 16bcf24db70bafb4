// The configuration walk: from a configuration file's path down to one image build per image
// element. Each step gives true on success and prints its own messages.
#pragma once

#include "config/XmlTree.h"

// True if at least one image of the file was built.
bool PerformConfigFile(char const* path);
// True if at least one child of the document gave true.
bool PerformRoot(CXmlTree* tree);
// True if the node is an accepted kilnpack element and at least one of its images was built.
bool PerformKilnPack(CXmlTree* tree);
// True if the node is a valid image element and its image was built.
bool PerformImage(CXmlTree* tree);
