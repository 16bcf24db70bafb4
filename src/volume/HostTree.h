// Listing files, folders and links of the host into the volume tree, as a copy takes them: links are
// never followed, hard links become separate files, and every item keeps its source's permission
// bits whatever the umask. File data is not read here: the tree names the source, and the volume
// writer reads it once when it writes the volume.
#pragma once

#include "volume/VolumeTree.h"

#include <string>

// Adds the item at `sourcePath` (a folder with everything in it) to `parent` under `name` and gives
// its index in `added`. Within a folder, entries are listed in byte order of their names. Fails with
// a one-line reason naming the host path on a missing or unreadable item or folder, and on a FIFO,
// socket or device, which no volume can hold ("cannot put PATH on VOLUME: it is a FIFO (named
// pipe)", VOLUME being `volumeDescription`); then nothing is added.
// Links get mode 0755, as volumes store them; files and folders their source's bits (07777).
bool AddHostItem(CVolumeTree* tree, size_t parent, std::string const& name, std::string const& sourcePath,
                 size_t* added, std::string* error, char const* volumeDescription = "an HFS+ volume");

// Fills the tree's root with the contents of the host folder `root` (the root itself keeps mode 0755
// and takes the folder's modification time). An empty `root` leaves the tree as it is.
bool ReadHostTree(std::string const& root, CVolumeTree* tree, std::string* error,
                  char const* volumeDescription = "an HFS+ volume");
