// The preview's reader over a volume that is a folder on disk (the staging folder of a build).
#pragma once

#include "preview/PreviewPicture.h"

#include <string>

// Reads volume paths below `root`. A path that leads out of the folder (through a symbolic link
// or "..") reads as Missing: on the Mac such a link would name the Mac's own files, not these.
CVolumeReader MakeFolderVolumeReader(std::string const& root);
