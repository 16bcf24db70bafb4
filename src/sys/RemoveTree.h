// Removing a folder tree that this program made, also where parts of it are read-only.
#pragma once

#include <string>

// Makes every folder of the tree writable for its owner (a copy of a read-only source can't be
// emptied otherwise), then removes the tree. Symbolic links are removed, never followed.
bool RemoveTreeForced(std::string const& path, std::string* error);
