// Checks on configuration values that become paths inside the volume, so that none reaches
// outside the folder it belongs to.
#pragma once

#include <string>

// One path component: not empty, not "." or "..", without "/".
bool IsSingleComponentName(std::string const& name);

// A relative path (no leading "/") none of whose components is "..". Empty text passes.
bool IsContainedRelativePath(std::string const& path);

// An item's name as its desktop database records name it: the name as the HFS+ volume stores it
// (canonically decomposed, in UTF-8 here), so that the Finder matches the record to the file. A
// ':' stays ':' as in the configuration. A name the volume can't store is returned unchanged.
std::string MakeRecordName(std::string const& name);
