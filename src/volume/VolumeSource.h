// Reading a copied file's bytes from its source while a volume is written: the source must still be
// the regular file the tree listed, or the volume would hold something nobody planned for.
#pragma once

#include "io/FileDescriptor.h"
#include "volume/VolumeTree.h"

#include <string>

// Opens the source of the tree's file `index` for reading and checks it against the listing: a
// regular file (never a link put in its place) of the item's size, with the modification time it
// had when it was listed. Sets `source` and `path` (the host path, for later messages), or returns
// false with the reason ("… changed while the volume was being written", "cannot read …: …").
bool OpenVolumeSource(CVolumeTree const& tree, size_t index, CFileDescriptor* source, std::string* path,
                      std::string* error);

// Reads the next `size` bytes of a source OpenVolumeSource opened at `path`; false with the reason
// ("cannot read …: …", or "… changed while the volume was being written" when it ends early).
bool ReadVolumeSource(CFileDescriptor const& source, std::string const& path, void* data, size_t size,
                      std::string* error);
