// Paths as absolute, tidy text, so that two spellings of one place compare equal.
#pragma once

#include <string>

// `path` taken from the folder kilnpack runs in when relative, with "//" and "/./" folded and no
// trailing "/"; ".." is kept (it may pass through a link). A relative path stays relative only
// when the working folder can't be found.
std::string MakeAbsolutePath(std::string const& path);
