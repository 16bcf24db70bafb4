// Checks on configuration values that become paths inside the volume, so that none reaches
// outside the folder it belongs to.
#pragma once

#include <string>

// One path component: not empty, not "." or "..", without "/".
bool IsSingleComponentName(std::string const& name);

// A relative path (no leading "/") none of whose components is "..". Empty text passes.
bool IsContainedRelativePath(std::string const& path);
