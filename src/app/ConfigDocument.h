// The configuration walk: from a configuration file's path down to one image build per image
// element, each made with the engine main chose. Each step gives true on success and prints its own
// messages.
#pragma once

#include "config/XmlTree.h"
#include "engine/DiskImageEngine.h"
#include "io/FileSet.h"

// True if the file describes at least one image and every image it describes was built.
bool PerformConfigFile(char const* path, CDiskImageEngine& engine);
// True if every child of the document gave true (and there was one). `run` (may be null) holds
// what the configuration reads and what its images write, for the checks of each output.
bool PerformRoot(CXmlTree* tree, CDiskImageEngine& engine, CRunFiles* run = nullptr);
// True if the node is an accepted kilnpack element with at least one image, and every image was
// built; other children draw a warning only.
bool PerformKilnPack(CXmlTree* tree, CDiskImageEngine& engine, CRunFiles* run = nullptr);
// True if the node is a valid image element and its image was built.
bool PerformImage(CXmlTree* tree, CDiskImageEngine& engine, CRunFiles* run = nullptr);
