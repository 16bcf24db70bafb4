// The configuration walk: from a configuration file's path down to one image build per image
// element. Each step gives true on success and prints its own messages.
#pragma once

#include "config/XmlTree.h"

// True if the file describes at least one image and every image it describes was built.
bool PerformConfigFile(char const* path);
// True if every child of the document gave true (and there was one).
bool PerformRoot(CXmlTree* tree);
// True if the node is an accepted kilnpack element with at least one image, and every image was
// built; other children draw a warning only.
bool PerformKilnPack(CXmlTree* tree);
// True if the node is a valid image element and its image was built.
bool PerformImage(CXmlTree* tree);
