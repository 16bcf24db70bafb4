// The Finder flags of items on the volume: hidden extension, invisible, custom icon.
#pragma once

#include "config/XmlTree.h"
#include "finder/FinderInfo.h"

#include <cstdint>
#include <string>

// Adds `flags` to the Finder info of the item at `path` (a symbolic link itself, not its target),
// keeping what the Finder info held, with "xattr -s -x -w com.apple.FinderInfo". Prints an error
// and returns false when the command fails.
bool AddFinderFlags(std::string const& path, uint16_t flags);

// Sets the flags an item element asks for with `hide_extension` and `hidden` on the item just made
// at `itemPath`; true when there was nothing to do.
bool ProcessItemFinderFlags(CXmlNode const* itemNode, std::string const& itemPath);
